#pragma once

// Shared by the benchmark programs: the simulated unit and the test driver as child processes,
// the statistics, and the result lines that bench.sh gathers into one table and
// build-release/bench.json.
//
// Results go to standard output, one tab-separated line each:
//   figure <section> <name> <value> <unit> <goal> <pass|fail|->
//   series <section> <name> <unit> <values separated by spaces>
// Progress and diagnostics go to standard error.

#include "TestSupport.h"

#include <QDeadlineTimer>
#include <QEventLoop>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <ctime>
#include <fstream>
#include <numeric>
#include <optional>
#include <string>
#include <vector>

namespace Bench
{

// The simulated unit stamps its lines with the same clock (CLOCK_MONOTONIC).
using Clock = std::chrono::steady_clock;

inline double msBetween(Clock::time_point from, Clock::time_point to)
{
    return std::chrono::duration<double, std::milli>(to - from).count();
}

inline double mean(const std::vector<double> &values)
{
    return values.empty() ? NAN
                          : std::accumulate(values.begin(), values.end(), 0.0) / values.size();
}

// Nearest rank.
inline double percentile(std::vector<double> values, double fraction)
{
    if (values.empty())
        return NAN;
    std::sort(values.begin(), values.end());
    const auto rank = static_cast<std::size_t>(std::ceil(fraction * values.size()));
    return values[std::clamp<std::size_t>(rank, 1, values.size()) - 1];
}

inline double median(const std::vector<double> &values)
{
    return percentile(values, 0.5);
}

// Measuring failed, as opposed to a goal missed: exit status 2.
inline int couldNotMeasure(const char *program, const char *what)
{
    std::fprintf(stderr, "%s: %s\n", program, what);
    return 2;
}

// A figure without a goal passes nothing and fails nothing.
inline void figure(const char *section, const std::string &name, double value, int decimals,
                   const char *unit, const char *goal = "", std::optional<bool> pass = {})
{
    std::printf("figure\t%s\t%s\t%.*f\t%s\t%s\t%s\n", section, name.c_str(), decimals, value, unit,
                goal,
                !pass   ? "-"
                : *pass ? "pass"
                        : "fail");
    std::fflush(stdout);
}

inline void series(const char *section, const char *name, const char *unit,
                   const std::vector<double> &values, int decimals)
{
    std::printf("series\t%s\t%s\t%s\t", section, name, unit);
    for (std::size_t index = 0; index < values.size(); ++index)
        std::printf("%s%.*f", index ? " " : "", decimals, values[index]);
    std::printf("\n");
    std::fflush(stdout);
}

// Runs the event loop until then, so that the children's lines are read meanwhile.
inline void runUntil(Clock::time_point then)
{
    QEventLoop loop;
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(then - Clock::now());
    QTimer::singleShot(std::max<int>(0, left.count()), Qt::PreciseTimer, &loop, &QEventLoop::quit);
    loop.exec();
}

inline void runFor(std::chrono::milliseconds span)
{
    runUntil(Clock::now() + span);
}

// A field of /proc/PID/status in MiB (VmRSS, VmHWM, ...).
inline std::optional<double> statusMiB(qint64 pid, const std::string &field)
{
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    for (std::string line; std::getline(status, line);) {
        if (line.compare(0, field.size() + 1, field + ':') == 0)
            return std::stod(line.substr(field.size() + 1)) / 1024.0;
    }
    return std::nullopt;
}

// A line of the simulated unit and the moment it wrote it.
struct Stamped {
    Clock::time_point at;
    QByteArray text;
};

// The simulated unit without its window; its line runs at the speed the utility sets.
class Sim : public LineProcess
{
public:
    Sim()
        : LineProcess(QStringLiteral(KV310_SIM_PATH),
                      {QStringLiteral("--headless"), QStringLiteral("--timestamps")})
    {
        // Its first line is the port.
        m_portPath = QString::fromLocal8Bit(nextLine(8000).value_or(QByteArray()));
    }

    bool isValid() const { return !m_portPath.isEmpty(); }
    const QString &portPath() const { return m_portPath; }

    void setKeys(unsigned keys) { send("keys " + QByteArray::number(keys & 0xFFu, 16)); }

    static Stamped stamped(const QByteArray &line)
    {
        const qsizetype space = line.indexOf(' ');
        const std::chrono::duration<double> sinceBoot(line.left(space).toDouble());
        return {Clock::time_point(std::chrono::duration_cast<Clock::duration>(sinceBoot)),
                line.mid(space + 1)};
    }

    // Every line that has come, without waiting.
    std::vector<Stamped> takeStamped()
    {
        std::vector<Stamped> lines;
        for (const QByteArray &line : takeLines())
            lines.push_back(stamped(line));
        return lines;
    }

    // How many bytes a line reports received: the hex after "rx", none for other lines.
    static int receivedBytes(const QByteArray &line)
    {
        const QByteArrayList words = line.split(' ');
        int count = 0;
        while (words.first() == "rx" && count + 1 < words.size() && isHexByte(words[count + 1]))
            ++count;
        return count;
    }

    // When the unit took the count-th byte from now on.
    std::optional<Clock::time_point> waitForBytes(long count, int timeoutMs)
    {
        const QDeadlineTimer deadline(timeoutMs);
        while (const auto line = nextLine(int(deadline.remainingTime()))) {
            const Stamped next = stamped(*line);
            if ((count -= receivedBytes(next.text)) <= 0)
                return next.at;
        }
        return std::nullopt;
    }

private:
    static bool isHexByte(const QByteArray &word)
    {
        bool ok = false;
        word.toUInt(&ok, 16);
        return ok && word.size() == 2;
    }

    QString m_portPath;
};

// The real main window driven through its standard input (tests/driver).
class Driver : public DriverProcess
{
public:
    using DriverProcess::DriverProcess;

    // The "ready" line: the window is shown and the event loop runs.
    bool waitReady() { return waitForLine("ready", 10000).has_value(); }

    bool click(const QByteArray &button)
    {
        return ask("click " + button, 20000) == "clicked " + button;
    }

    // Port 1 opened at baud through the window's own controls.
    bool openPort(int baud)
    {
        return click(baud == 9600 ? "optBaud(1)" : "optBaud(0)") && click("cmdCom") &&
               expect("state", "state open=1");
    }

    // Its user and system processor time so far, in seconds.
    std::optional<double> processorSeconds()
    {
        // The kernel's own count, to the nanosecond; /proc/PID/stat counts whole clock ticks.
        clockid_t clock{};
        timespec time{};
        if (clock_getcpuclockid(pid_t(process().processId()), &clock) != 0 ||
            clock_gettime(clock, &time) != 0)
            return std::nullopt;
        return double(time.tv_sec) + time.tv_nsec / 1e9;
    }
};

// The simulated unit and the window on one line, port 1 open at baud.
struct Rig {
    explicit Rig(int baud) : open(unit.isValid() && utility.waitReady() && utility.openPort(baud))
    {
    }
    Sim unit;
    Driver utility{unit.portPath()};
    const bool open;
};

} // namespace Bench
