#pragma once

// Shared by the benchmark programs: the simulated unit's stamped lines, the children's processor
// time, the statistics, and the result lines that bench.sh gathers into one table and
// build-release/bench.json.
//
// Results go to standard output, one tab-separated line each:
//   figure <section> <name> <value> <unit> <goal> <pass|fail|->
//   series <section> <name> <unit> <values separated by spaces>
// Progress and diagnostics go to standard error.

#include "ChildProcesses.h"

#include <QCoreApplication>
#include <QTimer>

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

inline Stamped stamped(const QByteArray &line)
{
    const qsizetype space = line.indexOf(' ');
    const std::chrono::duration<double> sinceBoot(line.left(space).toDouble());
    return {Clock::time_point(std::chrono::duration_cast<Clock::duration>(sinceBoot)),
            line.mid(space + 1)};
}

// Every line that has come, without waiting.
inline std::vector<Stamped> takeStamped(Sim &unit)
{
    std::vector<Stamped> lines;
    for (const QByteArray &line : unit.takeLines())
        lines.push_back(stamped(line));
    return lines;
}

inline bool isHexByte(const QByteArray &word)
{
    bool ok = false;
    word.toUInt(&ok, 16);
    return ok && word.size() == 2;
}

// How many bytes a line reports received: the hex after "rx", none for other lines.
inline int receivedBytes(const QByteArray &line)
{
    const QByteArrayList words = line.split(' ');
    int count = 0;
    while (words.first() == "rx" && count + 1 < words.size() && isHexByte(words[count + 1]))
        ++count;
    return count;
}

// When the unit took the count-th byte from now on.
inline std::optional<Clock::time_point> waitForBytes(Sim &unit, long count, int timeoutMs)
{
    const QDeadlineTimer deadline(timeoutMs);
    while (const auto line = unit.nextLine(int(deadline.remainingTime()))) {
        const Stamped next = stamped(*line);
        if ((count -= receivedBytes(next.text)) <= 0)
            return next.at;
    }
    return std::nullopt;
}

// A child's user and system processor time so far, in seconds.
inline std::optional<double> processorSeconds(LineProcess &child)
{
    // The kernel's own count, to the nanosecond; /proc/PID/stat counts whole clock ticks.
    clockid_t clock{};
    timespec time{};
    if (clock_getcpuclockid(pid_t(child.process().processId()), &clock) != 0 ||
        clock_gettime(clock, &time) != 0)
        return std::nullopt;
    return double(time.tv_sec) + time.tv_nsec / 1e9;
}

// The simulated unit, stamping its lines, and the window on one line, port 1 open at baud.
struct Rig {
    explicit Rig(int baud) : open(unit.isValid() && utility.started() && utility.openPort(baud)) {}
    Sim unit{{QStringLiteral("--timestamps")}};
    DriverProcess utility{unit.portPath()};
    const bool open;
};

} // namespace Bench
