#include "SentLog.h"

#include "MSComm.h"

#include <QScopeGuard>

#include <algorithm>

namespace
{

constexpr int CutThreshold = 410;
constexpr int KeptLength = 380;
constexpr int EchoPerByte = 3;

QString hexEcho(const QByteArray &bytes)
{
    if (bytes.isEmpty())
        return {};
    // toHex puts the separator only between bytes; the log wants one after each.
    return QString::fromLatin1(bytes.toHex(' ').toUpper()) + QLatin1Char(' ');
}

} // namespace

void SentLog::send(MSComm &port, const QByteArray &deviceString)
{
    m_unlogged = deviceString.size();
    const auto logged = qScopeGuard([this] { m_unlogged = 0; });
    port.setOutput(deviceString);
    // The length is tested before the echo is added, so a log grows past 410 by one echo at most.
    if (m_text.size() >= CutThreshold)
        m_text = m_text.right(KeptLength);
    m_text += hexEcho(deviceString);
}

bool SentLog::dropUnsent(qint64 count)
{
    const qint64 logged = count - m_unlogged;
    if (logged <= 0)
        return false;
    m_text.chop(int(std::min<qint64>(m_text.size(), logged * EchoPerByte)));
    return true;
}
