#include "Transmit.h"

#include "MSComm.h"

#include <QPlainTextEdit>

#include <algorithm>

QString hexEcho(const QByteArray &bytes)
{
    static constexpr char Digits[] = "0123456789ABCDEF";
    QString echo;
    echo.reserve(bytes.size() * 3);
    for (const char byte : bytes) {
        const auto value = static_cast<unsigned char>(byte);
        echo += QLatin1Char(Digits[value >> 4]);
        echo += QLatin1Char(Digits[value & 0x0F]);
        echo += QLatin1Char(' ');
    }
    return echo;
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
