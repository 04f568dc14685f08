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
    if (m_pending.size() > MaxLines) {
        m_skipped += m_pending.size() - MaxLines;
        m_pending.remove(0, m_pending.size() - MaxLines);
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
