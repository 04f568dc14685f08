#pragma once

#include "FdHandle.h"
#include "LineClock.h"

#include <QByteArray>
#include <QElapsedTimer>
#include <QObject>
#include <QString>
#include <QTimer>

class QSocketNotifier;

// The unit's end of the serial line: the master side of a pseudo-terminal whose slave the
// utility opens as its serial port. With pacing, bytes cross in each direction no faster than
// the speed the utility set on the slave, and unread bytes stay in the kernel, which then holds
// the writer back as a real line would.
class PtyEndpoint : public QObject
{
    Q_OBJECT

public:
    enum class Pacing { LineRate, Off };

    // Used for pacing until the utility sets a speed the simulator knows.
    static constexpr int DefaultBaud = 9600;

    explicit PtyEndpoint(Pacing pacing, QObject *parent = nullptr);

    bool open();
    QString errorString() const { return m_errorString; }

    QString slavePath() const { return m_slavePath; }
    // The speed set on the slave's termios, 0 when it is not a known rate (or hung up).
    int lineSpeed() const { return m_lineSpeed; }
    Pacing pacing() const { return m_pacing; }

    void send(const QByteArray &bytes);

signals:
    void received(const QByteArray &bytes);
    void sent(const QByteArray &bytes);
    void lineSpeedChanged(int baud);

private:
    bool fail(const QString &what);
    void onReadable();
    void onReceiveTick();
    void onSendTick();
    void scheduleReceive();
    void scheduleSend();
    // Reads at most maxBytes; returns how many arrived, or -1 if the line is hung up.
    qint64 readUpTo(qint64 maxBytes);
    void writeNow(const QByteArray &bytes);
    void waitAfterHangUp();
    void refreshLineSpeed();
    int pacingBaud() const { return m_lineSpeed > 0 ? m_lineSpeed : DefaultBaud; }
    qint64 nowNs() const { return m_monotonic.nsecsElapsed(); }

    const Pacing m_pacing;
    FdHandle m_master;
    // Held so the master never sees a hang-up while the utility closes and reopens the port.
    FdHandle m_slave;
    QString m_slavePath;
    QString m_errorString;
    int m_lineSpeed = 0;

    QSocketNotifier *m_readNotifier = nullptr;
    QElapsedTimer m_monotonic;
    LineClock m_receiveClock;
    LineClock m_sendClock;
    QByteArray m_sendQueue;
    QTimer m_receiveTimer;
    QTimer m_sendTimer;
    QTimer m_hangUpRetryTimer;
    QTimer m_speedPollTimer;
};
