#include "ChildProcesses.h"
#include "PseudoTerminal.h"

#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>
#include <QTest>

#include <algorithm>
#include <csignal>
#include <ctime>

// One run of the program's check (or two on one report): where it is pointed, what the unit and
// the operator do, and how it ends. The steps' own faults are tst_unit_check's.
struct CheckRow {
    enum class Port { One, Two, Missing };
    enum class Report { Kept, Unopenable, Full };
    enum class Then { Nothing, KillUnit, Interrupt, Terminate };

    Port port = Port::One;
    QStringList options;
    int rate = 2400;
    QByteArray answer = "y"; // to the display question
    QByteArray presses = "123456";
    Then then = Then::Nothing; // at the prompt after the presses
    Report report = Report::Kept;
    int runs = 1;
    bool underWine = false;

    int status = 0;
    QByteArray says = "PASS"; // the last line starts with it
    int passed = 9;           // steps passed before the one that fails
    QString detail;           // of the failed step: starts with it
    QByteArray error;         // standard error contains it
    QByteArrayList display{"|PASS            |", "|                |"};
    int maxMs = 10000; // from the last action to the end

    CheckRow &on(Port given)
    {
        port = given;
        return *this;
    }
    CheckRow &given(const QStringList &more)
    {
        options += more;
        return *this;
    }
    CheckRow &atRate(int baud)
    {
        rate = baud;
        return given({"--rate", QString::number(baud)});
    }
    CheckRow &answering(const QByteArray &line)
    {
        answer = line;
        return *this;
    }
    CheckRow &pressing(const QByteArray &keys, Then next)
    {
        presses = keys;
        then = next;
        return *this;
    }
    CheckRow &reporting(Report to, int times = 1)
    {
        report = to;
        runs = times;
        return *this;
    }
    CheckRow &onWineToo()
    {
        underWine = true;
        return *this;
    }
    CheckRow &ending(int exitStatus, const QByteArray &lastLine, int stepsPassed,
                     const QString &failedDetail = {})
    {
        status = exitStatus;
        says = lastLine;
        passed = stepsPassed;
        detail = failedDetail;
        return *this;
    }
    CheckRow &complaining(const QByteArray &text)
    {
        error = text;
        return *this;
    }
    CheckRow &showing(const QByteArrayList &lines)
    {
        display = lines;
        return *this;
    }
    CheckRow &within(int ms)
    {
        maxMs = ms;
        return *this;
    }
};
Q_DECLARE_METATYPE(CheckRow)

// kv310-test --check as a child process against the simulated unit: what only the program shows,
// its options, signals, report and exit status. KV310_TEST_CHECK, when set, runs another build of
// the check in its place (the Windows one under Wine): only the rows marked for it run then.
class CheckTest : public QObject
{
    Q_OBJECT

    using Row = CheckRow;

private slots:
    void check_data()
    {
        QTest::addColumn<CheckRow>("row");
        const auto row = [](const char *name, const CheckRow &row) {
            QTest::newRow(name) << row;
        };
        row("good unit", Row().onWineToo());
        row("missing port", Row()
                                .on(Row::Port::Missing)
                                .ending(3, "Port 1 doesn't exist!", 0)
                                .showing({})
                                .onWineToo());
        row("bad rate", Row()
                            .given({"--rate", "1234"})
                            .ending(2, "", 0)
                            .complaining("--rate takes 2400 or 9600, not '1234'.\nTry ")
                            .showing({}));
        row("--rate 9600 is the line's rate", Row().atRate(9600));
        row("--port 2", Row().on(Row::Port::Two));
        row("FAIL and the step on the unit",
            Row()
                .answering("n")
                .ending(1, "FAIL display", 2, "the operator saw otherwise")
                .showing({"|FAIL            |", "|display         |"}));
        row("Ctrl+C", Row()
                          .pressing("1", Row::Then::Interrupt)
                          .ending(130, "ABORTED", 4)
                          .showing({})
                          .within(2000));
        row("SIGTERM", Row()
                           .pressing("1", Row::Then::Terminate)
                           .ending(143, "ABORTED", 4)
                           .showing({})
                           .within(2000));
        row("a second run appends to the report", Row().reporting(Row::Report::Kept, 2));
        row("a report that cannot be opened", Row()
                                                  .reporting(Row::Report::Unopenable)
                                                  .ending(2, "", 0)
                                                  .complaining("cannot write the report")
                                                  .showing({}));
        row("a report whose write fails",
            Row()
                .reporting(Row::Report::Full)
                .ending(1, "PASS", 9)
                .complaining("cannot write the report /dev/full: No space left on device"));
        row("unit killed while a key is awaited",
            Row()
                .pressing("12", Row::Then::KillUnit)
                .ending(1, "FAIL key 3", 5, "The device is no longer connected")
                .showing({})
                .within(2000));
    }
    void check()
    {
        QFETCH(CheckRow, row);
        const QString wrapper = qEnvironmentVariable("KV310_TEST_CHECK");
        if (!wrapper.isEmpty() && !row.underWine)
            QSKIP("native only");

        Sim sim;
        QVERIFY(sim.isValid());
        QTemporaryDir scratch;
        const QString report = row.report == Row::Report::Full ? QStringLiteral("/dev/full")
                               : row.report == Row::Report::Unopenable
                                   ? scratch.filePath(QStringLiteral("no-such-folder/report.jsonl"))
                                   : scratch.filePath(QStringLiteral("report.jsonl"));
        const QString missing = scratch.filePath(QStringLiteral("no-such-port"));
        const QString given =
            row.port == Row::Port::Two ? QStringLiteral("2") : QStringLiteral("1");
        const QString errors = scratch.filePath(QStringLiteral("stderr"));
        // sh and env become the check, so that a signal reaches it; Wine is not given -platform.
        QStringList arguments{"-c", R"(exec "$@" 2>"$0")", errors, "env", "-u", "QT_QPA_PLATFORM"};
        arguments << "KV310_COM1=" + (row.port == Row::Port::One ? sim.portPath() : missing)
                  << "KV310_COM2=" + (row.port == Row::Port::Two ? sim.portPath() : missing)
                  << (wrapper.isEmpty() ? QStringLiteral(KV310_TEST_PATH) : wrapper) << "--check"
                  << "--port" << given << "--unit"
                  << "SN 0001"
                  << "--report" << report << row.options;

        for (int run = 0; run < row.runs; ++run) {
            LineProcess check(QStringLiteral("sh"), arguments);
            QElapsedTimer sinceAction;
            sinceAction.start();
            double processorAtKill = -1;
            while (const auto line = check.nextLine(wrapper.isEmpty() ? 10000 : 60000)) {
                if (line->startsWith("Do both lines show")) {
                    QCOMPARE(lineSettings(SlaveProbe(sim.portPath()).get()),
                             QStringLiteral("%1 8N1").arg(row.rate));
                    check.send(row.answer);
                } else if (line->startsWith("Press key ")) {
                    const int key = line->back() - '0';
                    const qint64 pid = check.process().processId();
                    if (key <= row.presses.size())
                        press(sim, check, key, row.presses.at(key - 1) - '0');
                    else if (row.then == Row::Then::KillUnit) {
                        processorAtKill = processorSeconds(pid);
                        sim.process().kill();
                    } else if (row.then != Row::Then::Nothing) {
                        ::kill(pid_t(pid), row.then == Row::Then::Interrupt ? SIGINT : SIGTERM);
                    }
                    sinceAction.restart();
                }
                if (processorAtKill >= 0) {
                    const double busy =
                        processorSeconds(check.process().processId()) - processorAtKill;
                    QVERIFY2(busy < 0.3,
                             qPrintable(QStringLiteral("%1 s of processor time").arg(busy)));
                }
            }
            QVERIFY(check.process().state() == QProcess::NotRunning ||
                    check.process().waitForFinished(10000));
            const qint64 endMs = sinceAction.elapsed();
            QVERIFY2(endMs <= row.maxMs, qPrintable(QString::number(endMs)));
            QCOMPARE(check.process().exitCode(), row.status);
            if (!row.says.isEmpty())
                QVERIFY2(check.lines().value(check.lines().size() - 1).startsWith(row.says),
                         check.lines().join('\n'));
            QFile errorFile(errors);
            QVERIFY(errorFile.open(QIODevice::ReadOnly));
            const QByteArray errorText = errorFile.readAll();
            QVERIFY2(errorText.contains(row.error), errorText.constData());
        }

        if (!row.display.isEmpty())
            QCOMPARE(lastDisplay(sim, row.display), row.display);
        if (row.report == Row::Report::Unopenable) {
            // The port was never opened: the unit has heard nothing.
            QVERIFY(sim.send("show", "|"));
            QVERIFY2(!sim.lines().join('\n').contains("rx "), sim.lines().join('\n'));
        }
        if (row.report == Row::Report::Full)
            return;

        QFile file(report);
        const QByteArrayList lines =
            file.open(QIODevice::ReadOnly) ? file.readAll().split('\n') : QByteArrayList();
        if (row.status == 2) {
            QVERIFY(lines.join().isEmpty());
            return;
        }
        QCOMPARE(lines.size(), row.runs + 1); // a line a run, and the last one's end
        const QString device = row.port == Row::Port::Missing ? missing : sim.portPath();
        for (int run = 0; run < row.runs; ++run)
            checkRecord(QJsonDocument::fromJson(lines[run]).object(), row, given,
                        wrapper.isEmpty() ? device : QString());
    }

private:
    static void checkRecord(const QJsonObject &record, const CheckRow &row, const QString &given,
                            const QString &device)
    {
        QCOMPARE(record.keys(), QStringList({"device", "finished", "port", "rate", "started",
                                             "steps", "tool", "unit", "verdict", "version"}));
        QCOMPARE(record["unit"].toString(), QStringLiteral("SN 0001"));
        QCOMPARE(record["port"].toString(), given);
        if (!device.isEmpty())
            QCOMPARE(record["device"].toString(), device);
        QCOMPARE(record["rate"].toInt(), row.rate);
        QVERIFY(QDateTime::fromString(record["finished"].toString(), Qt::ISODateWithMs) >=
                QDateTime::fromString(record["started"].toString(), Qt::ISODateWithMs));
        const QHash<int, QString> verdicts{
            {0, "pass"}, {1, "fail"}, {3, "error"}, {130, "aborted"}, {143, "aborted"}};
        QCOMPARE(record["verdict"].toString(), verdicts.value(row.status));
        const QJsonArray steps = record["steps"].toArray();
        QCOMPARE(steps.size(), 9);
        // Up to the failed step all pass, after it all are skipped.
        for (int index = 0; index < steps.size(); ++index) {
            const QJsonObject step = steps[index].toObject();
            const QString expected = index > row.passed                         ? "skipped"
                                     : index < row.passed                       ? "pass"
                                     : row.status == 1 && !row.detail.isEmpty() ? "fail"
                                                                                : "skipped";
            QCOMPARE(step["name"].toString() + ": " + step["result"].toString(),
                     step["name"].toString() + ": " + expected);
            if (expected == QLatin1String("fail"))
                QVERIFY2(step["detail"].toString().startsWith(row.detail),
                         qPrintable(step["detail"].toString()));
        }
    }

    // The unit's two display lines once they read as expected, or as they last read (5 s at
    // most): what the check last sent may still be on its way.
    static QByteArrayList lastDisplay(Sim &sim, const QByteArrayList &expected)
    {
        QByteArrayList shown;
        const auto see = [&shown](const QByteArray &line) {
            if (line.startsWith('|'))
                shown =
                    (shown + QByteArrayList{line}).mid(std::max<qsizetype>(shown.size() - 1, 0));
        };
        sim.takeLines();
        std::for_each(sim.lines().cbegin(), sim.lines().cend(), see);
        const QDeadlineTimer deadline(5000);
        while (shown != expected) {
            const auto line = sim.nextLine(int(deadline.remainingTime()));
            if (!line)
                break;
            see(*line);
        }
        return shown;
    }

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
