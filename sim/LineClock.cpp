#include "LineClock.h"

#include <algorithm>

namespace
{

// A line carries exactly `baud` bytes in this many seconds, so rebasing by it stays exact.
constexpr qint64 RebaseSeconds = LineClock::BitsPerByte;

} // namespace

void LineClock::restart(qint64 nowNs, int baud)
{
    m_startNs = nowNs;
    m_baud = std::max(baud, 1);
    m_consumed = 0;
}

qint64 LineClock::bytesDue(qint64 nowNs) const
{
    const qint64 elapsedNs = std::max<qint64>(nowNs - m_startNs, 0);
    // Wide arithmetic: a clock nobody consumes from may run for days.
    const auto carried = static_cast<qint64>(static_cast<long double>(elapsedNs) * m_baud /
                                             (BitsPerByte * NsPerSecond));
    return std::max<qint64>(carried - m_consumed, 0);
}

void LineClock::consume(qint64 count)
{
    m_consumed += count;
    // Keep the products in bytesDue() far from overflow during a long flood.
    while (m_consumed >= m_baud) {
        m_startNs += RebaseSeconds * NsPerSecond;
        m_consumed -= m_baud;
    }
}

qint64 LineClock::nsUntilNextByte(qint64 nowNs) const
{
    const qint64 bits = (m_consumed + 1) * BitsPerByte * NsPerSecond;
    const qint64 completesAtNs = m_startNs + (bits + m_baud - 1) / m_baud;
    return std::max<qint64>(completesAtNs - nowNs, 0);
}
