#include "ChildProcesses.h"

#include <QElapsedTimer>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>
#include <QTest>

#include <algorithm>
#include <fstream>
#include <unistd.h>

// kv310-test --check as a child process against the simulated unit, with faults injected and an
// operator played from here. KV310_TEST_CHECK, when set, runs another build of the check in its
// place (the Windows one under Wine): only the rows marked for it run then.
class CheckTest : public QObject
{
    Q_OBJECT

private slots:
    void check_data()
    {
        QTest::addColumn<QString>("port"); // sim: --port 1 at the unit; path: the device named
        QTest::addColumn<QStringList>("options");
        QTest::addColumn<QByteArray>("fault");
        QTest::addColumn<QByteArray>("answer");  // to the display's question; empty: end of input
        QTest::addColumn<QByteArray>("presses"); // the key pressed at each prompt, in turn
        QTest::addColumn<QByteArray>("then");    // at the next prompt: kill the unit, or SIGTERM
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("says");   // the last line starts with it
        QTest::addColumn<int>("passed");     // steps passed (or not judged) before the rest
        QTest::addColumn<QString>("detail"); // of the failed step
        QTest::addColumn<int>("minMs");      // the bounds from the last action to the end
        QTest::addColumn<int>("maxMs");
        QTest::addColumn<bool>("underWine");
        const QStringList none;
        const QByteArray nothing;
        QTest::newRow("good unit")
            << "sim" << none << nothing << QByteArray("y") << QByteArray("123456") << nothing << 0
            << "PASS" << 9 << QString() << 0 << 10000 << true;
        QTest::newRow("stuck key")
            << "sim" << none << QByteArray("stuck 04") << nothing << nothing << nothing << 1
            << "FAIL rest" << 1 << "key 3 is down before any was pressed" << 0 << 10000 << false;
        QTest::newRow("crossed key")
            << "sim" << none << nothing << QByteArray("y") << QByteArray("15") << nothing << 1
            << "FAIL key 2" << 4 << "key 5 went down" << 0 << 10000 << false;
        QTest::newRow("dead key") << "path" << QStringList{"--key-timeout", "2"} << nothing
                                  << QByteArray("y") << QByteArray("123") << nothing << 1
                                  << "FAIL key 4" << 6 << "key 4 not seen within 2 s" << 2000
                                  << 3000 << false;
        QTest::newRow("no reply") << "sim" << none << QByteArray("mute on") << nothing << nothing
                                  << nothing << 1 << "FAIL reply" << 0 << "no reply" << 0 << 2000
                                  << false;
        QTest::newRow("display judged wrong")
            << "sim" << none << nothing << QByteArray("n") << nothing << nothing << 1
            << "FAIL display" << 2 << "the operator saw otherwise" << 0 << 10000 << false;
        QTest::newRow("display not confirmed, no input")
            << "path" << QStringList{"--no-confirm"} << nothing << nothing << QByteArray("123456")
            << nothing << 0 << "PASS" << 9 << QString() << 0 << 10000 << false;
        QTest::newRow("missing port")
            << "missing" << none << nothing << nothing << nothing << nothing << 3
            << "Port 1 doesn't exist!" << 0 << QString() << 0 << 60000 << true;
        QTest::newRow("bad rate") << "sim" << QStringList{"--rate", "1234"} << nothing << nothing
                                  << nothing << nothing << 2 << QString() << 0 << QString() << 0
                                  << 10000 << false;
        QTest::newRow("unit gone")
            << "sim" << none << nothing << QByteArray("y") << QByteArray("12") << QByteArray("kill")
            << 1 << "FAIL key 3" << 5 << "The device is no longer connected" << 0 << 2000 << false;
        QTest::newRow("SIGTERM") << "sim" << none << nothing << QByteArray("y") << QByteArray("1")
                                 << QByteArray("term") << 143 << "ABORTED" << 4 << QString() << 0
                                 << 2000 << false;
    }
    void check()
    {
        QFETCH(QString, port);
        QFETCH(QStringList, options);
        QFETCH(QByteArray, fault);
        QFETCH(QByteArray, answer);
        QFETCH(QByteArray, presses);
        QFETCH(QByteArray, then);
        QFETCH(int, status);
        QFETCH(QString, says);
        QFETCH(int, passed);
        QFETCH(QString, detail);
        QFETCH(int, minMs);
        QFETCH(int, maxMs);
        QFETCH(bool, underWine);
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
        // env becomes the check, so that the signal reaches it; Wine is not given -platform.
        QStringList arguments{"-u", "QT_QPA_PLATFORM", "KV310_COM1=" + com1};
        arguments << (wrapper.isEmpty() ? QStringLiteral(KV310_TEST_PATH) : wrapper) << "--check"
                  << "--port" << (port == QLatin1String("path") ? com1 : QStringLiteral("1"))
                  << "--unit"
                  << "SN 0001"
                  << "--report" << report << options;
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
        const QString given = port == QLatin1String("path") ? com1 : QStringLiteral("1");
        QCOMPARE(record["port"].toString(), given);
        if (wrapper.isEmpty())
            QCOMPARE(record["device"].toString(), com1);
        QCOMPARE(record["rate"].toInt(), 2400);
        QVERIFY(QDateTime::fromString(record["finished"].toString(), Qt::ISODateWithMs) >=
                QDateTime::fromString(record["started"].toString(), Qt::ISODateWithMs));
        const QString verdict = status == 0   ? "pass"
                                : status == 1 ? "fail"
                                : status == 3 ? "error"
                                              : "aborted";
        QCOMPARE(record["verdict"].toString(), verdict);
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

    void cleanupTestCase()
    {
        if (m_latencies.empty())
            return;
        std::sort(m_latencies.begin(), m_latencies.end());
        qInfo(
            "key seen after the unit reports it: median %lld ms, largest %lld ms over %zu presses",
            m_latencies[m_latencies.size() / 2], m_latencies.back(), m_latencies.size());
    }

private:
    // Presses key down for about 300 ms; when it is the one asked for, times how soon the check
    // sees it.
    void press(Sim &sim, LineProcess &check, int asked, int key)
    {
        const QByteArray keys = QByteArray::number(1 << (key - 1), 16).rightJustified(2, '0');
        QVERIFY(sim.send("keys " + keys, "keys " + keys));
        QElapsedTimer held;
        held.start();
        if (key == asked) {
            QVERIFY(check.waitForLine("Key " + QByteArray::number(key) + " down", 5000));
            m_latencies.push_back(held.elapsed());
        }
        QTest::qWait(int(std::max<qint64>(0, 300 - held.elapsed())));
        QVERIFY(sim.send("keys 00", "keys 00"));
    }

    // The processor time a process has used so far, from /proc.
    static double processorSeconds(qint64 pid)
    {
        std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
        std::string field;
        double ticks = 0;
        for (int index = 1; index <= 15 && stat >> field; ++index) {
            if (index >= 14)
                ticks += std::stod(field);
        }
        return ticks / double(::sysconf(_SC_CLK_TCK));
    }

    std::vector<qint64> m_latencies;
};

QTEST_GUILESS_MAIN(CheckTest)

#include "tst_check.moc"
