#include "check/ResultsFile.h"
#include "check/ShiftSummary.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

namespace
{

const QDateTime FirstStart = QDateTime::fromString("2026-12-08T08:00:00.000Z", Qt::ISODateWithMs);
constexpr int SecondsApart = 100;

// One test a line, "SHIFT UNIT VERDICT[:FAILED STEP] SECONDS", started SecondsApart after the one
// before; UNIT "-": a check run without a unit; "#": a line that is not a record.
QByteArray resultsFile(const QStringList &tests)
{
    QByteArray content;
    for (int index = 0; index < tests.size(); ++index) {
        const QStringList fields = tests[index].split(' ');
        if (fields[0] == "#") {
            content += "{\"unit\":\"cut\n";
            continue;
        }
        const QStringList verdict = fields[2].split(':');
        const QDateTime started = FirstStart.addSecs(qint64(index) * SecondsApart);
        const QString step = verdict.value(1, "rest").replace('_', ' ');
        QJsonObject record{
            {"shift", fields[0]},
            {"verdict", verdict[0]},
            {"started", started.toString(Qt::ISODateWithMs)},
            {"finished",
             started.addMSecs(qRound64(fields[3].toDouble() * 1000)).toString(Qt::ISODateWithMs)},
            {"steps", QJsonArray{QJsonObject{{"name", "reply"}, {"result", "pass"}},
                                 QJsonObject{{"name", step}, {"result", verdict[0]}}}}};
        if (fields[1] != "-")
            record.insert("unit", fields[1]);
        content += QJsonDocument(record).toJson(QJsonDocument::Compact) + '\n';
    }
    return content;
}

struct Run {
    int status;
    QByteArray out;
    QByteArray err;
};

Run summaryOf(const QStringList &arguments)
{
    QProcess program;
    program.start(QStringLiteral(KV310_TEST_PATH), QStringList{"--summary"} + arguments);
    program.waitForFinished(30000);
    return {program.exitCode(), program.readAllStandardOutput(), program.readAllStandardError()};
}

} // namespace

class SummaryTest : public QObject
{
    Q_OBJECT

private slots:
    // kv310-test --summary FILE [--json], the figures worked out by hand from each row's tests;
    // and the station's running line for the last shift of the file, in process.
    void figures_data()
    {
        QTest::addColumn<QStringList>("tests");
        QTest::addColumn<QByteArray>("expected");
        QTest::addColumn<QString>("line");
        // A fails then passes, C fails twice, B passes in both shifts; the earliest start is an
        // aborted test's and the latest end an incomplete one's. Cycles of the eight completed
        // tests: 10 12 20 25 30 35 40 50, median (25 + 30) / 2. In s2: B, C and D.
        QTest::newRow("shifts with retests")
            << QStringList{"s1 C aborted 5",    "s1 A fail:key_3 20",
                           "s1 A pass 30",      "#",
                           "s1 B pass 40",      "s2 C fail:rest 10",
                           "s2 C fail:rest 12", "s2 - pass 25",
                           "s2 D pass 50",      "s2 B pass 35",
                           "s2 E incomplete 0"}
            << QByteArray(R"({"units":4,"passed":3,"failed":1,"yield":0.75,"first_pass_yield":0.5,
                "retests":3,"aborted":1,"incomplete":1,"fails_by_step":{"key 3":1,"rest":2},
                "median_cycle_s":27.5,"first":"2026-12-08T08:00:00.000Z",
                "last":"2026-12-08T08:16:40.000Z","unreadable":1})")
            << "Shift: 3 units, 2 passed, 1 failed; yield 66.7%, first pass 66.7%";
        QTest::newRow("one unit, odd count, rounded")
            << QStringList{"s X fail:key_6 1.23", "s X fail:rest 4.56", "s X pass 7.89"}
            << QByteArray(R"({"units":1,"passed":1,"failed":0,"yield":1,"first_pass_yield":0,
                "retests":2,"aborted":0,"incomplete":0,"fails_by_step":{"key 6":1,"rest":1},
                "median_cycle_s":4.6,"first":"2026-12-08T08:00:00.000Z",
                "last":"2026-12-08T08:03:27.890Z","unreadable":0})")
            << "Shift: 1 unit, 1 passed, 0 failed; yield 100.0%, first pass 0.0%";
        QStringList twelve;
        for (int unit = 0; unit < 12; ++unit)
            twelve << QStringLiteral("s U%1 %2 1").arg(unit).arg(unit == 3 ? "fail" : "pass");
        QTest::newRow("twelve units")
            << twelve << QByteArray(R"({"units":12,"passed":11,"failed":1,"yield":0.9167,
                "first_pass_yield":0.9167,"retests":0,"aborted":0,"incomplete":0,
                "fails_by_step":{"rest":1},"median_cycle_s":1,"first":"2026-12-08T08:00:00.000Z",
                "last":"2026-12-08T08:18:21.000Z","unreadable":0})")
            << "Shift: 12 units, 11 passed, 1 failed; yield 91.7%, first pass 91.7%";
        QTest::newRow("no record")
            << QStringList{"#"}
            << QByteArray(R"({"units":0,"passed":0,"failed":0,"yield":null,"first_pass_yield":null,
                "retests":0,"aborted":0,"incomplete":0,"fails_by_step":{},"median_cycle_s":null,
                "first":null,"last":null,"unreadable":1})")
            << "Shift: 0 units";
    }
    void figures()
    {
        QFETCH(QStringList, tests);
        QFETCH(QByteArray, expected);
        QFETCH(QString, line);
        QTemporaryDir scratch;
        QFile file(scratch.filePath("r.jsonl"));
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(resultsFile(tests));
        file.close();
        const Run json = summaryOf({file.fileName(), "--json"});
        QCOMPARE(json.status, 0);
        QCOMPARE(json.out.count('\n'), 1);
        const QJsonDocument figures = QJsonDocument::fromJson(expected);
        QCOMPARE(QJsonDocument::fromJson(json.out), figures);
        const Run text = summaryOf({file.fileName()});
        QCOMPARE(text.status, 0);
        QVERIFY(text.out.startsWith(QStringLiteral("Units: %1, %2 passed")
                                        .arg(figures["units"].toInt())
                                        .arg(figures["passed"].toInt())
                                        .toUtf8()));

        ResultLines lines;
        lines.add(resultsFile(tests));
        const QString shift = tests.constLast().section(' ', 0, 0);
        QCOMPARE(runningLine(summarize(shiftRecords(lines.records(), shift), 0)), line);
    }

    void unreadableFile()
    {
        for (const QString path : {"/nonexistent/r.jsonl", "/"}) {
            const Run run = summaryOf({path});
            QCOMPARE(run.status, 4);
            QVERIFY2(
                run.err.startsWith("kv310-test: cannot read the results " + path.toUtf8() + ": "),
                run.err.constData());
            QVERIFY(run.out.isEmpty());
        }
    }
};

QTEST_GUILESS_MAIN(SummaryTest)

#include "tst_summary.moc"
