#include "ChildProcesses.h"
#include "PseudoTerminal.h"

#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

#include <algorithm>
#include <csignal>
#include <ctime>
#include <functional>

// One run of the program's check (or two on one report): where it is pointed, what the unit and
// the operator do, and how it ends. The steps' own faults are tst_unit_check's.
struct CheckRow {
    enum class Port { One, Two, Missing };
    enum class File { Kept, Unopenable, Full, None };
    enum class Then { Nothing, KillUnit, Interrupt }; // at the first key not pressed

    Port port = Port::One;
    QStringList options;
    QByteArray answer = "y"; // to the display question
    int presses = 6;         // the keys pressed as asked, from key 1
    Then then = Then::Nothing;
    File report = File::Kept;
    File trace = File::None;
    int runs = 1;
    bool underWine = false;

    int status = 0;
    QByteArray says = "PASS"; // the last line starts with it
    QString detail;           // of the failed step, which says names: starts with it
    QByteArray error;         // standard error contains it
    QByteArrayList display{"|PASS            |", "|                |"};
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
        const auto row = [](const char *name, const std::function<void(Row &)> &change) {
            Row made;
            change(made);
            QTest::newRow(name) << made;
        };
        const auto ends = [](Row &r, int status, const QByteArray &says, const QByteArray &error) {
            r.status = status;
            r.says = says;
            r.error = error;
            r.display.clear();
        };
        row("good unit", [](Row &r) { r.underWine = true; });
        row("missing port", [&](Row &r) {
            r.port = Row::Port::Missing;
            ends(r, 3, "Port 1 doesn't exist!", {});
            r.underWine = true;
        });
        row("bad rate", [&](Row &r) {
            r.options = QStringList{"--rate", "1234"};
            ends(r, 2, "", "--rate takes 2400 or 9600, not '1234'.\nTry ");
        });
        row("--port 2 --rate 9600, the line's rate", [](Row &r) {
            r.port = Row::Port::Two;
            r.options = QStringList{"--rate", "9600"};
        });
        row("FAIL and the step on the unit", [&](Row &r) {
            r.answer = "n";
            ends(r, 1, "FAIL display", {});
            r.detail = "the operator saw otherwise";
            r.display = QByteArrayList{"|FAIL            |", "|display         |"};
        });
        row("Ctrl+C", [&](Row &r) {
            r.presses = 1;
            r.then = Row::Then::Interrupt;
            ends(r, 130, "ABORTED", {});
        });
        row("a report that cannot be opened", [&](Row &r) {
            r.report = Row::File::Unopenable;
            ends(r, 2, "", "cannot write the report");
        });
        row("a report whose write fails", [](Row &r) {
            r.report = Row::File::Full;
            r.status = 1;
            r.error = "cannot write the report /dev/full: No space left on device";
        });
        row("unit killed while a key is awaited", [&](Row &r) {
            r.presses = 2;
            r.then = Row::Then::KillUnit;
            ends(r, 1, "FAIL key 3", {});
            r.detail = "The device is no longer connected";
        });
        row("two runs append to the report and the trace", [](Row &r) {
            r.trace = Row::File::Kept;
            r.runs = 2;
        });
        row("a trace that cannot be opened", [&](Row &r) {
            r.trace = Row::File::Unopenable;
            ends(r, 2, "", {});
        });
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
        const auto pathOf = [&scratch](Row::File file, const QString &name) {
            return file == Row::File::Full         ? QStringLiteral("/dev/full")
                   : file == Row::File::Unopenable ? scratch.filePath("no-such-folder/" + name)
                                                   : scratch.filePath(name);
        };
        const QString report = pathOf(row.report, QStringLiteral("report.jsonl"));
        const QString trace = pathOf(row.trace, QStringLiteral("trace"));
        if (row.trace == Row::File::Unopenable)
            row.error = "cannot open " + trace.toLocal8Bit() + " for the trace";
        const int rate = row.options.contains("9600") ? 9600 : 2400;
        const QString missing = scratch.filePath(QStringLiteral("no-such-port"));
        const QString given = row.port == Row::Port::Two ? "2" : "1";
        const QString errors = scratch.filePath(QStringLiteral("stderr"));
        // sh and env become the check, so that a signal reaches it; Wine is not given -platform.
        QStringList arguments{"-c", R"(exec "$@" 2>"$0")", errors, "env", "-u", "QT_QPA_PLATFORM"};
        arguments << "KV310_COM1=" + (row.port == Row::Port::One ? sim.portPath() : missing)
                  << "KV310_COM2=" + (row.port == Row::Port::Two ? sim.portPath() : missing)
                  << (wrapper.isEmpty() ? QStringLiteral(KV310_TEST_PATH) : wrapper) << "--check"
                  << "--port" << given << "--unit"
                  << "SN 0001"
                  << "--report" << report << row.options;
        if (row.trace != Row::File::None)
            arguments << "--trace" << trace;

        for (int run = 0; run < row.runs; ++run) {
            LineProcess check(QStringLiteral("sh"), arguments);
            const qint64 pid = check.process().processId();
            QElapsedTimer sinceAction;
            sinceAction.start();
            double processorAtKill = -1;
            while (const auto line = check.nextLine(wrapper.isEmpty() ? 10000 : 60000)) {
                if (line->startsWith("Do both lines show")) {
                    QCOMPARE(lineSettings(SlaveProbe(sim.portPath()).get()),
                             QStringLiteral("%1 8N1").arg(rate));
                    check.send(row.answer);
                } else if (line->startsWith("Press key ")) {
                    const int key = line->back() - '0';
                    if (key <= row.presses) {
                        press(sim, check, key);
                    } else if (row.then == Row::Then::KillUnit) {
                        processorAtKill = processorSeconds(pid);
                        sim.process().kill();
                    } else if (row.then == Row::Then::Interrupt) {
                        ::kill(pid_t(pid), SIGINT);
                    }
                    sinceAction.restart();
                }
                if (processorAtKill >= 0) {
                    const double busy = processorSeconds(pid) - processorAtKill;
                    QVERIFY2(busy < 0.3, qPrintable(QStringLiteral("%1 s of processor").arg(busy)));
                }
            }
            QVERIFY(check.process().state() == QProcess::NotRunning ||
                    check.process().waitForFinished(10000));
            const qint64 endMs = sinceAction.elapsed();
            QVERIFY2(endMs <= (row.then == Row::Then::Nothing ? 10000 : 2000),
                     qPrintable(QString::number(endMs)));
            QCOMPARE(check.process().exitCode(), row.status);
            QVERIFY2(check.lines().value(check.lines().size() - 1).startsWith(row.says),
                     check.lines().join('\n'));
            QFile errorFile(errors);
            QVERIFY(errorFile.open(QIODevice::ReadOnly));
            const QByteArray errorText = errorFile.readAll();
            QVERIFY2(errorText.contains(row.error), errorText.constData());
        }

        // What the check last sent may still be on its way.
        if (!row.display.isEmpty())
            QTRY_COMPARE_WITH_TIMEOUT(display(sim), row.display, 5000);
        if (row.status == 2) { // refused before the port was opened: the unit heard nothing
            QVERIFY(sim.send("show", "|"));
            QVERIFY2(!sim.lines().join('\n').contains("rx "), sim.lines().join('\n'));
        }
        if (row.trace == Row::File::Kept)
            checkTrace(trace, sim);

        if (row.report == Row::File::Full)
            return;
        QFile file(report);
        const QByteArrayList lines =
            file.open(QIODevice::ReadOnly) ? file.readAll().split('\n') : QByteArrayList();
        if (row.status == 2) {
            QVERIFY(lines.join().isEmpty());
            return;
        }
        QCOMPARE(lines.size(), row.runs + 1); // a line a run, and the last one's end
        for (int run = 0; run < row.runs; ++run) {
            const QJsonObject record = QJsonDocument::fromJson(lines[run]).object();
            QCOMPARE(record.keys(), QStringList({"device", "finished", "port", "rate", "started",
                                                 "steps", "tool", "unit", "verdict", "version"}));
            QCOMPARE(record["unit"].toString(), QStringLiteral("SN 0001"));
            QCOMPARE(record["port"].toString(), given);
            if (wrapper.isEmpty())
                QCOMPARE(record["device"].toString(),
                         row.port == Row::Port::Missing ? missing : sim.portPath());
            QCOMPARE(record["rate"].toInt(), rate);
            const QHash<int, QString> verdicts{
                {0, "pass"}, {1, "fail"}, {3, "error"}, {130, "aborted"}};
            QCOMPARE(record["verdict"].toString(), verdicts.value(row.status));
            for (const auto &value : record["steps"].toArray()) {
                const QJsonObject step = value.toObject();
                if (!row.detail.isEmpty() && row.says.endsWith(step["name"].toString().toUtf8()))
                    QVERIFY2(step["detail"].toString().startsWith(row.detail),
                             qPrintable(step["detail"].toString()));
            }
        }
    }

private:
    // The trace names the line and its settings, then holds the bytes sent as the unit got them.
    static void checkTrace(const QString &path, const Sim &sim)
    {
        QFile file(path);
        QVERIFY(file.open(QIODevice::ReadOnly));
        QByteArrayList events;
        QByteArray sent;
        for (const QByteArray &line : file.readAll().split('\n')) {
            events << line.mid(line.indexOf(' ') + 1);
            if (events.last().startsWith("> "))
                sent += QByteArray::fromHex(events.last().mid(2));
        }
        QCOMPARE(events.value(0), "# open " + sim.portPath().toLocal8Bit() + " 2400,N,8,1");
        QVERIFY(events.contains("> FE F0"));
        QVERIFY(std::any_of(events.cbegin(), events.cend(),
                            [](const QByteArray &event) { return event.startsWith("< "); }));
        QByteArray received;
        const QRegularExpression rx(QStringLiteral("^rx((?: [0-9A-F]{2}(?= |$))+)"));
        for (const QByteArray &line : sim.lines())
            received += QByteArray::fromHex(rx.match(line).captured(1).toLatin1());
        QCOMPARE(sent.toHex(' '), received.toHex(' '));
    }

    // The unit's two display lines as it shows them now.
    static QByteArrayList display(Sim &sim)
    {
        sim.takeLines();
        const auto first = sim.send("show") ? sim.waitForLine("|", 2000) : std::nullopt;
        return {first.value_or(""), sim.nextLine(2000).value_or("")};
    }

    // Holds the key asked for down for about 300 ms; the check must see it.
    static void press(Sim &sim, LineProcess &check, int key)
    {
        const QByteArray keys = QByteArray::number(1 << (key - 1), 16).rightJustified(2, '0');
        QVERIFY(sim.send("keys " + keys, "keys " + keys));
        QElapsedTimer held;
        held.start();
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
