// Poll Key runs against the simulated unit for ten minutes (KV310_SOAK_MINUTES to change it) and
// the resident memory of the window's program is sampled each minute: it must stay where it
// started.

#include "BenchSupport.h"

#include <cstdio>
#include <string>
#include <vector>

using namespace Bench;

// "Flat": less than this much more resident at the end of polling than at its start.
constexpr Goal GrowthGoal{Goal::Below, 0.5, 0, "(flat)"};

int main(int argc, char *argv[])
{
    const QCoreApplication application(argc, argv);
    const int minutes = qEnvironmentVariableIsSet("KV310_SOAK_MINUTES")
                            ? std::max(1, qEnvironmentVariableIntValue("KV310_SOAK_MINUTES"))
                            : 10;
    Rig rig(9600);
    if (!rig.open || !rig.utility.click("cmdPollKey"))
        return couldNotMeasure("bench_memory", "polling did not start");
    const qint64 pid = rig.utility.process().processId();
    const Clock::time_point start = Clock::now();
    std::vector<double> residentMiB;
    long requests = 0;
    // The first sample once polling has settled, then one a minute.
    for (int minute = 0; minute <= minutes; ++minute) {
        runUntil(start + std::chrono::minutes(minute) + std::chrono::seconds(minute == 0 ? 5 : 0));
        const auto resident = statusMiB(pid, "VmRSS");
        if (!resident)
            return couldNotMeasure("bench_memory", "the window is gone");
        residentMiB.push_back(*resident);
        for (const Stamped &line : takeStamped(rig.unit))
            requests += line.text.startsWith("rx FE F0 ");
        std::fprintf(stderr, "polling, minute %d: resident %.2f MiB, %ld requests so far\n", minute,
                     *resident, requests);
    }
    const auto peak = statusMiB(pid, "VmHWM");
    // Ten a second, give or take the first and last.
    if (!peak || requests < minutes * 600 - 10)
        return couldNotMeasure("bench_memory", "polling stalled during the soak");

    const double growth = residentMiB.back() - residentMiB.front();
    const std::string soak = std::to_string(minutes) + " min of polling";
    Results results;
    results.figure("memory", "peak resident after " + soak, *peak, 1, "MiB", MemoryGoal);
    results.figure("memory", "resident growth over " + soak, growth, 2, "MiB", GrowthGoal);
    results.series("memory", "resident each minute of polling", "MiB", residentMiB, 2);
    return results.finish();
}
