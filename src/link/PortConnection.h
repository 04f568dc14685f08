#pragma once

#include <QString>

#include <optional>

class MSComm;

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

// What the window shows after a click of the toggle.
struct ToggleResult {
    // The port's state, for the captions and enabled controls; none when a step failed and the
    // controls stay as they were.
    std::optional<bool> nowOpen;
    // For the message box; empty when the failure is told nothing.
    QString message;
};

// Clears bPolling, then opens a closed port on choice or closes an open one. A CommError ends
// the toggle where it happened and comes back as the result's message.
ToggleResult toggleConnection(MSComm &port, bool &bPolling, const PortChoice &choice);

// Closes the port if it is open; the caller then ends the program.
void closePortForExit(MSComm &port);
