#pragma once

// Shared by the benchmark programs: the simulated unit's stamped lines, the children's processor
// time, the statistics, and the results, one JSON document on standard output that bench.sh
// gathers with the others into build-release/bench.json. Progress and diagnostics go to standard
// error.

#include "ChildProcesses.h"

#include <QCoreApplication>
#include <QTimer>

#include <QDeadlineTimer>
#include <QEventLoop>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

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

// A figure's goal, stated once: whether the figure meets it and how it reads both come from it.
struct Goal {
    enum Kind { Below, AtLeast, Within };
    Kind kind;
    double limit;
    // Within: how far from limit either way.
    double tolerance = 0;
    const char *note = "";

    bool met(double value) const
    {
        return kind == Below     ? value < limit
               : kind == AtLeast ? value >= limit
                                 : std::abs(value - limit) <= tolerance;
    }
    QString text(const char *unit) const
    {
        const QString limitText = QString::number(limit);
        const QString bound = kind == Below     ? "< " + limitText
                              : kind == AtLeast ? ">= " + limitText
                                                : limitText + " +/- " + QString::number(tolerance);
        return bound + ' ' + unit + (*note ? QString(' ') + note : QString());
    }
};

// Shared by the start-up and the soak.
constexpr Goal MemoryGoal{Goal::Below, 60};

// One benchmark's figures, written as one JSON document on standard output as it ends.
class Results
{
public:
    // A figure without a goal passes nothing and fails nothing.
    void figure(const char *section, const std::string &name, double value, int decimals,
                const char *unit, std::optional<Goal> goal = {})
    {
        const double scale = std::pow(10.0, decimals);
        QJsonObject figure{{"section", section},
                           {"name", QString::fromStdString(name)},
                           {"value", std::round(value * scale) / scale},
                           {"decimals", decimals},
                           {"unit", unit},
                           {"goal", QJsonValue()},
                           {"pass", QJsonValue()}};
        if (goal) {
            figure["goal"] = goal->text(unit);
            figure["pass"] = goal->met(value);
            m_allMet = m_allMet && goal->met(value);
        }
        m_figures.append(figure);
    }

    void series(const char *section, const char *name, const char *unit,
                const std::vector<double> &values, int decimals)
    {
        const double scale = std::pow(10.0, decimals);
        QJsonArray rounded;
        for (const double value : values)
            rounded.append(std::round(value * scale) / scale);
        m_series.append(QJsonObject{{"section", section},
                                    {"name", name},
                                    {"unit", unit},
                                    {"decimals", decimals},
                                    {"values", rounded}});
    }

    // Writes the document; the exit status, 1 when a goal was missed.
    int finish() const
    {
        const QByteArray document =
            QJsonDocument(QJsonObject{{"figures", m_figures}, {"series", m_series}}).toJson();
        std::fwrite(document.constData(), 1, document.size(), stdout);
        std::fflush(stdout);
        return m_allMet ? 0 : 1;
    }

private:
    QJsonArray m_figures;
    QJsonArray m_series;
    bool m_allMet = true;
};

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
