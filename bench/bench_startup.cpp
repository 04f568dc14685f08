// Start-up: from starting the window's program to its "ready", which the test driver prints in
// the first turn of the event loop after the window is shown; the peak resident memory then.
// Medians of five starts.

#include "BenchSupport.h"

#include <cstdio>
#include <vector>

using namespace Bench;

constexpr int Runs = 5;

int main(int argc, char *argv[])
{
    const QCoreApplication application(argc, argv);
    std::vector<double> startMs;
    std::vector<double> peakMiB;
    for (int run = 1; run <= Runs; ++run) {
        const Clock::time_point start = Clock::now();
        DriverProcess utility;
        // The wait reads the line as soon as it comes.
        if (!utility.started())
            return couldNotMeasure("bench_startup", "the window did not start");
        startMs.push_back(msBetween(start, Clock::now()));
        // Let the first paint finish.
        runFor(std::chrono::milliseconds(500));
        const auto peak = statusMiB(utility.process().processId(), "VmHWM");
        if (!peak)
            return couldNotMeasure("bench_startup", "no memory figures");
        peakMiB.push_back(*peak);
        std::fprintf(stderr, "start %d: %.1f ms, peak resident %.1f MiB\n", run, startMs.back(),
                     *peak);
    }

    Results results;
    results.figure("start-up", "process start to window shown", median(startMs), 1, "ms",
                   Goal{Goal::Below, 300});
    results.figure("memory", "peak resident after start-up", median(peakMiB), 1, "MiB", MemoryGoal);
    return results.finish();
}
