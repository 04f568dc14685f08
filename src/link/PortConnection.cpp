#include "PortConnection.h"

#include "MSComm.h"

#include <QAbstractButton>
#include <QLabel>

namespace
{

// The options can be changed only while the port is closed, the commands used only while it is
// open.
void showPortOpen(const ConnectionControls &controls, bool open)
{
    controls.cmdCom->setText(open ? ConnectionText::CloseCaption : ConnectionText::OpenCaption);
    controls.lblComStatus->setText(open ? ConnectionText::OpenStatus
                                        : ConnectionText::ClosedStatus);
    for (QAbstractButton *option :
         {controls.optPort[0], controls.optPort[1], controls.optBaud[0], controls.optBaud[1]})
        option->setEnabled(!open);
    for (QAbstractButton *command :
         {controls.cmdClear, controls.cmdBanner, controls.cmdHome, controls.cmdNewLine,
          controls.cmdRipple, controls.cmdSend, controls.cmdGetKey, controls.cmdPollKey})
        command->setEnabled(open);
}

void closePort(MSComm &port, const ConnectionControls &controls)
{
    port.setPortOpen(false);
    showPortOpen(controls, false);
}

} // namespace

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

void toggleConnection(MSComm &port, bool &bPolling, const ConnectionControls &controls,
                      const std::function<void(const QString &)> &showMessage)
{
    bPolling = false;
    try {
        if (port.PortOpen())
            closePort(port, controls);
        else {
            openPort(port, {qint16(controls.optPort[0]->isChecked() ? 1 : 2),
                            {},
                            controls.optBaud[0]->isChecked() ? 2400 : 9600});
            showPortOpen(controls, true);
        }
    } catch (const CommError &error) {
        const QString message =
            connectionFailureMessage(error.code(), QString::number(port.CommPort()));
        if (!message.isEmpty())
            showMessage(message);
    }
}

void closePortForExit(MSComm &port)
{
    if (port.PortOpen())
        port.setPortOpen(false);
}
