#pragma once

#include "DeviceCodes.h"

#include <QColor>

#include <array>

class MSComm;
class QLabel;
class QTimer;
class Shape;

constexpr int KeyCount = 6;

// The six key indicators lent by the window: lblKey(i) stands above shpKey(i).
struct KeyIndicators {
    const std::array<Shape *, KeyCount> &shpKey;
    const std::array<QLabel *, KeyCount> &lblKey;
};

namespace KeyColor
{
inline const QColor On = QColor(255, 0, 0);
inline const QColor Off = QColor(0, 255, 0);
} // namespace KeyColor

// 0xFE 0xF0: asks the unit for its key-status byte.
QByteArray keyStatusRequest();

// Which keys a status byte shows down: bit i is key i + 1; bits 6 and 7 mean nothing.
std::array<bool, KeyCount> keysDown(quint8 status);

// Get Key: stop polling, empty the receive buffer, ask once.
void getKey(MSComm &port, bool &bPolling, const DeviceSender &send);

// Poll Key: empty the receive buffer, ask at once, then at every tick of tmrPoll.
void pollKey(MSComm &port, bool &bPolling, QTimer &tmrPoll, const DeviceSender &send);

// A tick of tmrPoll: ask again while polling, otherwise switch the timer off.
void pollTick(bool &bPolling, QTimer &tmrPoll, const DeviceSender &send);

// A communication event: decode the first waiting byte, drop the rest.
void receiveKeyStatus(MSComm &port, const KeyIndicators &indicators);
