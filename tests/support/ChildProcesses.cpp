#include "ChildProcesses.h"

#include <QDeadlineTimer>

// env sets the variables and becomes the driver, so the process id is the driver's.
// KV310_TEST_DRIVER, when set, is a program that starts another build of the driver (the Windows
// one under Wine) and takes the same variables.
DriverProcess::DriverProcess(const QString &com1, const QStringList &wrapper, Build build)
    : LineProcess(
          QStringLiteral("env"),
          QStringList{"KV310_COM1=" + com1,
                      "QT_QPA_PLATFORM=" + qEnvironmentVariable("QT_QPA_PLATFORM", "offscreen")}
              << wrapper
              << (build == Build::Native ? QStringLiteral(KV310_DRIVER_PATH)
                                         : qEnvironmentVariable("KV310_TEST_DRIVER",
                                                                QStringLiteral(KV310_DRIVER_PATH))))
{
}

std::optional<QByteArray> DriverProcess::ask(const QByteArray &command, int timeoutMs)
{
    send(command);
    const QDeadlineTimer deadline(timeoutMs);
    auto answer = nextLine(timeoutMs);
    while (answer && (answer->startsWith("box ") || *answer == "ready"))
        answer = nextLine(int(deadline.remainingTime()));
    return answer;
}

Sim::Sim(const QStringList &options)
    : LineProcess(QStringLiteral(KV310_SIM_PATH),
                  QStringList{QStringLiteral("--headless")} + options)
{
    m_portPath = QString::fromLocal8Bit(nextLine(8000).value_or(QByteArray()));
}
