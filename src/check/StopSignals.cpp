#include "StopSignals.h"

#include "LineSession.h"

#include <QCoreApplication>

#ifdef Q_OS_WIN
#include <csignal>
#include <qt_windows.h>
#else
#include "SignalWatcher.h"
#endif

#ifdef Q_OS_WIN
namespace
{

// The console calls its handler on a thread of its own, with nothing of ours: the session is
// found on the main thread, as the application's child.
BOOL WINAPI onConsoleControl(DWORD event)
{
    QCoreApplication *application = QCoreApplication::instance();
    if (!application)
        return FALSE;
    const int signalNumber = event == CTRL_C_EVENT ? SIGINT : SIGTERM;
    QMetaObject::invokeMethod(
        application,
        [application, signalNumber] {
            if (auto *session = application->findChild<LineSession *>())
                session->stop(signalNumber);
        },
        Qt::QueuedConnection);
    return TRUE;
}

} // namespace

StopSignals::StopSignals() = default;

StopSignals::~StopSignals() = default;

void StopSignals::watch(LineSession &)
{
    ::SetConsoleCtrlHandler(onConsoleControl, TRUE);
}

#else

StopSignals::StopSignals() : m_watcher(std::make_unique<SignalWatcher>()) {}

StopSignals::~StopSignals() = default;

void StopSignals::watch(LineSession &session)
{
    QObject::connect(m_watcher.get(), &SignalWatcher::terminationRequested, &session,
                     &LineSession::stop);
    m_watcher->start();
}

#endif
