#pragma once

#include "FdHandle.h"

#include <QObject>

class QSocketNotifier;

// Turns SIGINT, SIGTERM and SIGHUP into a Qt signal, through a signalfd, so that shutdown runs
// in the event loop and destructors clean up. Construct it before the application object:
// blocking the signals then also covers the threads Qt starts.
class SignalWatcher : public QObject
{
    Q_OBJECT

public:
    explicit SignalWatcher(QObject *parent = nullptr);

    // Needs the event dispatcher, so call it once the application object exists.
    void start();

signals:
    void terminationRequested(int signalNumber);

private:
    void onReadable();

    FdHandle m_signalFd;
    QSocketNotifier *m_notifier = nullptr;
};
