#pragma once

#include "DeviceCodes.h"

#include <QString>

#include <array>
#include <optional>

class MSComm;
class QTimer;

constexpr int KeyCount = 6;

// How one key indicator shows its key: on or off, and its caption, e.g. "3 on" or "6 off".
struct KeyState {
    bool on = false;
    QString caption;
};
using KeyStates = std::array<KeyState, KeyCount>;

// 0xFE 0xF0: asks the unit for its key-status byte.
QByteArray keyStatusRequest();

// Which keys a status byte shows down: bit i is key i + 1; bits 6 and 7 mean nothing.
std::array<bool, KeyCount> keysDown(quint8 status);

// What the six indicators show for a status byte, in key order.
KeyStates keyStates(quint8 status);

// Get Key: stop polling, empty the receive buffer, ask once.
void getKey(MSComm &port, bool &bPolling, const DeviceSender &send);

// Poll Key: empty the receive buffer, ask at once, then at every tick of tmrPoll.
void pollKey(MSComm &port, bool &bPolling, QTimer &tmrPoll, const DeviceSender &send);

// A tick of tmrPoll: ask again while polling, otherwise switch the timer off.
void pollTick(bool &bPolling, QTimer &tmrPoll, const DeviceSender &send);

// A communication event: decodes the first waiting byte and drops the rest. None when the event
// is of another kind or finds no byte waiting: the indicators then stay as they are.
std::optional<KeyStates> receiveKeyStatus(MSComm &port);
