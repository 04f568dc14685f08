// Whole ripples clicked in the real window against the simulated unit: the wall time against the
// ideal 6.8 s (68 pauses of 100 ms), and the processor time the utility used meanwhile, from its
// own accounting. Medians of three ripples.

#include "BenchSupport.h"

#include <cstdio>
#include <vector>

using namespace Bench;

namespace
{

constexpr int Runs = 3;
constexpr long RippleBytes = 75;

} // namespace

int main(int argc, char *argv[])
{
    const QCoreApplication application(argc, argv);
    Rig rig(9600);
    if (!rig.open)
        return couldNotMeasure("bench_ripple", "the port did not open");

    std::vector<double> seconds;
    std::vector<double> processor;
    for (int run = 1; run <= Runs; ++run) {
        rig.unit.takeLines();
        const auto before = processorSeconds(rig.utility);
        const Clock::time_point start = Clock::now();
        // Answered once the handler returns, after the last pause.
        const bool clicked = rig.utility.click("cmdRipple");
        const Clock::time_point end = Clock::now();
        const auto after = processorSeconds(rig.utility);
        if (!before || !clicked || !after || !waitForBytes(rig.unit, RippleBytes, 2000))
            return couldNotMeasure("bench_ripple", "a ripple failed");
        const double wall = msBetween(start, end) / 1e3;
        seconds.push_back(wall);
        processor.push_back(100.0 * (*after - *before) / wall);
        std::fprintf(stderr, "ripple %d: %.3f s, %.2f %% of one core\n", run, wall,
                     processor.back());
    }

    const double wall = median(seconds);
    const double percent = median(processor);
    Results results;
    results.figure("ripple", "wall time (ideal 6.8 s)", wall, 3, "s", Goal{Goal::Below, 6.9});
    results.figure("ripple", "processor time", percent, 2, "% core", Goal{Goal::Below, 2});
    return results.finish();
}
