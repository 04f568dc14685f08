#include "Keypad.h"

#include "common/Shape.h"
#include "link/MSComm.h"

#include <QLabel>
#include <QString>
#include <QTimer>

namespace
{

constexpr int PollIntervalMs = 100;

// How one key indicator shows a key.
struct KeyLook {
    QColor fill;
    QString caption;
};

// How each key indicator shows a status byte.
std::array<KeyLook, KeyCount> decodeKeyStatus(quint8 status)
{
    const auto down = keysDown(status);
    std::array<KeyLook, KeyCount> looks;
    for (int index = 0; index < KeyCount; ++index) {
        const QString digit = QString(QChar(u'1' + index));
        looks[index] = down[index] ? KeyLook{KeyColor::On, digit + QStringLiteral(" on")}
                                   : KeyLook{KeyColor::Off, digit + QStringLiteral(" off")};
    }
    return looks;
}

} // namespace

QByteArray keyStatusRequest()
{
    return QByteArray{} + DeviceCode::Prefix + DeviceCode::KeyStatusCode;
}

std::array<bool, KeyCount> keysDown(quint8 status)
{
    std::array<bool, KeyCount> down{};
    for (int index = 0; index < KeyCount; ++index)
        down[index] = (status & (1u << index)) != 0;
    return down;
}

void getKey(MSComm &port, bool &bPolling, const DeviceSender &send)
{
    bPolling = false;
    port.setInBufferCount(0);
    send(keyStatusRequest());
}

void pollKey(MSComm &port, bool &bPolling, QTimer &tmrPoll, const DeviceSender &send)
{
    port.setInBufferCount(0);
    bPolling = true;
    tmrPoll.setInterval(PollIntervalMs);
    send(keyStatusRequest());
    tmrPoll.start();
}

void pollTick(bool &bPolling, QTimer &tmrPoll, const DeviceSender &send)
{
    if (!bPolling) {
        tmrPoll.stop();
        return;
    }
    try {
        send(keyStatusRequest());
    } catch (...) {
        // A dead port would otherwise fail again every 100 ms: stop before the failure is told.
        bPolling = false;
        tmrPoll.stop();
        throw;
    }
}

void receiveKeyStatus(MSComm &port, const KeyIndicators &indicators)
{
    if (port.CommEvent() != MSComm::ComEvReceive || port.InBufferCount() == 0)
        return;
    const QByteArray received = port.Input();
    if (received.isEmpty())
        return;
    const auto looks = decodeKeyStatus(static_cast<quint8>(received.front()));
    for (int index = 0; index < KeyCount; ++index) {
        indicators.shpKey[index]->setFillColor(looks[index].fill);
        indicators.lblKey[index]->setText(looks[index].caption);
    }
}
