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
// before; UNIT "-": a check run without a unit.
QByteArray resultsFile(const QStringList &tests)
{
    QByteArray content;
    for (int index = 0; index < tests.size(); ++index) {
        const QStringList fields = tests[index].split(' ');
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
            << QStringList{"s1 C aborted 5",   "s1 A fail:key_3 20", "s1 A pass 30",
                           "s1 B pass 40",     "s2 C fail:rest 10",  "s2 C fail:rest 12",
                           "s2 - pass 25",     "s2 D pass 50",       "s2 B pass 35",
                           "s2 E incomplete 0"}
            << QByteArray(R"({"units":4,"passed":3,"failed":1,"yield":0.75,"first_pass_yield":0.5,
                "retests":3,"aborted":1,"incomplete":1,"fails_by_step":{"key 3":1,"rest":2},
                "median_cycle_s":27.5,"first":"2026-12-08T08:00:00.000Z",
                "last":"2026-12-08T08:15:00.000Z","unreadable":0})")
            << "Shift: 3 units, 2 passed, 1 failed; yield 66.7%, first pass 66.7%";
        // Three units, five tests, cycles 1.23 2 4.56 7.89 9.5: the median of an odd count.
        QTest::newRow("odd count, rounded")
            << QStringList{"s X fail:key_6 1.23", "s X pass 4.56", "s Y pass 7.89",
                           "s Z fail:rest 2", "s Z fail:rest 9.5"}
            << QByteArray(R"({"units":3,"passed":2,"failed":1,"yield":0.6667,
                "first_pass_yield":0.3333,"retests":2,"aborted":0,"incomplete":0,
                "fails_by_step":{"key 6":1,"rest":2},"median_cycle_s":4.6,
                "first":"2026-12-08T08:00:00.000Z","last":"2026-12-08T08:06:49.500Z",
                "unreadable":0})")
            << "Shift: 3 units, 2 passed, 1 failed; yield 66.7%, first pass 33.3%";
        QTest::newRow("one unit")
            << QStringList{"s X pass 1"}
            << QByteArray(R"({"units":1,"passed":1,"failed":0,"yield":1,"first_pass_yield":1,
                "retests":0,"aborted":0,"incomplete":0,"fails_by_step":{},"median_cycle_s":1,
                "first":"2026-12-08T08:00:00.000Z","last":"2026-12-08T08:00:01.000Z",
                "unreadable":0})")
            << "Shift: 1 unit, 1 passed, 0 failed; yield 100.0%, first pass 100.0%";
        QTest::newRow("no record")
            << QStringList{}
            << QByteArray(R"({"units":0,"passed":0,"failed":0,"yield":null,"first_pass_yield":null,
                "retests":0,"aborted":0,"incomplete":0,"fails_by_step":{},"median_cycle_s":null,
                "first":null,"last":null,"unreadable":0})")
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
        QVERIFY(
            summaryOf({file.fileName()})
                .out.startsWith("Units: " + QByteArray::number(figures["units"].toInt()) + ", "));

        ResultLines lines;
        lines.add(resultsFile(tests));
        const QString shift = tests.value(tests.size() - 1).section(' ', 0, 0);
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
