// Continuous key polling clicked in the real window against the simulated unit: the request
// cadence as the unit sees it (each FE F0 as it takes it off the line) over 10 s, and the
// utility's processor time meanwhile. Medians of three runs at each speed.

#include "BenchSupport.h"

#include <cstdio>
#include <optional>
#include <string>
#include <vector>

using namespace Bench;

namespace
{

constexpr int Runs = 3;
constexpr auto Span = std::chrono::seconds(10);
constexpr double IntervalMs = 100.0;

struct Run {
    double meanMs = 0;
    double p99DeviationMs = 0;
    double processorPercent = 0;
};

std::optional<Run> measureOnce(int baud)
{
    Rig rig(baud);
    if (!rig.open || !rig.utility.click("cmdPollKey"))
        return std::nullopt;
    runFor(std::chrono::milliseconds(500));
    rig.unit.takeLines();
    const auto before = processorSeconds(rig.utility);
    const Clock::time_point start = Clock::now();
    runFor(Span);
    const auto after = processorSeconds(rig.utility);
    const double seconds = msBetween(start, Clock::now()) / 1e3;
    if (!before || !after)
        return std::nullopt;

    std::vector<Clock::time_point> requests;
    for (const Stamped &line : takeStamped(rig.unit)) {
        if (line.text.startsWith("rx FE F0 "))
            requests.push_back(line.at);
    }
    std::vector<double> intervals;
    std::vector<double> deviations;
    for (std::size_t index = 1; index < requests.size(); ++index) {
        intervals.push_back(msBetween(requests[index - 1], requests[index]));
        deviations.push_back(std::abs(intervals.back() - IntervalMs));
    }
    if (intervals.size() < 50)
        return std::nullopt;
    Run run{mean(intervals), percentile(deviations, 0.99), 100.0 * (*after - *before) / seconds};
    std::fprintf(stderr,
                 "polling at %d baud: %zu intervals, mean %.2f ms, p99 deviation %.2f ms, max "
                 "%.2f ms, %.2f %% of one core\n",
                 baud, intervals.size(), run.meanMs, run.p99DeviationMs,
                 *std::max_element(deviations.begin(), deviations.end()), run.processorPercent);
    return run;
}

} // namespace

int main(int argc, char *argv[])
{
    const QCoreApplication application(argc, argv);
    Results results;
    for (const int baud : {9600, 2400}) {
        std::vector<double> means;
        std::vector<double> deviations;
        std::vector<double> processor;
        for (int run = 0; run < Runs; ++run) {
            const auto result = measureOnce(baud);
            if (!result)
                return couldNotMeasure("bench_polling", "a polling run failed");
            means.push_back(result->meanMs);
            deviations.push_back(result->p99DeviationMs);
            processor.push_back(result->processorPercent);
        }
        const std::string at = ", " + std::to_string(baud) + " baud";
        results.figure("polling", "mean request interval" + at, median(means), 2, "ms",
                       Goal{Goal::Within, IntervalMs, 1});
        results.figure("polling", "p99 deviation from 100 ms" + at, median(deviations), 2, "ms",
                       Goal{Goal::Below, 10});
        results.figure("polling", "processor time" + at, median(processor), 2, "% core",
                       Goal{Goal::Below, 2});
    }
    return results.finish();
}
