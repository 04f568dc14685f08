#include "LineProcess.h"

#include <QDeadlineTimer>
#include <QEventLoop>
#include <QTimer>

LineProcess::LineProcess(const QString &program, const QStringList &arguments)
{
    m_process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    QObject::connect(&m_process, &QProcess::readyReadStandardOutput, &m_process,
                     [this] { readLines(); });
    m_process.start(program, arguments);
}

LineProcess::~LineProcess()
{
    m_process.closeWriteChannel();
    if (m_process.state() != QProcess::NotRunning && !m_process.waitForFinished(3000)) {
        m_process.kill();
        m_process.waitForFinished(3000);
    }
}

void LineProcess::readLines()
{
    // A Windows program ends its lines with \r\n.
    while (m_process.canReadLine()) {
        const QByteArray line = m_process.readLine().chopped(1);
        m_lines.append(line.endsWith('\r') ? line.chopped(1) : line);
    }
}

bool LineProcess::send(const QByteArray &line, const QByteArray &answer, int timeoutMs)
{
    m_process.write(line + '\n');
    // Written at once, for callers that wait on something else without an event loop.
    const bool written = m_process.waitForBytesWritten(timeoutMs) || !m_process.bytesToWrite();
    return answer.isEmpty() ? written : waitForLine(answer, timeoutMs).has_value();
}

std::optional<QByteArray> LineProcess::nextLine(int timeoutMs)
{
    if (m_next == m_lines.size() && m_process.state() != QProcess::NotRunning) {
        QEventLoop loop;
        QObject::connect(&m_process, &QProcess::readyReadStandardOutput, &loop, [&] {
            if (m_next < m_lines.size())
                loop.quit();
        });
        QObject::connect(&m_process, &QProcess::finished, &loop, &QEventLoop::quit);
        QObject::connect(&m_process, &QProcess::errorOccurred, &loop, &QEventLoop::quit);
        QTimer::singleShot(timeoutMs, &loop, &QEventLoop::quit);
        loop.exec();
    }
    return m_next < m_lines.size() ? std::optional(m_lines[m_next++]) : std::nullopt;
}

std::optional<QByteArray> LineProcess::waitForLine(const QByteArray &prefix, int timeoutMs)
{
    const QDeadlineTimer deadline(timeoutMs);
    while (const auto line = nextLine(int(deadline.remainingTime()))) {
        if (line->startsWith(prefix))
            return line;
    }
    return std::nullopt;
}

QByteArrayList LineProcess::takeLines()
{
    const QByteArrayList lines = m_lines.mid(m_next);
    m_next = m_lines.size();
    return lines;
}

bool LineProcess::endsCleanly(int timeoutMs)
{
    const bool ended = m_process.waitForFinished(timeoutMs);
    readLines();
    return ended && m_process.exitStatus() == QProcess::NormalExit && m_process.exitCode() == 0;
}
