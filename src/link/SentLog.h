#pragma once

#include <QByteArray>
#include <QString>

#include <utility>

class MSComm;

// The transmit routine and the sent-data log it keeps: two upper-case hex digits and a space for
// each byte sent, oldest first. A log of 410 characters or more is cut to its last 380 before
// the next echo is added. The window shows text() in txtSent.
class SentLog
{
public:
    // The log starts as the box's initial text.
    explicit SentLog(QString text = {}) : m_text(std::move(text)) {}

    // Writes the device string to the port in one write, then echoes it into the log. A failed
    // write throws CommError and leaves the log as it was.
    void send(MSComm &port, const QByteArray &deviceString);

    // The last count bytes handed to the port never went out: their echo comes off the log.
    // False when none of them had been logged, and the log is as it was.
    bool dropUnsent(qint64 count);

    const QString &text() const { return m_text; }

private:
    QString m_text;
    // Bytes of a write in progress, not yet in the log: a failure during it does not drop them.
    qint64 m_unlogged = 0;
};
