#include "PortConnection.h"

#include "MSComm.h"

QString settingsForRate(int rate)
{
    return QStringLiteral("%1,N,8,1").arg(rate);
}

void openPort(MSComm &port, const PortChoice &choice)
{
    port.setSettings(settingsForRate(choice.rate));
    port.setCommPort(choice.port);
    port.setDeviceName(choice.device);
    port.setRThreshold(1);
    port.setPortOpen(true);
}

QString connectionFailureMessage(int code, const QString &port)
{
    switch (code) {
    case CommErrorCode::PortInUse:
        return QStringLiteral("Port %1 already in use!").arg(port);
    case CommErrorCode::InvalidPortNumber:
        return QStringLiteral("Port %1 doesn't exist!").arg(port);
    default:
        return {};
    }
}

ToggleResult toggleConnection(MSComm &port, bool &bPolling, const PortChoice &choice)
{
    bPolling = false;
    try {
        const bool open = !port.PortOpen();
        if (open)
            openPort(port, choice);
        else
            port.setPortOpen(false);
        return {open, {}};
    } catch (const CommError &error) {
        return {std::nullopt,
                connectionFailureMessage(error.code(), QString::number(port.CommPort()))};
    }
}

void closePortForExit(MSComm &port)
{
    if (port.PortOpen())
        port.setPortOpen(false);
}
