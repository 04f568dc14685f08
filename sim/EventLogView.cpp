#include "EventLogView.h"

#include "Guarded.h"

#include <QFontDatabase>

namespace
{

constexpr int FlushIntervalMs = 50;

} // namespace

EventLogView::EventLogView(QWidget *parent) : QPlainTextEdit(parent)
{
    setReadOnly(true);
    setMaximumBlockCount(MaxLines);
    setLineWrapMode(QPlainTextEdit::NoWrap);
    setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    m_flushTimer.setSingleShot(true);
    m_flushTimer.setInterval(FlushIntervalMs);
    connect(&m_flushTimer, &QTimer::timeout, this,
            [this] { runGuarded("showing the log", [this] { flush(); }); });
}

void EventLogView::appendLine(const QString &line)
{
    m_pending.append(line);
    // Once lines are skipped, the notice takes one of the kept lines, or the block limit would
    // evict it as soon as it is shown.
    if (m_pending.size() > MaxLines - (m_skipped > 0 ? 1 : 0)) {
        const qsizetype excess = m_pending.size() - (MaxLines - 1);
        m_skipped += int(excess);
        m_pending.remove(0, excess);
    }
    if (!m_flushTimer.isActive())
        m_flushTimer.start();
}

void EventLogView::flush()
{
    if (m_skipped > 0)
        appendPlainText(tr("... %n line(s) not shown", nullptr, m_skipped));
    appendPlainText(m_pending.join(QLatin1Char('\n')));
    m_pending.clear();
    m_skipped = 0;
}
