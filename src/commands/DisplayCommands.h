#pragma once

#include "DeviceCodes.h"

#include <QString>
#include <QVector>

class Pause;
class QLineEdit;

QByteArray clearCommand();
QByteArray homeCommand();
QByteArray newLineCommand();
// Clear, the web address on line 1, new line, "  Test utility" on line 2: 32 bytes.
QByteArray bannerCommand();

// The bytes typed text stands for: each character's code, or '?' where it has no 8-bit code.
QByteArray deviceStringFromText(const QString &text);

// One write of the ripple, and whether the ripple pauses after it.
struct RippleStep {
    QByteArray bytes;
    bool pauseAfter = false;
};
// Fills both lines with blocks one position at a time, then blanks them the same way.
QVector<RippleStep> rippleSteps();

// Clear, Home, NewLine and Banner: stop polling, then send their one string.
void sendDisplayCommand(bool &bPolling, const DeviceSender &send, const QByteArray &command);

// Sends the text of txtSend as typed; an empty box sends nothing.
void sendText(bool &bPolling, const DeviceSender &send, const QLineEdit &txtSend);

// Runs the ripple, letting the window's events run in its pauses. Returns false when it was
// cut short because the program is ending: the caller must then touch nothing more.
bool ripple(bool &bPolling, const DeviceSender &send, Pause &pause);
