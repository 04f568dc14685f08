#include "Transmit.h"

#include "MSComm.h"

#include <QPlainTextEdit>

#include <algorithm>

QString hexEcho(const QByteArray &bytes)
{
    if (bytes.isEmpty())
        return {};
    // toHex puts the separator only between bytes; the log wants one after each.
    return QString::fromLatin1(bytes.toHex(' ').toUpper()) + QLatin1Char(' ');
}

QString appendToSentLog(const QString &log, const QString &echo)
{
    if (log.size() < SentLog::CutThreshold)
        return log + echo;
    return log.right(SentLog::KeptLength) + echo;
}

QString withoutDroppedEcho(const QString &log, qint64 droppedBytes)
{
    return log.chopped(int(std::min<qint64>(log.size(), droppedBytes * 3)));
}

void sendToDevice(MSComm &port, QPlainTextEdit &txtSent, const QByteArray &deviceString)
{
    port.setOutput(deviceString);
    txtSent.setPlainText(appendToSentLog(txtSent.toPlainText(), hexEcho(deviceString)));
}
