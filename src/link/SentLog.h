#pragma once

#include <QByteArray>

class MSComm;
class QPlainTextEdit;

// The transmit routine and the sent-data log it keeps in txtSent: two upper-case hex digits and
// a space for each byte sent, oldest first. A log of 410 characters or more is cut to its last
// 380 before the next echo is added.
class SentLog
{
public:
    explicit SentLog(QPlainTextEdit &txtSent) : m_txtSent(txtSent) {}

    // Writes the device string to the port in one write, then echoes it into the log. A failed
    // write throws CommError and leaves the log as it was.
    void send(MSComm &port, const QByteArray &deviceString);

    // The last count bytes handed to the port never went out: their echo comes off the log.
    void dropUnsent(qint64 count);

private:
    QPlainTextEdit &m_txtSent;
    // Bytes of a write in progress, not yet in the log: a failure during it does not drop them.
    qint64 m_unlogged = 0;
};
