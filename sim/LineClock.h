#pragma once

#include <QtGlobal>

// Counts the bytes a serial line at a given speed has carried since it started, at 10 bits a
// byte (start bit, 8 data bits, stop bit). Time is passed in, so the arithmetic is testable.
class LineClock
{
public:
    static constexpr int BitsPerByte = 10;
    static constexpr qint64 NsPerSecond = 1'000'000'000;

    void restart(qint64 nowNs, int baud);
    int baud() const { return m_baud; }

    // Bytes whose transfer has completed and that have not been consumed yet.
    qint64 bytesDue(qint64 nowNs) const;
    void consume(qint64 count);
    // Time until the next unconsumed byte completes; 0 if one is already due.
    qint64 nsUntilNextByte(qint64 nowNs) const;

private:
    qint64 m_startNs = 0;
    int m_baud = 9600;
    qint64 m_consumed = 0;
};
