#include "SentLog.h"

#include "MSComm.h"

#include <QPlainTextEdit>
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
    const QString log = m_txtSent.toPlainText();
    // The length is tested before the echo is added, so a log grows past 410 by one echo at most.
    m_txtSent.setPlainText((log.size() < CutThreshold ? log : log.right(KeptLength)) +
                           hexEcho(deviceString));
}

void SentLog::dropUnsent(qint64 count)
{
    const qint64 logged = count - m_unlogged;
    if (logged <= 0)
        return;
    const QString log = m_txtSent.toPlainText();
    m_txtSent.setPlainText(log.chopped(int(std::min<qint64>(log.size(), logged * EchoPerByte))));
}
