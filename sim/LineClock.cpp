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
    const qint64 carried = elapsedNs * m_baud / (BitsPerByte * NsPerSecond);
    return std::max<qint64>(carried - m_consumed, 0);
}

void LineClock::consume(qint64 count)
{
    m_consumed += count;
    // Keeps the products here and in bytesDue() far from overflow: the line's users restart an
    // idle clock, and a busy one consumes, so its start is never more than a rebase behind.
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
