// How long a key change on the simulated unit takes to reach its indicator in the window, while
// Poll Key runs: from the bench telling the unit the key changed to the indicator's new colour.
// The window lives in this process so the colour can be watched as it changes. Each run has 100
// changes at a random phase against the poll timer; medians of three runs at each speed.

#include "BenchSupport.h"
#include "link/MSComm.h"
#include "ui/ApplicationSetup.h"
#include "ui/KeyLamp.h"
#include "ui/MainWindow.h"

#include <QAbstractButton>
#include <QApplication>
#include <QEventLoop>
#include <QRandomGenerator>
#include <QTest>
#include <QTimer>

#include <cstdio>
#include <memory>
#include <optional>
#include <string>
#include <vector>

using namespace Bench;

namespace
{

constexpr int Runs = 3;
constexpr std::size_t Changes = 100;

struct Run {
    double p50Ms = 0;
    double p99Ms = 0;
};

void click(const QWidget &window, const char *name)
{
    QTest::mouseClick(window.findChild<QAbstractButton *>(QLatin1String(name)), Qt::LeftButton);
}

std::optional<Run> measureOnce(int baud, QRandomGenerator &random)
{
    Sim unit;
    if (!unit.isValid())
        return std::nullopt;
    qputenv("KV310_COM1", unit.portPath().toLocal8Bit());
    const auto window = std::make_unique<MainWindow>();
    window->show();
    click(*window, baud == 9600 ? "optBaud(1)" : "optBaud(0)");
    click(*window, "cmdCom");
    auto *port = window->findChild<MSComm *>(QStringLiteral("MSComm1"));
    if (!port->PortOpen())
        return std::nullopt;

    const KeyLamp *indicator = window->findChild<KeyLamp *>(QStringLiteral("shpKey(0)"));
    QEventLoop loop;
    QTimer nextChange;
    nextChange.setSingleShot(true);
    // A coarse timer would be aligned with the poll timer, and the phase would not be random.
    nextChange.setTimerType(Qt::PreciseTimer);
    bool keyOn = false;
    bool waiting = false;
    Clock::time_point changedAt;
    std::vector<double> latencies;

    QObject::connect(&nextChange, &QTimer::timeout, &loop, [&] {
        keyOn = !keyOn;
        waiting = true;
        changedAt = Clock::now();
        unit.setKeys(keyOn ? 0x01 : 0x00);
    });
    // Connected after the window's own handler, so it runs once the indicator has its colour.
    QObject::connect(port, &MSComm::OnComm, &loop, [&] {
        if (!waiting || indicator->fillColor() != (keyOn ? KeyColor::On : KeyColor::Off))
            return;
        waiting = false;
        latencies.push_back(msBetween(changedAt, Clock::now()));
        if (latencies.size() == Changes)
            loop.quit();
        else
            nextChange.start(random.bounded(120, 330));
    });

    click(*window, "cmdPollKey");
    // A real event loop: QTest::qWait sleeps between its turns and would delay the poll timer.
    runFor(std::chrono::milliseconds(500));
    nextChange.start(0);
    // A change that never shows ends the run short.
    QTimer::singleShot(int(Changes) * 2000, &loop, &QEventLoop::quit);
    loop.exec();
    click(*window, "cmdClear");
    if (latencies.size() != Changes)
        return std::nullopt;
    Run run{percentile(latencies, 0.50), percentile(latencies, 0.99)};
    std::fprintf(stderr, "key latency at %d baud: p50 %.1f ms, p99 %.1f ms\n", baud, run.p50Ms,
                 run.p99Ms);
    return run;
}

} // namespace

int main(int argc, char *argv[])
{
    QApplication application(argc, argv);
    setUpApplication(application);
    QRandomGenerator random(310);

    Results results;
    for (const int baud : {9600, 2400}) {
        std::vector<double> p50;
        std::vector<double> p99;
        for (int run = 0; run < Runs; ++run) {
            const auto result = measureOnce(baud, random);
            if (!result)
                return couldNotMeasure("bench_key_latency", "a key change did not show");
            p50.push_back(result->p50Ms);
            p99.push_back(result->p99Ms);
        }
        const std::string at = ", " + std::to_string(baud) + " baud";
        results.figure("key latency", "p50" + at, median(p50), 1, "ms");
        results.figure("key latency", "p99" + at, median(p99), 1, "ms",
                       baud == 9600 ? std::optional(Goal{Goal::Below, 120}) : std::nullopt);
    }
    return results.finish();
}
