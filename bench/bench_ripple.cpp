// Runs the real program through the test driver and times whole ripples: the wall time
// against the ideal 6.8 s, and the processor time the program used meanwhile, taken from its
// own accounting. Prints the median of three runs; exits with 1 when a goal is missed.

#include "PtyPair.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QProcess>

#include <algorithm>
#include <cstdio>
#include <optional>
#include <vector>

namespace
{

constexpr double IdealSeconds = 6.8;
constexpr double WallGoalSeconds = 6.9;
constexpr double ProcessorGoalPercent = 2.0;
constexpr int Runs = 3;

struct Measurement {
    double seconds = 0;
    double processorPercent = 0;
};

class Driver
{
public:
    explicit Driver(const PtyPair &line)
    {
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("KV310_COM1"), line.slavePath());
        if (!environment.contains(QStringLiteral("QT_QPA_PLATFORM")))
            environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        m_process.setProcessEnvironment(environment);
        m_process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        m_process.start(QStringLiteral(KV310_DRIVER_PATH), QStringList());
    }
    ~Driver()
    {
        m_process.closeWriteChannel();
        if (!m_process.waitForFinished(5000))
            m_process.kill();
        m_process.waitForFinished(5000);
    }

    // Sends a command and returns the answer that starts with prefix.
    std::optional<QByteArray> ask(const QByteArray &command, const QByteArray &prefix,
                                  int timeoutMs = 20000)
    {
        if (!command.isEmpty()) {
            m_process.write(command + '\n');
            m_process.waitForBytesWritten(1000);
        }
        QElapsedTimer clock;
        clock.start();
        while (clock.elapsed() < timeoutMs) {
            while (m_process.canReadLine()) {
                const QByteArray line = m_process.readLine().trimmed();
                if (line.startsWith(prefix))
                    return line;
            }
            if (!m_process.waitForReadyRead(20) && m_process.state() == QProcess::NotRunning)
                break;
        }
        return std::nullopt;
    }

    // User plus system processor time so far, in microseconds.
    std::optional<qint64> processorTime()
    {
        const auto answer = ask("usage", "usage ");
        if (!answer)
            return std::nullopt;
        const QList<QByteArray> fields = answer->split(' ');
        return fields.value(1).toLongLong() + fields.value(2).toLongLong();
    }

private:
    QProcess m_process;
};

std::optional<Measurement> measureOnce()
{
    PtyPair line;
    if (!line.isValid())
        return std::nullopt;
    Driver driver(line);
    if (!driver.ask({}, "ready") || !driver.ask("click cmdCom", "clicked cmdCom") ||
        !driver.ask("state", "state open=1"))
        return std::nullopt;

    const auto before = driver.processorTime();
    QElapsedTimer clock;
    clock.start();
    if (!before || !driver.ask("click cmdRipple", "clicked cmdRipple"))
        return std::nullopt;
    const qint64 elapsedNs = clock.nsecsElapsed();
    const auto after = driver.processorTime();
    if (!after)
        return std::nullopt;

    const QByteArray wire = line.readAll(100, 2000);
    if (wire.size() != 75) {
        std::fprintf(stderr, "ripple wrote %d bytes, not 75\n", int(wire.size()));
        return std::nullopt;
    }
    driver.ask("click cmdExit", "clicked cmdExit", 2000);

    Measurement measurement;
    measurement.seconds = elapsedNs / 1e9;
    measurement.processorPercent = 100.0 * (*after - *before) * 1e3 / elapsedNs;
    return measurement;
}

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication application(argc, argv);
    std::vector<double> seconds;
    std::vector<double> processor;
    for (int run = 1; run <= Runs; ++run) {
        const auto measurement = measureOnce();
        if (!measurement) {
            std::fprintf(stderr, "bench_ripple: run %d failed\n", run);
            return 2;
        }
        std::printf("run %d: %.3f s, %.2f %% of one core\n", run, measurement->seconds,
                    measurement->processorPercent);
        seconds.push_back(measurement->seconds);
        processor.push_back(measurement->processorPercent);
    }
    const double wall = median(seconds);
    const double percent = median(processor);
    const bool wallMet = wall < WallGoalSeconds;
    const bool processorMet = percent < ProcessorGoalPercent;
    std::printf("ripple wall time:  %.3f s (ideal %.1f s, +%.1f ms; goal < %.1f s) %s\n", wall,
                IdealSeconds, (wall - IdealSeconds) * 1e3, WallGoalSeconds,
                wallMet ? "met" : "MISSED");
    std::printf("processor time:    %.2f %% of one core (goal < %.0f %%) %s\n", percent,
                ProcessorGoalPercent, processorMet ? "met" : "MISSED");
    return wallMet && processorMet ? 0 : 1;
}
