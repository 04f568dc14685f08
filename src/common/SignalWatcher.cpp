#include "SignalWatcher.h"

#include "Guarded.h"

#include <QSocketNotifier>

#include <signal.h>
#include <sys/signalfd.h>

SignalWatcher::SignalWatcher(QObject *parent) : QObject(parent)
{
    sigset_t watched;
    sigemptyset(&watched);
    sigaddset(&watched, SIGINT);
    sigaddset(&watched, SIGTERM);
    sigaddset(&watched, SIGHUP);
    m_signalFd.reset(::signalfd(-1, &watched, SFD_NONBLOCK | SFD_CLOEXEC));
    // Without the descriptor the signals keep their default action rather than being lost.
    // The mask stays for the life of the process: a signal left pending at exit must not
    // kill it halfway through cleaning up.
    if (m_signalFd.isValid())
        ::pthread_sigmask(SIG_BLOCK, &watched, nullptr);
    else
        qWarning("cannot watch termination signals; links will not be removed on a signal");
}

void SignalWatcher::start()
{
    if (!m_signalFd.isValid() || m_notifier)
        return;
    m_notifier = new QSocketNotifier(m_signalFd.get(), QSocketNotifier::Read, this);
    connect(m_notifier, &QSocketNotifier::activated, this,
            [this] { runGuarded("watching signals", [this] { onReadable(); }); });
}

void SignalWatcher::onReadable()
{
    signalfd_siginfo info{};
    while (::read(m_signalFd.get(), &info, sizeof info) == static_cast<ssize_t>(sizeof info))
        emit terminationRequested(static_cast<int>(info.ssi_signo));
}
