#include "Keypad.h"

#include "link/MSComm.h"

#include <QTimer>

namespace
{

constexpr int PollIntervalMs = 100;

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

KeyStates keyStates(quint8 status)
{
    const auto down = keysDown(status);
    KeyStates states;
    for (int index = 0; index < KeyCount; ++index) {
        const QString digit = QString(QChar(u'1' + index));
        states[index] = {down[index],
                         digit + (down[index] ? QStringLiteral(" on") : QStringLiteral(" off"))};
    }
    return states;
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

std::optional<KeyStates> receiveKeyStatus(MSComm &port)
{
    if (port.CommEvent() != MSComm::ComEvReceive || port.InBufferCount() == 0)
        return std::nullopt;
    const QByteArray received = port.Input();
    if (received.isEmpty())
        return std::nullopt;
    return keyStates(static_cast<quint8>(received.front()));
}
