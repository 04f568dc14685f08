#pragma once

#include <QObject>

#include <memory>

class LineSession;

// Ctrl+C and SIGTERM (on Windows the console's Ctrl+C and close) stop a session at its next
// wait, so that its result is still written. On Windows the session must be a child of the
// application object. Construct it before the application object: on
// Linux the signals are then blocked in every thread Qt starts.
class StopSignals
{
public:
    StopSignals();
    ~StopSignals();
    StopSignals(const StopSignals &) = delete;
    StopSignals &operator=(const StopSignals &) = delete;

    // Once the application object exists.
    void watch(LineSession &session);

private:
#ifndef Q_OS_WIN
    std::unique_ptr<class SignalWatcher> m_watcher;
#endif
};
