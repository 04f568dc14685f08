// A 4,096-character Send at 9600 baud clicked in the real window: the time from the click until
// the simulated unit has taken the last byte off the line, against the line's own limit (10 bits
// a byte), while Home is clicked every 200 ms to see that the window still answers meanwhile.
// Medians of three Sends.

#include "BenchSupport.h"

#include <cstdio>
#include <vector>

using namespace Bench;

namespace
{

constexpr int Runs = 3;
constexpr int Baud = 9600;
constexpr long TextLength = 4096;
// Every 200 ms while the text is on the line (4.27 s); each sends FE 80 after it.
constexpr int HomeClicks = 19;
constexpr auto ClickEvery = std::chrono::milliseconds(200);
constexpr long Bytes = TextLength + 2 * HomeClicks;
constexpr double LimitSeconds = Bytes * 10.0 / Baud;
// Our own bound for "still answering": a click handled within it feels immediate.
constexpr Goal ClickGoal{Goal::Below, 100};

QByteArray sendText()
{
    QByteArray text;
    for (long index = 0; index < TextLength; ++index)
        text += char('A' + index % 26);
    return text;
}

} // namespace

int main(int argc, char *argv[])
{
    const QCoreApplication application(argc, argv);
    Rig rig(Baud);
    if (!rig.open || rig.utility.ask("text " + sendText()) != "text set")
        return couldNotMeasure("bench_throughput", "the window did not take the text");

    std::vector<double> drains;
    std::vector<double> sendClickMs;
    std::vector<double> homeClickMs;
    for (int run = 1; run <= Runs; ++run) {
        rig.unit.takeLines();
        const Clock::time_point start = Clock::now();
        if (!rig.utility.click("cmdSend"))
            return couldNotMeasure("bench_throughput", "Send was not clicked");
        sendClickMs.push_back(msBetween(start, Clock::now()));

        for (int click = 1; click <= HomeClicks; ++click) {
            runUntil(start + click * ClickEvery);
            const Clock::time_point clicked = Clock::now();
            if (!rig.utility.click("cmdHome"))
                return couldNotMeasure("bench_throughput", "Home was not clicked");
            homeClickMs.push_back(msBetween(clicked, Clock::now()));
        }
        const auto last = waitForBytes(rig.unit, Bytes, 20000);
        if (!last)
            return couldNotMeasure("bench_throughput", "the unit did not take every byte");
        drains.push_back(msBetween(start, *last) / 1e3);
        std::fprintf(stderr, "send %d: %ld bytes at the unit after %.3f s (limit %.3f s)\n", run,
                     Bytes, drains.back(), LimitSeconds);
    }

    const double drain = median(drains);
    const double percent = 100.0 * LimitSeconds / drain;
    const double homeP99 = percentile(homeClickMs, 0.99);
    char drainName[64];
    std::snprintf(drainName, sizeof drainName, "last byte at the unit (limit %.3f s)",
                  LimitSeconds);
    Results results;
    results.figure("throughput", drainName, drain, 3, "s");
    results.figure("throughput", "Send at 9600 baud, of the line's limit", percent, 1, "%",
                   Goal{Goal::AtLeast, 95});
    results.figure("throughput", "Send's click answered in", median(sendClickMs), 1, "ms");
    results.figure("throughput", "Home clicks meanwhile, p99 answer", homeP99, 1, "ms", ClickGoal);
    return results.finish();
}
