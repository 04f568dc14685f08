#include "WindowHarness.h"

#include <QDeadlineTimer>

Deadline::Deadline(const char *what, int ms)
{
    m_timer.setSingleShot(true);
    QObject::connect(&m_timer, &QTimer::timeout,
                     [what, ms] { qFatal("%s has not returned after %d s", what, ms / 1000); });
    m_timer.start(ms);
}

LineTap::LineTap(PtyPair &line, qsizetype count, const std::function<void()> &then)
    : m_notifier(line.masterFd(), QSocketNotifier::Read)
{
    QObject::connect(&m_notifier, &QSocketNotifier::activated, &m_notifier,
                     [this, &line, count, then] {
                         const bool wasShort = bytes.size() < count;
                         bytes += line.readWaiting();
                         if (wasShort && bytes.size() >= count)
                             then();
                     });
}

bool WindowHarness::click(const QString &name)
{
    auto *button = control(name);
    if (!button || !button->isEnabled())
        return false;
    const QByteArray what = "the click of " + name.toLatin1();
    const Deadline deadline(what.constData());
    QTest::mouseClick(button, Qt::LeftButton);
    return true;
}

QByteArray WindowHarness::wire(qsizetype count)
{
    QByteArray bytes = m_line.readWaiting();
    for (const QDeadlineTimer deadline(10000); bytes.size() < count && !deadline.hasExpired();) {
        QTest::qWait(2);
        bytes += m_line.readWaiting();
    }
    return bytes;
}

void WindowTestCase::init()
{
    m_harness = std::make_unique<WindowHarness>();
    m_harness->window().show();
    m_harness->window().activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&m_harness->window()));
}
