#pragma once

#include "DeviceCodes.h"

#include <QString>

class Pause;

QByteArray clearCommand();
QByteArray homeCommand();
QByteArray newLineCommand();
// Clear, the web address on line 1, new line, "  Test utility" on line 2: 32 bytes.
QByteArray bannerCommand();

// Clear, Home, NewLine and Banner: stop polling, then send their one string.
void sendDisplayCommand(bool &bPolling, const DeviceSender &send, const QByteArray &command);

// Sends the text of txtSend as typed, each character as its 8-bit code or '?'; an empty text
// sends nothing.
void sendText(bool &bPolling, const DeviceSender &send, const QString &text);

// Runs the ripple, letting the window's events run in its pauses. When the program ends during
// a pause it returns at once, touching nothing more.
void ripple(bool &bPolling, const DeviceSender &send, Pause &pause);
