#include "ChildProcesses.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
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

QByteArray keyByte(int key)
{
    return QByteArray::number(1 << (key - 1), 16).rightJustified(2, '0');
}

// A shift at a station on the simulated unit's line, the test playing scanner, operator and
// unit: a muted unit stands for one not connected.
class Shift
{
public:
    Shift(Sim &sim, const QString &results, const QStringList &options = {})
        : m_sim(sim), m_station(QStringLiteral("env"),
                                QStringList{"-u", "QT_QPA_PLATFORM", "KV310_COM1=" + sim.portPath(),
                                            stationProgram(), "--station", "--results", results,
                                            "--station-id", "bench 1", "--operator", "Ann"} +
                                    options)
    {
    }

    LineProcess &station() { return m_station; }
    bool at(const QByteArray &prefix, int timeoutMs = 20000)
    {
        return m_station.waitForLine(prefix, timeoutMs).has_value();
    }
    bool say(const QByteArray &line) { return m_station.send(line); }
    bool unit(const QByteArray &command) { return m_sim.send(command, command); }

    // The answers of one unit up to its display question.
    bool connect(const QByteArray &serial)
    {
        return at("Scan unit") && say(serial) && at("Connect unit " + serial) && unit("mute off") &&
               at("Do both lines show");
    }
    // Presses each key asked for in turn: keys[k - 1] at the prompt for key k.
    bool press(const QByteArray &keys)
    {
        for (int asked = 1; asked <= keys.size(); ++asked) {
            const int key = keys.at(asked - 1) - '0';
            if (!at("Press key " + QByteArray::number(asked)) || !unit("keys " + keyByte(key)))
                return false;
            const bool seen = at(key == asked ? "Key " + QByteArray::number(key) + " down"
                                              : "key " + QByteArray::number(asked) + ": fail");
            if (!unit("keys 00") || !seen)
                return false;
        }
        return true;
    }
    // Saved, then unplugged: the station's running line follows.
    bool removed(const QByteArray &serial)
    {
        return at("Saved " + serial) && at("Disconnect unit " + serial) && unit("mute on") &&
               at("Shift:");
    }
    // One whole unit that passes, or fails where keys goes wrong.
    bool test(const QByteArray &serial, const QByteArray &keys = "123456")
    {
        return connect(serial) && say("y") && press(keys) && removed(serial);
    }
    bool ends(int status, int timeoutMs = 10000)
    {
        QProcess &process = m_station.process();
        return (process.state() == QProcess::NotRunning || process.waitForFinished(timeoutMs)) &&
               process.exitStatus() == QProcess::NormalExit && process.exitCode() == status;
    }
    QString said() const { return QString::fromUtf8(m_station.lines().join('\n')); }

private:
    Sim &m_sim;
    LineProcess m_station;
};

} // namespace

class StationTest : public QObject
{
    Q_OBJECT

private slots:
    void init()
    {
        // Under Wine, one shift shows that the Windows build's station works.
        if (underWine() && qstrcmp(QTest::currentTestFunction(), "shiftOfThreeUnits") != 0)
            QSKIP("native only");
        QVERIFY(m_sim.emplace().isValid());
        QVERIFY(m_scratch.emplace().isValid());
        m_results = m_scratch->filePath(QStringLiteral("results.jsonl"));
    }
    void cleanup()
    {
        m_sim.reset();
        m_scratch.reset();
    }

    void shiftOfThreeUnits()
    {
        Shift shift(*m_sim, m_results);
        QVERIFY(shift.test("SN-1"));
        QVERIFY(shift.test("SN-2", "15"));
        QVERIFY(shift.test("SN-3"));
        QVERIFY(shift.at("Scan unit 4"));
        QVERIFY(shift.say("end"));
        QVERIFY2(shift.ends(0), qPrintable(shift.said()));
        QVERIFY(shift.said().contains("Shift: 3 units, 2 passed, 1 failed"));

        const QList<QJsonObject> records = readRecords(m_results);
        QCOMPARE(records.size(), 3);
        const QStringList verdicts{"pass", "fail", "pass"};
        for (int index = 0; index < 3; ++index) {
            const QJsonObject &record = records[index];
            QCOMPARE(record["unit"].toString(), QString("SN-%1").arg(index + 1));
            QCOMPARE(record["seq"].toInt(), index + 1);
            QCOMPARE(record["attempt"].toInt(), 1);
            QCOMPARE(record["verdict"].toString(), verdicts[index]);
            QCOMPARE(record["station"].toString(), QString("bench 1"));
            QCOMPARE(record["operator"].toString(), QString("Ann"));
            QCOMPARE(record["shift"].toString(), records[0]["shift"].toString());
            QCOMPARE(record["rate"].toInt(), 2400);
            QCOMPARE(record["steps"].toArray().size(), 9);
            QVERIFY(record.contains("tool") && record.contains("version") &&
                    record.contains("device") && record.contains("started") &&
                    record.contains("finished") && record.contains("port"));
        }
        QCOMPARE(records[1]["steps"].toArray()[4].toObject()["detail"].toString(),
                 QString("key 5 went down, not key 2"));
        QVERIFY(!QFile::exists(m_results + ".testing"));
    }

    // A unit that passed is tested again only when the operator says so.
    void retest_data()
    {
        QTest::addColumn<QByteArray>("answer");
        QTest::addColumn<int>("records");
        QTest::newRow("default no") << QByteArray("") << 1;
        QTest::newRow("end is no") << QByteArray("end") << 1;
        QTest::newRow("yes") << QByteArray("y") << 2;
    }
    void retest()
    {
        QFETCH(QByteArray, answer);
        QFETCH(int, records);
        Shift shift(*m_sim, m_results);
        QVERIFY(shift.test("SN-1"));
        QVERIFY(shift.at("Scan unit 2"));
        QVERIFY(shift.say("SN-1"));
        QVERIFY(shift.at("SN-1 passed at "));
        QVERIFY(shift.said().endsWith("Test it again? [y/N]"));
        QVERIFY(shift.say(answer));
        if (records == 2) {
            QVERIFY(shift.at("Connect unit SN-1"));
            QVERIFY(shift.unit("mute off"));
            QVERIFY(shift.at("Do both lines show"));
            QVERIFY(shift.say("y"));
            QVERIFY(shift.press("123456"));
            QVERIFY(shift.removed("SN-1"));
            QVERIFY(shift.said().contains("Saved SN-1: PASS (attempt 2), 2 in this shift"));
        }
        QVERIFY(shift.at("Scan unit " + QByteArray::number(records + 1)));
        shift.station().process().closeWriteChannel();
        QVERIFY(shift.ends(0));
        QCOMPARE(readRecords(m_results).size(), records);
    }

    // Scans that are no serial are asked again; a unit with too many failed tests goes for
    // repair; a label scanned while a unit is awaited is the next scan. None writes a record.
    void refusedScans()
    {
        QFile earlier(m_results);
        QVERIFY(earlier.open(QIODevice::WriteOnly));
        for (int attempt = 1; attempt <= 2; ++attempt)
            earlier.write("{\"unit\":\"SN-9\",\"verdict\":\"fail\",\"attempt\":1}\n");
        earlier.close();
        Shift shift(*m_sim, m_results, {"--serial-pattern", "SN-[0-9]+", "--max-attempts", "2"});
        QVERIFY(shift.unit("mute on"));
        for (const QByteArray scan : {"", "   ", "sn 1"}) {
            QVERIFY(shift.at("Scan unit 1 (end to finish):"));
            QVERIFY(shift.say(scan));
        }
        QVERIFY(shift.at("Scan unit 1"));
        QVERIFY(shift.said().contains("Not a serial number: sn 1"));
        QVERIFY(shift.say("SN-9"));
        QVERIFY(shift.at("SN-9 failed 2 times: send it for repair."));
        QVERIFY(shift.at("Scan unit 1"));
        QVERIFY(shift.say("SN-4"));
        QVERIFY(shift.at("Connect unit SN-4"));
        QVERIFY(shift.say("SN-5"));
        QVERIFY(shift.at("Connect unit SN-5"));
        QVERIFY(shift.unit("mute off"));
        QVERIFY(shift.at("Do both lines show"));
        QVERIFY(shift.say("y"));
        QVERIFY(shift.press("123456"));
        QVERIFY(shift.removed("SN-5"));
        QVERIFY(shift.say("end"));
        QVERIFY(shift.ends(0));
        const QList<QJsonObject> records = readRecords(m_results);
        QCOMPARE(records.size(), 3);
        QCOMPARE(records[2]["unit"].toString(), QString("SN-5"));
        QCOMPARE(records[2]["seq"].toInt(), 3);
    }

    // A unit that goes quiet while a key is awaited fails that step at once.
    void unitStopsAnswering()
    {
        Shift shift(*m_sim, m_results);
        QVERIFY(shift.connect("SN-1"));
        QVERIFY(shift.say("y"));
        QVERIFY(shift.at("Press key 1"));
        QVERIFY(shift.unit("mute on"));
        QElapsedTimer clock;
        clock.start();
        QVERIFY(shift.at("key 1: fail, the unit stopped answering"));
        QVERIFY2(clock.elapsed() < 2000, qPrintable(QString::number(clock.elapsed())));
        QVERIFY(shift.at("Saved SN-1: FAIL (attempt 1)"));
    }

    // Results that cannot be kept stop the station before the first scan.
    void resultsRefused_data()
    {
        QTest::addColumn<QString>("file");
        QTest::addColumn<bool>("held");
        QTest::addColumn<QString>("says");
        QTest::newRow("no such folder")
            << "no-such-folder/results.jsonl" << false << "Cannot write results to ";
        QTest::newRow("another station")
            << "results.jsonl" << true << "is in use by another station";
    }
    void resultsRefused()
    {
        QFETCH(QString, file);
        QFETCH(bool, held);
        QFETCH(QString, says);
        const QString path = m_scratch->filePath(file);
        std::optional<Shift> first;
        if (held) {
            first.emplace(*m_sim, path);
            QVERIFY(first->at("Scan unit 1"));
        }
        Shift second(*m_sim, path);
        QVERIFY(second.ends(4));
        QVERIFY2(second.said().contains(says), qPrintable(second.said()));
        QVERIFY(!second.said().contains("Scan unit"));
    }

    // A results file on a full file system: the verdict is told, never as saved.
    void fullFileSystem()
    {
        const QString mountPoint = m_scratch->filePath(QStringLiteral("full"));
        QVERIFY(QDir().mkpath(mountPoint));
        if (::mount("kv310-full", qPrintable(mountPoint), "tmpfs", 0, "size=64k") != 0)
            QSKIP("cannot mount a small file system here (needs root)");
        const auto unmount = qScopeGuard([&] { ::umount2(qPrintable(mountPoint), MNT_DETACH); });
        const QString path = mountPoint + "/results.jsonl";
        {
            Shift shift(*m_sim, path);
            QVERIFY(shift.at("Scan unit 1"));
            QVERIFY(shift.say("SN-1"));
            // Full once the unit is under test: its record is what cannot be written.
            QVERIFY(shift.at("Connect unit SN-1"));
            QFile filler(mountPoint + "/filler");
            QVERIFY(filler.open(QIODevice::WriteOnly));
            while (filler.write(QByteArray(4096, 'x')) > 0 && filler.flush()) {
            }
            QVERIFY(shift.at("Do both lines show"));
            QVERIFY(shift.say("y"));
            QVERIFY(shift.press("123456"));
            QVERIFY(shift.ends(4));
            QVERIFY2(shift.said().contains("NOT SAVED SN-1: PASS: "), qPrintable(shift.said()));
            QVERIFY(!shift.said().contains("Saved "));
        }
    }

    // A station killed in the middle of a unit: the next start records the test as incomplete.
    void killedMidTest()
    {
        {
            Shift shift(*m_sim, m_results);
            QVERIFY(shift.test("SN-1"));
            QVERIFY(shift.connect("SN-2"));
            QVERIFY(shift.say("y"));
            QVERIFY(shift.press("1"));
            QVERIFY(shift.at("Press key 2"));
            ::kill(pid_t(shift.station().process().processId()), SIGKILL);
            QVERIFY(shift.station().process().waitForFinished(5000));
        }
        QVERIFY(QFile::exists(m_results + ".testing"));
        Shift again(*m_sim, m_results);
        QVERIFY(again.at("SN-2 was being tested when the station stopped: recorded as incomplete"));
        QVERIFY(again.at("Scan unit 1"));
        QVERIFY(again.say("end"));
        QVERIFY(again.ends(0));
        QVERIFY(!QFile::exists(m_results + ".testing"));
        const QList<QJsonObject> records = readRecords(m_results);
        QCOMPARE(records.size(), 2);
        QCOMPARE(records[1]["unit"].toString(), QString("SN-2"));
        QCOMPARE(records[1]["verdict"].toString(), QString("incomplete"));
        QCOMPARE(records[1]["attempt"].toInt(), 1);
        QCOMPARE(records[1]["seq"].toInt(), 2);
        for (const QJsonValue step : records[1]["steps"].toArray())
            QCOMPARE(step.toObject()["result"].toString(), QString("skipped"));
    }

    // A last line cut by a crash is left as it is; the next record starts a line of its own.
    void tornLastLine()
    {
        QFile file(m_results);
        QVERIFY(file.open(QIODevice::WriteOnly));
        const QByteArray whole = "{\"unit\":\"SN-0\",\"verdict\":\"pass\","
                                 "\"started\":\"2026-12-08T08:00:00.000Z\","
                                 "\"finished\":\"2026-12-08T08:01:00.000Z\"}";
        const QByteArray torn = "{\"unit\":\"SN-";
        file.write(whole + '\n' + torn);
        file.close();
        Shift shift(*m_sim, m_results);
        QVERIFY(shift.test("SN-1"));
        QVERIFY(shift.say("end"));
        QVERIFY(shift.ends(0));
        QVERIFY2(shift.said().contains("1 line of"), qPrintable(shift.said()));
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QByteArrayList lines = file.readAll().split('\n');
        QCOMPARE(lines.size(), 4);
        QCOMPARE(lines[1], torn);
        QCOMPARE(QJsonDocument::fromJson(lines[2]).object()["seq"].toInt(), 3);

        LineProcess summary(stationProgram(), {"--summary", m_results, "--json"});
        QVERIFY(summary.process().waitForFinished(10000));
        QCOMPARE(summary.process().exitCode(), 0);
        const QJsonObject figures = QJsonDocument::fromJson(summary.lines().join('\n')).object();
        QCOMPARE(figures["unreadable"].toInt(), 1);
        QCOMPARE(figures["units"].toInt(), 2);
    }

    // Ctrl+C and SIGTERM end the shift with its summary; only a unit under test gets a record.
    void stopped_data()
    {
        QTest::addColumn<int>("signal");
        QTest::addColumn<bool>("duringUnit");
        QTest::addColumn<int>("status");
        QTest::newRow("Ctrl+C at the scan") << SIGINT << false << 130;
        QTest::newRow("SIGTERM during a unit") << SIGTERM << true << 143;
    }
    void stopped()
    {
        QFETCH(int, signal);
        QFETCH(bool, duringUnit);
        QFETCH(int, status);
        Shift shift(*m_sim, m_results);
        if (duringUnit) {
            QVERIFY(shift.connect("SN-1"));
            QVERIFY(shift.say("y"));
            QVERIFY(shift.at("Press key 1"));
        } else {
            QVERIFY(shift.at("Scan unit 1"));
        }
        ::kill(pid_t(shift.station().process().processId()), signal);
        QVERIFY(shift.ends(status));
        QVERIFY(shift.said().contains("Summary of this shift"));
        const QList<QJsonObject> records = readRecords(m_results);
        QCOMPARE(records.size(), duringUnit ? 1 : 0);
        if (duringUnit)
            QCOMPARE(records[0]["verdict"].toString(), QString("aborted"));
    }

private:
    std::optional<Sim> m_sim;
    std::optional<QTemporaryDir> m_scratch;
    QString m_results;
};

QTEST_GUILESS_MAIN(StationTest)

#include "tst_station.moc"
