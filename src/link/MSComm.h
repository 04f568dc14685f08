#pragma once

#include "CommError.h"
#include "LineTrace.h"

#include <QByteArray>
#include <QObject>
#include <QSerialPort>
#include <QString>

#include <memory>
#include <utility>

class QSocketNotifier;

// The serial port component of the main window. Its members follow the names the engineers'
// documentation uses for the port control (PortOpen, CommPort, Settings, ...); a failure of any
// of them throws CommError with a numeric code. Backed by QSerialPort.
class MSComm : public QObject
{
    Q_OBJECT

public:
    // Kinds of event reported by CommEvent().
    static constexpr qint16 ComEvReceive = 2;

    explicit MSComm(QObject *parent = nullptr);
    ~MSComm() override;

    bool PortOpen() const { return m_portOpen; }
    // true opens the port with the current port number and settings, false closes it.
    void setPortOpen(bool open);

    qint16 CommPort() const { return m_commPort; }
    void setCommPort(qint16 port);

    // A device named directly (a path, or COM5), opened in place of the one CommPort stands
    // for; empty goes back to CommPort.
    void setDeviceName(const QString &name);
    // The device the next open uses, or the open port uses.
    QString deviceName() const;

    // Only "<rate>,N,8,1" with a standard rate is accepted.
    void setSettings(const QString &settings);

    void setRThreshold(qint16 threshold);

    // Writes every byte of the string, in order, in one write.
    void setOutput(const QByteArray &bytes);

    qint16 InBufferCount() const;
    // Bytes handed to the port that have not left it yet.
    qint64 OutBufferCount() const { return m_portOpen ? unsentOutput() : 0; }
    // Only 0 is meaningful: every waiting byte is discarded.
    void setInBufferCount(qint16 count);

    // All waiting bytes, oldest first; they leave the buffer.
    QByteArray Input();

    qint16 CommEvent() const { return m_commEvent; }

    // The device a port number stands for: KV310_COM1 / KV310_COM2 when set, else the
    // platform's first or second serial port.
    static QString devicePathForPort(int port);

    // Every byte written and received from now on, and what happens to the line, go to trace;
    // nullptr stops tracing. Shared, as whoever opened the file may keep it too.
    void setTrace(std::shared_ptr<LineTrace> trace) { m_trace = std::move(trace); }

signals:
    // Raised on the owner's thread whenever received bytes are waiting (threshold 1 or more).
    void OnComm();
    // The last count bytes handed to the port never reached the device: the port was closed,
    // or the device went, before they left. A write that fails counts its own bytes too.
    void outputDropped(qint64 count);

private:
    void onReadyRead();
    void onErrorOccurred(QSerialPort::SerialPortError error);
    void onHangUp();
    void closeDevice();
    void fail(const QString &reason);
    void stopListening();
    void throwIfUnusable() const;
    // Bytes handed to the port and not yet gone: queued here or held by the driver.
    qint64 unsentOutput() const;
    // Traces the received bytes waiting that the trace has not seen yet.
    void traceArrivals();
    // Reads and traces what the driver holds, for a discard; how many bytes that was.
    qint64 drainTraced();
    void note(const QString &text) const;
    void dropOutput(qint64 count, const QString &reason);

    QSerialPort m_serial;
    // Tells of the line hanging up (device unplugged), which no QSerialPort signal reports on
    // Qt 6.8; unused where QSerialPort's handle is no file descriptor.
    std::unique_ptr<QSocketNotifier> m_hangUpWatch;
    bool m_portOpen = false;
    qint16 m_commPort = 1;
    QString m_deviceName;
    qint32 m_baudRate = 9600;
    qint16 m_rThreshold = 0;
    qint16 m_commEvent = 0;
    // Why the open port can no longer be used (device gone, write error); empty while healthy.
    QString m_failure;
    std::shared_ptr<LineTrace> m_trace;
    // How many of the bytes waiting, oldest first, the trace has seen.
    qint64 m_tracedWaiting = 0;
};
