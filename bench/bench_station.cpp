// A shift of 100 units at the station (KV310_STATION_UNITS to change it), the operator and the
// unit played at once: each key pressed as soon as it is asked for and released as soon as it is
// seen. Measures the station's own time per unit and its resources as the shift goes on.

#include "BenchSupport.h"

#include <QDir>
#include <QTemporaryDir>

#include <cstdio>
#include <string>
#include <vector>

using namespace Bench;

constexpr Goal OwnTimeGoal{Goal::Below, 50};
// "The same": no more resident memory, and no more open files, after the last unit than after
// the tenth.
constexpr Goal GrowthGoal{Goal::Below, 0.5, 0, "(flat)"};
constexpr Goal FilesGoal{Goal::Below, 1, 0, "(none more)"};
constexpr int EarlyUnits = 10;

namespace
{

int openFiles(qint64 pid)
{
    return int(QDir(QStringLiteral("/proc/%1/fd").arg(pid))
                   .entryList(QDir::NoDotAndDotDot | QDir::System)
                   .size());
}

// Waits for the station's next line that starts with prefix; the moment it was read.
std::optional<Clock::time_point> await(LineProcess &station, const QByteArray &prefix)
{
    if (!station.waitForLine(prefix, 20000))
        return std::nullopt;
    return Clock::now();
}

QByteArray keyByte(int key)
{
    return QByteArray::number(1 << (key - 1), 16).rightJustified(2, '0');
}

} // namespace

int main(int argc, char *argv[])
{
    const QCoreApplication application(argc, argv);
    const int units =
        qEnvironmentVariableIsSet("KV310_STATION_UNITS")
            ? std::max(EarlyUnits, qEnvironmentVariableIntValue("KV310_STATION_UNITS"))
            : 100;
    QTemporaryDir scratch;
    Sim unit{{QStringLiteral("--timestamps"), QStringLiteral("--no-pace")}};
    if (!scratch.isValid() || !unit.isValid())
        return couldNotMeasure("bench_station", "the simulated unit did not start");
    LineProcess station(QStringLiteral(KV310_TEST_PATH),
                        {"--station", "--results", scratch.filePath("results.jsonl"), "--rate",
                         "9600", "--port", unit.portPath()});
    const qint64 pid = station.process().processId();
    std::vector<double> ownMs;
    std::vector<double> scanMs;
    double earlyResident = 0;
    int earlyFiles = 0;
    for (int number = 1; number <= units; ++number) {
        const QByteArray serial = "SN-" + QByteArray::number(number);
        if (!station.waitForLine("Scan unit", 20000))
            return couldNotMeasure("bench_station", "no scan prompt");
        unit.takeLines();
        const Clock::time_point scanned = Clock::now();
        station.send(serial);
        const auto request = waitForBytes(unit, 2, 5000);
        if (!request || !station.waitForLine("Do both lines show", 20000))
            return couldNotMeasure("bench_station", "the unit was not connected");
        scanMs.push_back(msBetween(scanned, *request));
        station.send("y");
        Clock::time_point released{};
        for (int key = 1; key <= 6; ++key) {
            if (!station.waitForLine("Press key " + QByteArray::number(key), 20000))
                return couldNotMeasure("bench_station", "no key prompt");
            unit.send("keys " + keyByte(key));
            if (!station.waitForLine("Key " + QByteArray::number(key) + " down", 20000))
                return couldNotMeasure("bench_station", "a key was not seen");
            unit.takeLines();
            unit.send("keys 00");
            // The release is the first reply of 00 the unit sends after it.
            std::optional<Clock::time_point> sent;
            while (!sent) {
                const auto line = unit.nextLine(5000);
                if (!line)
                    return couldNotMeasure("bench_station", "the release was not sent");
                const Stamped next = stamped(*line);
                if (next.text == "tx 00")
                    sent = next.at;
            }
            released = *sent;
        }
        const auto disconnect = await(station, "Disconnect unit");
        if (!disconnect)
            return couldNotMeasure("bench_station", "the unit was not saved");
        ownMs.push_back(msBetween(released, *disconnect));
        unit.send("mute on");
        if (!station.waitForLine("Shift:", 20000))
            return couldNotMeasure("bench_station", "the removal was not seen");
        unit.send("mute off");
        if (number == EarlyUnits) {
            earlyResident = statusMiB(pid, "VmRSS").value_or(0);
            earlyFiles = openFiles(pid);
        }
        std::fprintf(stderr, "unit %d: own %.1f ms, scan to request %.1f ms\n", number,
                     ownMs.back(), scanMs.back());
    }
    const double lateResident = statusMiB(pid, "VmRSS").value_or(0);
    const int lateFiles = openFiles(pid);
    station.send("end");
    if (!station.endsCleanly(10000))
        return couldNotMeasure("bench_station", "the shift did not end cleanly");

    const auto largest = [](const std::vector<double> &values) {
        return *std::max_element(values.begin(), values.end());
    };
    const std::string after = " after " + std::to_string(units) + " units";
    Results results;
    results.figure("station", "own time per unit, median", median(ownMs), 1, "ms", OwnTimeGoal);
    results.figure("station", "own time per unit, largest", largest(ownMs), 1, "ms");
    results.figure("station", "scan to first request, median", median(scanMs), 1, "ms",
                   OwnTimeGoal);
    results.figure("station", "scan to first request, largest", largest(scanMs), 1, "ms");
    results.figure("station", "resident after 10 units", earlyResident, 1, "MiB");
    results.figure("station", "resident growth" + after, lateResident - earlyResident, 2, "MiB",
                   GrowthGoal);
    results.figure("station", "open files after 10 units", earlyFiles, 0, "");
    results.figure("station", "open files added" + after, lateFiles - earlyFiles, 0, "", FilesGoal);
    results.series("station", "own time per unit", "ms", ownMs, 1);
    return results.finish();
}
