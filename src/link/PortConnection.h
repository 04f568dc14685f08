#pragma once

#include <QString>

#include <array>
#include <functional>

class MSComm;
class QAbstractButton;
class QLabel;

// The controls the connection toggle works on, lent by the window.
struct ConnectionControls {
    QAbstractButton *cmdCom = nullptr;
    QLabel *lblComStatus = nullptr;
    std::array<QAbstractButton *, 2> optPort{};
    std::array<QAbstractButton *, 2> optBaud{};
    QAbstractButton *cmdClear = nullptr;
    QAbstractButton *cmdBanner = nullptr;
    QAbstractButton *cmdHome = nullptr;
    QAbstractButton *cmdNewLine = nullptr;
    QAbstractButton *cmdRipple = nullptr;
    QAbstractButton *cmdSend = nullptr;
    QAbstractButton *cmdGetKey = nullptr;
    QAbstractButton *cmdPollKey = nullptr;
};

namespace ConnectionText
{
inline const QString OpenCaption = QStringLiteral("Open com port");
inline const QString CloseCaption = QStringLiteral("Close com port");
inline const QString ClosedStatus = QStringLiteral("Com port closed");
inline const QString OpenStatus = QStringLiteral("Com port open");
} // namespace ConnectionText

// Which line to open and how: the window's port 1 or 2, or a device named directly (the check's
// --port /dev/ttyUSB0), at 2400 or 9600 baud, 8N1.
struct PortChoice {
    qint16 port = 1;
    QString device; // when not empty, opened in place of the device port stands for
    int rate = 2400;
};

// "2400,N,8,1" or "9600,N,8,1".
QString settingsForRate(int rate);

// Hands the component the settings text, the port number (or the device), a receive threshold
// of 1, and opens the port: the connection toggle's open steps, in their order. A failure
// throws CommError and leaves the port closed.
void openPort(MSComm &port, const PortChoice &choice);

// What the engineer is told when opening port (a number, or a device's name) fails with code;
// empty for codes told nothing.
QString connectionFailureMessage(int code, const QString &port);

// Opens a closed port or closes an open one, and switches the controls to match. A failure
// ends the toggle where it happened and is told through showMessage.
void toggleConnection(MSComm &port, bool &bPolling, const ConnectionControls &controls,
                      const std::function<void(const QString &)> &showMessage);

// Closes the port if it is open; the caller then ends the program.
void closePortForExit(MSComm &port);
