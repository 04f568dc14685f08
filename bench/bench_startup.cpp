// Start-up: from spawning the window's program to its "ready", which the test driver prints in
// the first turn of the event loop after the window is shown; the peak resident memory then.
// Then Poll Key runs against the simulated unit for ten minutes (--minutes N to change it) and
// the resident memory is sampled each minute: it must stay where it started.

#include "BenchSupport.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <thread>
#include <vector>

using namespace Bench;

namespace
{

constexpr int StartRuns = 5;
constexpr double StartGoalMs = 300.0;
constexpr double MemoryGoalMiB = 60.0;
// "Flat": less than this much more resident at the end of polling than at its start.
constexpr double GrowthGoalMiB = 0.5;

int soakMinutes(int argc, char *argv[])
{
    for (int index = 1; index + 1 < argc; ++index) {
        if (std::strcmp(argv[index], "--minutes") == 0)
            return std::max(1, std::atoi(argv[index + 1]));
    }
    return 10;
}

} // namespace

int main(int argc, char *argv[])
{
    std::vector<double> startMs;
    std::vector<double> startPeakMiB;
    for (int run = 1; run <= StartRuns; ++run) {
        Driver utility;
        const auto ready = utility.waitReady();
        if (!ready)
            return couldNotMeasure("bench_startup", "the window did not start");
        startMs.push_back(msBetween(utility.process().startedAt(), ready->at));
        // Let the first paint finish.
        std::this_thread::sleep_for(std::chrono::milliseconds(500));
        const auto peak = statusMiB(utility.process().pid(), "VmHWM");
        if (!peak)
            return couldNotMeasure("bench_startup", "no memory figures");
        startPeakMiB.push_back(*peak);
        std::fprintf(stderr, "start %d: %.1f ms, peak resident %.1f MiB\n", run, startMs.back(),
                     *peak);
    }

    const int minutes = soakMinutes(argc, argv);
    Sim unit;
    if (!unit.isValid())
        return couldNotMeasure("bench_startup", "the simulated unit did not start");
    Driver utility(unit.portPath());
    if (!utility.waitReady() || !utility.openPort(9600) || !utility.click("cmdPollKey"))
        return couldNotMeasure("bench_startup", "polling did not start");
    const pid_t pid = utility.process().pid();
    std::size_t cursor = 0;
    const Clock::time_point start = Clock::now();
    std::vector<double> residentMiB;
    long requests = 0;
    // The first sample once polling has settled, then one a minute.
    for (int minute = 0; minute <= minutes; ++minute) {
        std::this_thread::sleep_until(start + std::chrono::minutes(minute) +
                                      std::chrono::seconds(minute == 0 ? 5 : 0));
        const auto resident = statusMiB(pid, "VmRSS");
        if (!resident)
            return couldNotMeasure("bench_startup", "the window is gone");
        residentMiB.push_back(*resident);
        for (const Line &line : unit.process().take(cursor))
            requests += line.text.compare(0, 9, "rx FE F0 ") == 0;
        std::fprintf(stderr, "polling, minute %d: resident %.2f MiB, %ld requests so far\n", minute,
                     *resident, requests);
    }
    const auto soakPeak = statusMiB(pid, "VmHWM");
    // Ten a second, give or take the first and last.
    if (!soakPeak || requests < minutes * 600 - 10)
        return couldNotMeasure("bench_startup", "polling stalled during the soak");

    const double startupMs = median(startMs);
    const double startPeak = median(startPeakMiB);
    const double growth = residentMiB.back() - residentMiB.front();
    const bool startMet = startupMs < StartGoalMs;
    const bool startPeakMet = startPeak < MemoryGoalMiB;
    const bool soakPeakMet = *soakPeak < MemoryGoalMiB;
    const bool flat = growth < GrowthGoalMiB;
    char soakName[64];
    std::snprintf(soakName, sizeof soakName, "peak resident after %d min of polling", minutes);
    char growthName[64];
    std::snprintf(growthName, sizeof growthName, "resident growth over %d min of polling", minutes);
    figure("start-up", "process start to window shown", startupMs, 1, "ms", "< 300 ms", startMet);
    figure("memory", "peak resident after start-up", startPeak, 1, "MiB", "< 60 MiB", startPeakMet);
    figure("memory", soakName, *soakPeak, 1, "MiB", "< 60 MiB", soakPeakMet);
    figure("memory", growthName, growth, 2, "MiB", "< 0.5 MiB (flat)", flat);
    series("memory", "resident each minute of polling", "MiB", residentMiB, 2);
    return startMet && startPeakMet && soakPeakMet && flat ? 0 : 1;
}
