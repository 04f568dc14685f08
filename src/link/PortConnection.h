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
    // optPort(0), optPort(1), optBaud(0), optBaud(1), in the order they are switched.
    std::array<QAbstractButton *, 4> options{};
    // cmdClear, cmdBanner, cmdHome, cmdNewLine, cmdRipple, cmdSend, cmdGetKey, cmdPollKey.
    std::array<QAbstractButton *, 8> commands{};

    // The two choices read when the port opens.
    QAbstractButton *optPort0() const { return options[0]; }
    QAbstractButton *optBaud0() const { return options[2]; }
};

namespace ConnectionText
{
inline const QString OpenCaption = QStringLiteral("Open com port");
inline const QString CloseCaption = QStringLiteral("Close com port");
inline const QString ClosedStatus = QStringLiteral("Com port closed");
inline const QString OpenStatus = QStringLiteral("Com port open");
} // namespace ConnectionText

// The settings text for the chosen rate: "2400,N,8,1" or "9600,N,8,1".
QString settingsForRate(bool rate2400Selected);

// What the engineer is told when the toggle fails with a code; empty for codes told nothing.
QString connectionFailureMessage(int code, int portNumber);

// Opens a closed port or closes an open one, and switches the controls to match. A failure
// ends the toggle where it happened and is told through showMessage.
void toggleConnection(MSComm &port, bool &bPolling, const ConnectionControls &controls,
                      const std::function<void(const QString &)> &showMessage);

// Closes the port if it is open; the caller then ends the program.
void closePortForExit(MSComm &port);
