#include "Pause.h"

#include <QElapsedTimer>
#include <QEventLoop>
#include <QTimer>

#include <algorithm>

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
    using namespace std::chrono;
    if (m_ended)
        return false;

    QElapsedTimer clock;
    clock.start();
    QEventLoop loop;
    // The default coarse timer may fire a few percent early; a pause must never be short.
    QTimer timer;
    timer.setTimerType(Qt::PreciseTimer);
    timer.setSingleShot(true);
    connect(&timer, &QTimer::timeout, &loop, &QEventLoop::quit);

    const auto ended = std::make_shared<bool>(false);
    m_waits.push_back({&loop, ended});

    for (;;) {
        const nanoseconds left = duration - nanoseconds(clock.nsecsElapsed());
        if (left <= nanoseconds::zero())
            break;
        timer.start(std::max(milliseconds(1), ceil<milliseconds>(left)));
        loop.exec();
        if (*ended)
            return false; // this object may be gone
        if (timer.isActive()) {
            // Something other than our timer ended the loop: the application is quitting, and
            // every nested loop now returns at once.
            m_ended = true;
            break;
        }
    }
    m_waits.erase(std::find_if(m_waits.begin(), m_waits.end(),
                               [&loop](const Wait &wait) { return wait.loop == &loop; }));
    return !m_ended;
}
