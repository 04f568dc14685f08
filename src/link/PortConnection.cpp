#include "PortConnection.h"

#include "MSComm.h"

#include <QAbstractButton>
#include <QLabel>

QString settingsForRate(bool rate2400Selected)
{
    return rate2400Selected ? QStringLiteral("2400,N,8,1") : QStringLiteral("9600,N,8,1");
}

QString connectionFailureMessage(int code, int portNumber)
{
    switch (code) {
    case CommErrorCode::PortInUse:
        return QStringLiteral("Port %1 already in use!").arg(portNumber);
    case CommErrorCode::InvalidPortNumber:
        return QStringLiteral("Port %1 doesn't exist!").arg(portNumber);
    default:
        return {};
    }
}

namespace
{

template <std::size_t N>
void setAllEnabled(const std::array<QAbstractButton *, N> &buttons, bool enabled)
{
    for (QAbstractButton *button : buttons)
        button->setEnabled(enabled);
}

void closePort(MSComm &port, const ConnectionControls &controls)
{
    port.setPortOpen(false);
    controls.cmdCom->setText(ConnectionText::OpenCaption);
    controls.lblComStatus->setText(ConnectionText::ClosedStatus);
    setAllEnabled(controls.options, true);
    setAllEnabled(controls.commands, false);
}

void openPort(MSComm &port, const ConnectionControls &controls)
{
    const QString settings = settingsForRate(controls.optBaud0()->isChecked());
    const QString portText =
        controls.optPort0()->isChecked() ? QStringLiteral("1") : QStringLiteral("2");
    port.setSettings(settings);
    port.setCommPort(static_cast<qint16>(portText.toShort()));
    port.setRThreshold(1);
    port.setPortOpen(true);
    controls.cmdCom->setText(ConnectionText::CloseCaption);
    controls.lblComStatus->setText(ConnectionText::OpenStatus);
    setAllEnabled(controls.options, false);
    setAllEnabled(controls.commands, true);
}

} // namespace

void toggleConnection(MSComm &port, bool &bPolling, const ConnectionControls &controls,
                      const std::function<void(const QString &)> &showMessage)
{
    bPolling = false;
    try {
        if (port.PortOpen())
            closePort(port, controls);
        else
            openPort(port, controls);
    } catch (const CommError &error) {
        const QString message = connectionFailureMessage(error.code(), port.CommPort());
        if (!message.isEmpty())
            showMessage(message);
    }
}

void closePortForExit(MSComm &port)
{
    if (port.PortOpen())
        port.setPortOpen(false);
}
