#pragma once

#include <QByteArray>
#include <QString>

class MSComm;
class QPlainTextEdit;

namespace SentLog
{
// A log this long or longer is cut before the next echo is added...
constexpr int CutThreshold = 410;
// ...down to this many characters, counted from its end.
constexpr int KeptLength = 380;
} // namespace SentLog

// Two upper-case hex digits and a space for each byte: {0xFE, 0x80} gives "FE 80 ".
QString hexEcho(const QByteArray &bytes);

// The log's new text after sending bytes whose echo is given.
QString appendToSentLog(const QString &log, const QString &echo);

// The log's text once the last droppedBytes bytes it echoes are known never to have been sent.
QString withoutDroppedEcho(const QString &log, qint64 droppedBytes);

// Writes the device string to the port in one write, then echoes it into the sent-data log.
// A failed write throws CommError and leaves the log as it was.
void sendToDevice(MSComm &port, QPlainTextEdit &txtSent, const QByteArray &deviceString);
