#include "Pause.h"

#include <QEventLoop>
#include <QSocketNotifier>
#include <QTimer>

#include <algorithm>
#include <thread>

#ifdef Q_OS_LINUX
#include <sys/timerfd.h>
#include <unistd.h>
#endif

namespace
{

using Clock = std::chrono::steady_clock;

// Elsewhere the timer is set this much early, and the last stretch is waited out on the spot.
constexpr std::chrono::milliseconds EarlyBy{2};

// Ends a loop once a given moment has come, never before it. A QTimer rounds every wait up to
// whole milliseconds and wakes late besides (about 1.5 ms a pause under Wine), which over a
// ripple's 68 pauses adds a tenth of a second; on Linux a timerfd wakes the loop at the moment
// itself.
class Alarm
{
public:
    Alarm(QEventLoop &loop, Clock::time_point when)
    {
        const auto ring = [this, &loop, when] {
            while (Clock::now() < when)
                std::this_thread::yield();
            m_rung = true;
            if (m_notifier)
                m_notifier->setEnabled(false);
            loop.quit();
        };
#ifdef Q_OS_LINUX
        // steady_clock is CLOCK_MONOTONIC.
        m_fd = timerfd_create(CLOCK_MONOTONIC, TFD_NONBLOCK | TFD_CLOEXEC);
        if (m_fd >= 0) {
            using namespace std::chrono;
            const nanoseconds since = when.time_since_epoch();
            itimerspec setting{};
            setting.it_value.tv_sec = duration_cast<seconds>(since).count();
            setting.it_value.tv_nsec = (since % seconds(1)).count();
            if (timerfd_settime(m_fd, TFD_TIMER_ABSTIME, &setting, nullptr) == 0) {
                m_notifier = std::make_unique<QSocketNotifier>(m_fd, QSocketNotifier::Read);
                QObject::connect(m_notifier.get(), &QSocketNotifier::activated, &loop, ring);
                return;
            }
        }
#endif
        m_timer.setTimerType(Qt::PreciseTimer);
        m_timer.setSingleShot(true);
        QObject::connect(&m_timer, &QTimer::timeout, &loop, ring);
        m_timer.start(
            std::max(std::chrono::milliseconds::zero(),
                     std::chrono::floor<std::chrono::milliseconds>(when - Clock::now()) - EarlyBy));
    }
    ~Alarm()
    {
        m_notifier.reset();
#ifdef Q_OS_LINUX
        if (m_fd >= 0)
            ::close(m_fd);
#endif
    }
    Alarm(const Alarm &) = delete;
    Alarm &operator=(const Alarm &) = delete;

    bool hasRung() const
    {
        return m_rung;
    }

private:
    bool m_rung = false;
    int m_fd = -1;
    std::unique_ptr<QSocketNotifier> m_notifier;
    QTimer m_timer;
};

} // namespace

Pause::Pause(QObject *parent) : QObject(parent) {}

Pause::~Pause()
{
    end();
}

void Pause::end()
{
    m_ended = true;
    for (const Wait &wait : m_waits) {
        *wait.ended = true;
        wait.loop->quit();
    }
    // Each wait learns of its end through its own flag, without touching this object again.
    m_waits.clear();
}

bool Pause::wait(std::chrono::milliseconds duration)
{
    if (m_ended)
        return false;
    if (duration <= std::chrono::milliseconds::zero())
        return true;
    const Clock::time_point deadline = Clock::now() + duration;

    QEventLoop loop;
    const Alarm alarm(loop, deadline);
    const auto ended = std::make_shared<bool>(false);
    m_waits.push_back({&loop, ended});
    loop.exec();
    if (*ended)
        return false; // this object may be gone
    // Something other than the alarm ended the loop: the application is quitting, and every
    // nested loop now returns at once.
    if (!alarm.hasRung())
        m_ended = true;
    m_waits.erase(std::find_if(m_waits.begin(), m_waits.end(),
                               [&loop](const Wait &wait) { return wait.loop == &loop; }));
    return !m_ended;
}
