#include "ChildProcesses.h"

#include <QElapsedTimer>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>
#include <QTest>

#include <algorithm>
#include <ctime>

// One run of the check: how it starts, what the unit and the operator do, and how it ends.
struct CheckRow {
    QString port;    // sim: --port 1 at the unit; path: the device named; missing: no such device
    QString options; // apart by spaces
    QByteArray fault;
    QByteArray answer;  // to the display's question; empty: end of input
    QByteArray presses; // the key pressed at each prompt, in turn
    QByteArray then;    // at the next prompt: kill the unit, or SIGTERM
    int status;
    QString says;      // the last line starts with it
    int passed;        // steps passed (or not judged) before the rest
    QString detail;    // of the failed step
    int maxMs = 10000; // the bounds from the last action to the end
    int minMs = 0;
    bool underWine = false;
};
Q_DECLARE_METATYPE(CheckRow)

// kv310-test --check as a child process against the simulated unit, with faults injected and an
// operator played from here. KV310_TEST_CHECK, when set, runs another build of the check in its
// place (the Windows one under Wine): only the rows marked for it run then.
class CheckTest : public QObject
{
    Q_OBJECT

private slots:
    void check_data()
    {
        QTest::addColumn<CheckRow>("row");
        const auto row = [](const char *name, const CheckRow &row) {
            QTest::newRow(name) << row;
        };
        row("good unit", {"sim", "", "", "y", "123456", "", 0, "PASS", 9, "", 10000, 0, true});
        row("stuck key", {"sim", "", "stuck 04", "", "", "", 1, "FAIL rest", 1,
                          "key 3 is down before any was pressed"});
        row("crossed key", {"sim", "", "", "y", "15", "", 1, "FAIL key 2", 4, "key 5 went down"});
        row("dead key", {"path", "--key-timeout 2", "", "y", "123", "", 1, "FAIL key 4", 6,
                         "key 4 not seen within 2 s", 3000, 2000});
        row("no reply", {"sim", "", "mute on", "", "", "", 1, "FAIL reply", 0, "no reply", 2000});
        row("display judged wrong",
            {"sim", "", "", "n", "", "", 1, "FAIL display", 2, "the operator saw otherwise"});
        row("display not confirmed, no input",
            {"path", "--no-confirm", "", "", "123456", "", 0, "PASS", 9, ""});
        row("missing port",
            {"missing", "", "", "", "", "", 3, "Port 1 doesn't exist!", 0, "", 60000, 0, true});
        row("bad rate", {"sim", "--rate 1234", "", "", "", "", 2, "", 0, ""});
        row("unit gone", {"sim", "", "", "y", "12", "kill", 1, "FAIL key 3", 5,
                          "The device is no longer connected", 2000});
        row("SIGTERM", {"sim", "", "", "y", "1", "term", 143, "ABORTED", 4, "", 2000});
    }
    void check()
    {
        QFETCH(CheckRow, row);
        const auto &[port, options, fault, answer, presses, then, status, says, passed, detail,
                     maxMs, minMs, underWine] = row;
        const QString wrapper = qEnvironmentVariable("KV310_TEST_CHECK");
        if (!wrapper.isEmpty() && !underWine)
            QSKIP("native only");

        Sim sim;
        QVERIFY(sim.isValid());
        if (!fault.isEmpty())
            QVERIFY(sim.send(fault, fault));
        QTemporaryDir scratch;
        const QString report = scratch.filePath(QStringLiteral("report.jsonl"));
        const QString com1 =
            port == QLatin1String("missing") ? scratch.filePath("no-such-port") : sim.portPath();
        const QString given = port == QLatin1String("path") ? com1 : QStringLiteral("1");
        // env becomes the check, so that the signal reaches it; Wine is not given -platform.
        const QString program = wrapper.isEmpty() ? QStringLiteral(KV310_TEST_PATH) : wrapper;
        QStringList arguments{"-u", "QT_QPA_PLATFORM", "KV310_COM1=" + com1, program, "--check"};
        arguments += QStringList{"--port", given, "--unit", "SN 0001", "--report", report};
        arguments += options.split(' ', Qt::SkipEmptyParts);
        LineProcess check(QStringLiteral("env"), arguments);
        QElapsedTimer sinceAction;
        sinceAction.start();
        double processorAtKill = -1;
        while (const auto line = check.nextLine(wrapper.isEmpty() ? 10000 : 60000)) {
            if (line->startsWith("Do both lines show")) {
                if (answer.isEmpty())
                    check.process().closeWriteChannel();
                else
                    check.send(answer);
            } else if (line->startsWith("Press key ")) {
                const int key = line->back() - '0';
                if (key <= presses.size()) {
                    press(sim, check, key, presses.at(key - 1) - '0');
                } else if (then == "kill") {
                    processorAtKill = processorSeconds(check.process().processId());
                    sim.process().kill();
                } else if (then == "term") {
                    check.process().terminate();
                }
                sinceAction.restart();
            }
            if (processorAtKill >= 0) {
                const double busy = processorSeconds(check.process().processId()) - processorAtKill;
                QVERIFY2(busy < 0.3,
                         qPrintable(QStringLiteral("%1 s of processor time").arg(busy)));
            }
        }
        QVERIFY(check.process().state() == QProcess::NotRunning ||
                check.process().waitForFinished(10000));
        const qint64 endMs = sinceAction.elapsed();
        QVERIFY2(endMs >= minMs && endMs <= maxMs, qPrintable(QString::number(endMs)));
        QCOMPARE(check.process().exitCode(), status);
        if (!says.isEmpty())
            QVERIFY2(check.lines().value(check.lines().size() - 1).startsWith(says.toUtf8()),
                     check.lines().join('\n'));

        QFile file(report);
        const QByteArrayList lines =
            file.open(QIODevice::ReadOnly) ? file.readAll().split('\n') : QByteArrayList();
        if (status == 2) {
            QVERIFY(lines.join().isEmpty());
            return;
        }
        QCOMPARE(lines.size(), 2); // one line, and its end
        const QJsonObject record = QJsonDocument::fromJson(lines.first()).object();
        QCOMPARE(record.keys(), QStringList({"device", "finished", "port", "rate", "started",
                                             "steps", "tool", "unit", "verdict", "version"}));
        QCOMPARE(record["unit"].toString(), QStringLiteral("SN 0001"));
        QCOMPARE(record["port"].toString(), given);
        if (wrapper.isEmpty())
            QCOMPARE(record["device"].toString(), com1);
        QCOMPARE(record["rate"].toInt(), 2400);
        QVERIFY(QDateTime::fromString(record["finished"].toString(), Qt::ISODateWithMs) >=
                QDateTime::fromString(record["started"].toString(), Qt::ISODateWithMs));
        const QHash<int, QString> verdicts{
            {0, "pass"}, {1, "fail"}, {3, "error"}, {143, "aborted"}};
        QCOMPARE(record["verdict"].toString(), verdicts.value(status));
        const QJsonArray steps = record["steps"].toArray();
        QCOMPARE(steps.size(), 9);
        // Up to the failed step all pass, after it all are skipped.
        for (int index = 0; index < steps.size(); ++index) {
            const QJsonObject step = steps[index].toObject();
            const QString expected = index >= passed
                                         ? (index == passed && status == 1 ? "fail" : "skipped")
                                     : index == 2 && options.contains("--no-confirm") ? "not judged"
                                                                                      : "pass";
            QCOMPARE(step["result"].toString(), expected);
            if (expected == QLatin1String("fail"))
                QVERIFY2(step["detail"].toString().startsWith(detail),
                         qPrintable(step["detail"].toString()));
        }
    }

private:
    // Presses key down for about 300 ms; when it is the one asked for, the check must see it.
    static void press(Sim &sim, LineProcess &check, int asked, int key)
    {
        const QByteArray keys = QByteArray::number(1 << (key - 1), 16).rightJustified(2, '0');
        QVERIFY(sim.send("keys " + keys, "keys " + keys));
        QElapsedTimer held;
        held.start();
        if (key == asked)
            QVERIFY(check.waitForLine("Key " + QByteArray::number(key) + " down", 5000));
        QTest::qWait(int(std::max<qint64>(0, 300 - held.elapsed())));
        QVERIFY(sim.send("keys 00", "keys 00"));
    }

    // The processor time a process has used so far.
    static double processorSeconds(qint64 pid)
    {
        clockid_t clock{};
        timespec used{};
        if (clock_getcpuclockid(pid_t(pid), &clock) != 0 || clock_gettime(clock, &used) != 0)
            return 0;
        return double(used.tv_sec) + double(used.tv_nsec) / 1e9;
    }
};

QTEST_GUILESS_MAIN(CheckTest)

#include "tst_check.moc"
