#include "ChildProcesses.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QTest>

#include <signal.h>
#include <sys/mount.h>

namespace
{

// The station under test: this build's, or the one KV310_TEST_STATION runs (Windows, under Wine).
QString stationProgram()
{
    return qEnvironmentVariable("KV310_TEST_STATION", QStringLiteral(KV310_TEST_PATH));
}

bool underWine()
{
    return qEnvironmentVariableIsSet("KV310_TEST_STATION");
}

QList<QJsonObject> readRecords(const QString &path)
{
    QFile file(path);
    QList<QJsonObject> records;
    if (!file.open(QIODevice::ReadOnly))
        return records;
    for (const QByteArray &line : file.readAll().split('\n'))
        if (!line.isEmpty())
            records.append(QJsonDocument::fromJson(line).object());
    return records;
}

// One row of the station's table: a results file as it stands, a script that the test plays as
// scanner, operator and unit, and what the shift must leave. Script steps:
//   ?TEXT  the station's next line starting so       ~TEXT  the same within 2 s
//   >TEXT  typed at the station                       !TEXT  a command to the simulated unit
//   unit SN KEYS  one whole unit, a key pressed at each key's prompt (a wrong one fails there)
//   keys KEYS  only the presses               signal N  sent to the station
//   restart  a new station once this one ends  rival  a second station, refused with 4
//   fill  the results' file system filled up   unplug  the unit's line gone
struct ShiftRow {
    QByteArray earlier; // the results file before
    QString file = QStringLiteral("results.jsonl");
    QStringList options;    // for each station started
    bool smallDisk = false; // the results on a small file system of their own
    QStringList script;
    int status = 0;
    QStringList verdicts; // of the records added
    QList<int> attempts;  // of the records added
    QStringList says;     // lines the stations print, among others
    QStringList saysNot;
    int unreadable = -1; // what --summary counts, when it is to be asked

    ShiftRow &before(const QByteArray &text) { return earlier = text, *this; }
    ShiftRow &with(const QStringList &list) { return options = list, *this; }
    ShiftRow &in(const QString &name) { return file = name, *this; }
    ShiftRow &onSmallDisk() { return smallDisk = true, *this; }
    ShiftRow &play(const QString &steps) { return script = steps.split(';'), *this; }
    ShiftRow &ends(int code) { return status = code, *this; }
    ShiftRow &records(const QString &list, const QList<int> &tries = {})
    {
        verdicts = list.split(' ', Qt::SkipEmptyParts);
        attempts = tries.isEmpty() ? QList<int>(verdicts.size(), 1) : tries;
        return *this;
    }
    ShiftRow &saying(const QStringList &lines) { return says = lines, *this; }
    ShiftRow &notSaying(const QStringList &lines) { return saysNot = lines, *this; }
    ShiftRow &summaryUnreadable(int count) { return unreadable = count, *this; }
};

// The station's side of a run: the program on the simulated unit's line.
class Station : public LineProcess
{
public:
    Station(Sim &sim, const QString &results, const QStringList &options)
        : LineProcess(QStringLiteral("env"),
                      QStringList{"-u", "QT_QPA_PLATFORM", "KV310_COM1=" + sim.portPath(),
                                  stationProgram(), "--station", "--results", results,
                                  "--station-id", "bench 1", "--operator", "Ann"} +
                          options)
    {
    }
    std::optional<int> status(int timeoutMs = 10000)
    {
        if (process().state() != QProcess::NotRunning && !process().waitForFinished(timeoutMs))
            return std::nullopt;
        return process().exitStatus() == QProcess::NormalExit ? process().exitCode() : -1;
    }
};

} // namespace

Q_DECLARE_METATYPE(ShiftRow)

class StationTest : public QObject
{
    Q_OBJECT

private slots:
    void shift_data()
    {
        QTest::addColumn<ShiftRow>("row");
        const auto row = [](const char *name, const ShiftRow &row) {
            QTest::newRow(name) << row;
        };
        const QByteArray twoFails = "{\"unit\":\"SN-9\",\"verdict\":\"fail\"}\n"
                                    "{\"unit\":\"SN-9\",\"verdict\":\"fail\"}\n";
        row("three units", ShiftRow()
                               .play("unit SN-1 123456;unit SN-2 15;unit SN-3 123456;"
                                     "?Scan unit 4;>end")
                               .records("pass fail pass")
                               .saying({"Shift: 3 units, 2 passed, 1 failed", "Summary"}));
        row("passed unit again, default no",
            ShiftRow()
                .play("unit SN-1 123456;?Scan unit 2;>SN-1;?SN-1 passed at ;>;?Scan unit 2;>end")
                .records("pass")
                .saying({"Test it again? [y/N]"}));
        row("passed unit again, yes",
            ShiftRow()
                .play("unit SN-1 123456;?Scan unit 2;>SN-1;?SN-1 passed at ;>y;?Connect unit SN-1;"
                      "?Do both lines show;>y;keys 123456;?Disconnect unit SN-1;!mute on;"
                      "?Scan unit 3;>end")
                .records("pass pass", {1, 2})
                .saying({"Saved SN-1: PASS (attempt 2), 2 in this shift"}));
        // Refused scans and a unit sent for repair write nothing; a label scanned while a unit is
        // awaited is the next scan.
        row("scans refused, repair, rescan",
            ShiftRow()
                .before(twoFails)
                .with({"--serial-pattern", "SN-[0-9]+", "--max-attempts", "2"})
                .play("!mute on;?Scan unit 1;>;?Scan unit 1;>   ;?Scan unit 1;>sn 1;"
                      "?Not a serial number: sn 1;>SN-9;?SN-9 failed 2 times: send it for repair.;"
                      "?Scan unit 1;>SN-4;?Connect unit SN-4;>SN-5;?Connect unit SN-5;!mute off;"
                      "?Do both lines show;>y;keys 123456;?Disconnect unit SN-5;!mute on;"
                      "?Scan unit 2;>end")
                .records("pass"));
        row("unit stops answering",
            ShiftRow()
                .play("?Scan unit 1;>SN-1;?Do both lines show;>y;?Press key 1;!mute on;"
                      "~key 1: fail, the unit stopped answering;?Saved SN-1: FAIL (attempt 1)")
                .ends(-1)
                .records("fail"));
        row("results in a missing folder", ShiftRow()
                                               .in("no-such-folder/results.jsonl")
                                               .ends(4)
                                               .saying({"Cannot write results to "})
                                               .notSaying({"Scan unit"}));
        row("a second station", ShiftRow().play("?Scan unit 1;rival;>end"));
        row("full file system", ShiftRow()
                                    .onSmallDisk()
                                    .play("?Scan unit 1;>SN-1;?Connect unit SN-1;fill;"
                                          "?Do both lines show;>y;keys 123456")
                                    .ends(4)
                                    .saying({"NOT SAVED SN-1: PASS: "})
                                    .notSaying({"Saved "}));
        row("killed during a unit", ShiftRow()
                                        .play("unit SN-1 123456;?Scan unit 2;>SN-2;"
                                              "?Do both lines show;>y;keys 1;?Press key 2;"
                                              "signal 9;restart;?Scan unit 1;>end")
                                        .records("pass incomplete")
                                        .saying({"SN-2 was being tested when the station "
                                                 "stopped: recorded as incomplete"}));
        row("torn last line",
            ShiftRow()
                .before("{\"unit\":\"SN-0\",\"verdict\":\"pass\"}\n{\"unit\":\"SN-")
                .play("unit SN-1 123456;>end")
                .records("pass")
                .saying({"1 line of "})
                .summaryUnreadable(1));
        row("line gone during a unit",
            ShiftRow()
                .play("?Scan unit 1;>SN-1;?Do both lines show;>y;?Press key 1;unplug")
                .ends(3)
                .records("aborted")
                .saying({"Summary of this shift"}));
        row("Ctrl+C at the scan",
            ShiftRow().play("?Scan unit 1;signal 2").ends(130).saying({"Summary of this shift"}));
        row("SIGTERM during a unit",
            ShiftRow()
                .play("?Scan unit 1;>SN-1;?Do both lines show;>y;?Press key 1;signal 15")
                .ends(143)
                .records("aborted")
                .saying({"Summary of this shift"}));
    }
    void shift()
    {
        QFETCH(ShiftRow, row);
        // Under Wine, one shift shows that the Windows build's station works.
        if (underWine() && qstrcmp(QTest::currentDataTag(), "three units") != 0)
            QSKIP("native only");
        Sim sim;
        QVERIFY(sim.isValid());
        QTemporaryDir scratch;
        QString folder = scratch.path();
        std::optional<QScopeGuard<std::function<void()>>> unmount;
        if (row.smallDisk) {
            folder = scratch.filePath("small");
            QVERIFY(QDir().mkpath(folder));
            if (::mount("kv310-full", qPrintable(folder), "tmpfs", 0, "size=64k") != 0)
                QSKIP("cannot mount a small file system here (needs root)");
            unmount.emplace([folder] { ::umount2(qPrintable(folder), MNT_DETACH); });
        }
        const QString file = folder + '/' + row.file;
        if (!row.earlier.isEmpty()) {
            QFile seed(file);
            QVERIFY(seed.open(QIODevice::WriteOnly));
            QCOMPARE(seed.write(row.earlier), row.earlier.size());
        }
        const QStringList &options = row.options;

        QByteArrayList said;
        auto station = std::make_unique<Station>(sim, file, options);
        const auto at = [&](const QByteArray &prefix, int timeoutMs) {
            return station->waitForLine(prefix, timeoutMs).has_value();
        };
        const auto unit = [&](const QByteArray &command) {
            return sim.send(command, command);
        };
        const auto press = [&](const QByteArray &keys) {
            for (int asked = 1; asked <= keys.size(); ++asked) {
                const int key = keys.at(asked - 1) - '0';
                const QByteArray code =
                    QByteArray::number(1 << (key - 1), 16).rightJustified(2, '0');
                QVERIFY2(at("Press key " + QByteArray::number(asked), 20000),
                         "no prompt for a key");
                QVERIFY(unit("keys " + code));
                QVERIFY2(at(key == asked ? "Key " + QByteArray::number(key) + " down"
                                         : "key " + QByteArray::number(asked) + ": fail",
                            5000),
                         "the key went unseen");
                QVERIFY(unit("keys 00"));
            }
        };
        QStringList script;
        for (const QString &step : row.script) {
            const QStringList words = step.split(' ');
            if (words.first() == "unit")
                script +=
                    QString("?Scan unit;>%1;?Connect unit %1;!mute off;?Do both lines show;>y;"
                            "keys %2;?Saved %1;?Disconnect unit %1;!mute on;?Shift:;!mute off")
                        .arg(words[1], words[2])
                        .split(';');
            else if (!step.isEmpty())
                script += step;
        }
        for (const QString &step : script) {
            const QByteArray text = step.mid(1).toUtf8();
            const QString word = step.section(' ', 0, 0);
            if (step.startsWith('?') || step.startsWith('~'))
                QVERIFY2(at(text, step.startsWith('~') ? 2000 : 20000),
                         qPrintable("no line " + step));
            else if (step.startsWith('>'))
                QVERIFY(station->send(text));
            else if (step.startsWith('!'))
                QVERIFY2(unit(text), qPrintable(step));
            else if (word == "keys")
                press(step.section(' ', 1).toUtf8());
            else if (word == "unplug")
                sim.process().kill();
            else if (word == "signal")
                ::kill(pid_t(station->process().processId()), step.section(' ', 1).toInt());
            else if (word == "fill") {
                QFile filler(folder + "/filler");
                QVERIFY(filler.open(QIODevice::WriteOnly));
                while (filler.write(QByteArray(4096, 'x')) > 0 && filler.flush()) {
                }
            } else if (word == "restart") {
                QVERIFY(station->status().has_value());
                said += station->lines();
                station = std::make_unique<Station>(sim, file, options);
            } else if (word == "rival") {
                Station rival(sim, file, options);
                QCOMPARE(rival.status().value_or(-2), 4);
                QVERIFY(rival.lines().join('\n').contains("is in use by another station"));
            }
            if (QTest::currentTestFailed())
                return;
        }
        if (row.status >= 0)
            QCOMPARE(station->status().value_or(-2), row.status);
        said += station->lines();
        const QString output = QString::fromUtf8(said.join('\n'));
        for (const QString &line : row.says)
            QVERIFY2(output.contains(line), qPrintable(line + " not in:\n" + output));
        for (const QString &line : row.saysNot)
            QVERIFY2(!output.contains(line), qPrintable(line + " in:\n" + output));

        const QList<QJsonObject> records = readRecords(file);
        // Every line counts, a torn one too.
        const int before =
            row.earlier.isEmpty() ? 0 : int(row.earlier.count('\n') + !row.earlier.endsWith('\n'));
        QCOMPARE(records.size() - before, row.verdicts.size());
        for (int index = 0; index < row.verdicts.size(); ++index) {
            const QJsonObject record = records[records.size() - row.verdicts.size() + index];
            QCOMPARE(record["verdict"].toString(), row.verdicts[index]);
            QCOMPARE(record["attempt"].toInt(), row.attempts[index]);
            QCOMPARE(record["seq"].toInt(), before + index + 1);
            QCOMPARE(record["station"].toString(), QString("bench 1"));
            QCOMPARE(record["operator"].toString(), QString("Ann"));
            QCOMPARE(record["steps"].toArray().size(), 9);
            QVERIFY(QDateTime::fromString(record["finished"].toString(), Qt::ISODateWithMs) >=
                    QDateTime::fromString(record["started"].toString(), Qt::ISODateWithMs));
            for (const char *key : {"tool", "version", "unit", "port", "device", "rate", "started",
                                    "finished", "shift"})
                QVERIFY2(record.contains(key), key);
        }
        // A record that could not be saved keeps its marker, for the next start to record.
        QCOMPARE(QFile::exists(file + ".testing"), row.smallDisk);
        if (row.unreadable >= 0) {
            LineProcess summary(stationProgram(), {"--summary", file, "--json"});
            QVERIFY(summary.process().waitForFinished(10000));
            const QJsonObject figures = QJsonDocument::fromJson(summary.lines().join()).object();
            QCOMPARE(figures["unreadable"].toInt(), row.unreadable);
        }
    }
};

QTEST_GUILESS_MAIN(StationTest)

#include "tst_station.moc"
