#include "ChildProcesses.h"
#include "WindowHarness.h"
#include "common/AppInfo.h"

#include <QDeadlineTimer>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <sys/stat.h>

// The utility's window in a process of its own, the test driver, on a real line: against
// `kv310-sim --headless --link` as run.sh wires them, or on a pseudo-terminal the test holds.
// KV310_TEST_DRIVER, when set, starts another build of the driver in its place: the Windows one
// under Wine.
class EndToEndTest : public QObject
{
    Q_OBJECT

    enum PortSetup { Missing, Held, NotPermitted };

private slots:
    void throughTheSimulatedUnit_data()
    {
        QTest::addColumn<int>("rate");
        QTest::addColumn<bool>("terminate");
        QTest::addColumn<QByteArray>("ending");
        QTest::newRow("2400, the unit quits, Exit") << 2400 << false << QByteArray("click cmdExit");
        QTest::newRow("9600, the unit is terminated, title bar")
            << 9600 << true << QByteArray("close");
    }
    void throughTheSimulatedUnit()
    {
        QFETCH(int, rate);
        QFETCH(bool, terminate);
        QFETCH(QByteArray, ending);
        QTemporaryDir directory;
        const QString link = directory.filePath(QStringLiteral("kv310"));
        // A name taken by anything but a link it made itself is left alone.
        QVERIFY(QFile(link).open(QIODevice::WriteOnly));
        Sim taken({QStringLiteral("--link"), link});
        QVERIFY(!taken.isValid());
        taken.process().waitForFinished(5000);
        QCOMPARE(taken.process().exitCode(), 1);
        QVERIFY(QFileInfo(link).isFile());
        QVERIFY(QFile::remove(link));
        Sim sim({QStringLiteral("--link"), link});
        QVERIFY(sim.isValid());
        QCOMPARE(QFileInfo(link).symLinkTarget(), sim.portPath());

        DriverProcess window(link);
        QVERIFY(window.started());
        QVERIFY(window.openPort(rate));
        QVERIFY(window.click("cmdBanner"));
        QCOMPARE(lineSettings(SlaveProbe(link).get()), QString("%1 8N1").arg(rate));
        QVERIFY(sim.waitForLine('|' + AppInfo::WebAddress.toUtf8() + '|'));
        QVERIFY(sim.waitForLine("|  Test utility  |"));
        const QByteArray banner = "\x0c" + AppInfo::WebAddress.toLatin1() + "\x0a  Test utility";
        const QString log = QString::fromUtf8(window.ask("log").value_or("")).mid(4);
        QVERIFY2(logMismatch(log, banner).isEmpty(), qPrintable(logMismatch(log, banner)));

        // Lines it cannot take change nothing and print nothing on standard output (their errors go
        // to standard error): the next line there answers the next good command.
        sim.takeLines();
        for (const QByteArray &bad :
             {QByteArray("keys 100"), QByteArray("keys zz"), QByteArray("press 1"),
              QByteArray(2000, 'k'), QByteArray("mute maybe"), QByteArray("stuck 2g")})
            QVERIFY(sim.send(bad));
        QVERIFY(sim.send("keys 05"));
        QCOMPARE(sim.nextLine(8000), QByteArray("keys 05"));
        QVERIFY(window.click("cmdGetKey"));
        for (const char *line : {"rx FE F0 key-status request", "tx 05"})
            QVERIFY2(sim.waitForLine(line, 10000) == line, line);
        QTRY_COMPARE_WITH_TIMEOUT(window.ask("indicators").value_or(""),
                                  "indicators " + showing("13").toUtf8(), 10000);

        // The port the window still holds open must not keep the simulator alive.
        if (terminate)
            sim.process().terminate();
        else
            sim.send("quit");
        QVERIFY(sim.endsCleanly(5000));
        QVERIFY(!QFileInfo(link).isSymLink());
        QVERIFY(window.send(ending));
        QVERIFY(window.endsCleanly(5000));
    }

    // Poll Key's requests, then a ripple, as the line sees them; Exit with the port still open.
    void pollingRippleAndExit()
    {
        PtyPair line;
        DriverProcess window(line.slavePath());
        QVERIFY(window.started());
        QVERIFY(window.openPort(2400));
        QVERIFY(window.click("cmdPollKey"));
        QByteArray requests;
        QVERIFY(pollsAtItsPace(line, requests));
        QCOMPARE(requests, Wire::KeyRequest.repeated(21));

        // Answered once the ripple is over; the ripple stops polling as it starts.
        QVERIFY(window.send("click cmdRipple"));
        QByteArray first;
        do
            first = line.read(1);
        while (!first.isEmpty() && Wire::KeyRequest.contains(first.front()));
        QElapsedTimer clock;
        clock.start();
        const QByteArray ripple = Wire::rippleWrites().join();
        const QByteArray wire = first + line.read(ripple.size() - 1, 12000);
        const qint64 rippleMs = clock.elapsed();
        QCOMPARE(wire.toHex(' '), ripple.toHex(' '));
        // Its 68 pauses lie between its first byte and its last; the upper bound is generous.
        QVERIFY2(rippleMs >= 6700 && rippleMs < 9000, qPrintable(QString::number(rippleMs)));
        QVERIFY(window.waitForLine("clicked cmdRipple"));

        QVERIFY(window.expect("state", "state open=1 polling=0"));
        QVERIFY(window.send("click cmdExit"));
        QVERIFY(window.endsCleanly(5000));
        QCOMPARE(line.readAll(300), QByteArray());
    }

    // The unit pulled while Poll Key runs: one box, in the words Linux uses whatever the system
    // said; the toggle closes the port, and the unit plugged in again at the same name opens.
    void pulledWhilePolling()
    {
        PtyPair line;
        PtyPair fresh; // made first, so that it cannot take the pulled line's name
        const QTemporaryDir links;
        const QString port = links.filePath(QStringLiteral("usb-kv310-port0"));
        QVERIFY(QFile::link(line.slavePath(), port));
        DriverProcess window(port);
        QVERIFY(window.started());
        QVERIFY(window.click("cmdCom"));
        QVERIFY(window.click("cmdPollKey"));
        QCOMPARE(line.read(4), Wire::KeyRequest + Wire::KeyRequest);
        line.closeMaster();
        QCOMPARE(window.waitForLine("box ", 10000).value_or(""),
                 QByteArray("box Key poll failed: The device is no longer connected"));
        QVERIFY(window.expect("state", "state open=1 polling=0"));

        QVERIFY(QFile::remove(port));
        QVERIFY(QFile::link(fresh.slavePath(), port));
        QVERIFY(window.click("cmdCom"));
        QVERIFY(window.expect("state", "state open=0"));
        QVERIFY(window.click("cmdCom"));
        QVERIFY(window.click("cmdPollKey"));
        QCOMPARE(fresh.read(2), Wire::KeyRequest);
        QVERIFY(fresh.write("\x05"));
        QTRY_COMPARE_WITH_TIMEOUT(window.ask("indicators").value_or(""),
                                  "indicators " + showing("13").toUtf8(), 10000);
        QVERIFY(window.send("click cmdExit"));
        QVERIFY(window.endsCleanly(5000));
        QCOMPARE(boxes(window), 1);
    }

    // A long text drains while Poll Key runs, and the unit answers every request and floods the
    // line with 64 KiB of replies besides: the program lives on, its log is what the line got,
    // and it polls on at its pace once the text has gone.
    void floodWhileTextDrains()
    {
        PtyPair line;
        DriverProcess window(line.slavePath());
        QVERIFY(window.started());
        const QByteArray text =
            QByteArray("Pack my box with five dozen liquor jugs. ").repeated(50).left(2000);
        QVERIFY(window.click("cmdCom"));
        QVERIFY(window.expect("text " + text, "text set"));
        QVERIFY(window.click("cmdSend"));
        QVERIFY(window.click("cmdPollKey"));

        constexpr qsizetype Flood = 64 * 1024;
        QByteArray wire;
        qsizetype flooded = 0;
        qsizetype answered = 0;
        bool taken = true; // the utility takes what the unit sends
        for (const QDeadlineTimer deadline(60000);
             taken && (flooded < Flood || wire.size() < text.size()) && !deadline.hasExpired();) {
            wire += line.read(64, 20); // a unit that reads slowly
            const qsizetype requests = wire.mid(text.size()).count(Wire::KeyRequest);
            taken = line.write(QByteArray(requests - answered, '\x05'));
            answered = requests;
            if (taken && flooded < Flood) {
                taken = line.write(QByteArray(1024, '\x05'));
                flooded += 1024;
            }
        }
        QVERIFY2(taken, qPrintable(QStringLiteral("stopped taking bytes after %1 of the flood, "
                                                  "with %2 bytes sent")
                                       .arg(flooded)
                                       .arg(wire.size())));
        QCOMPARE(flooded, Flood);
        QCOMPARE(wire.left(text.size()), text);
        if ((wire.size() - text.size()) % 2 != 0)
            wire += line.read(1);

        QVERIFY(pollsAtItsPace(line, wire));
        QVERIFY(window.expect("state", "state open=1 polling=1"));
        QCOMPARE(window.ask("indicators").value_or(""), "indicators " + showing("13").toUtf8());

        // Clear stops polling; then nothing more comes, and the log ends where the line does.
        QVERIFY(window.click("cmdClear"));
        wire += line.readAll(300);
        QCOMPARE(wire.mid(text.size()),
                 Wire::KeyRequest.repeated((wire.size() - text.size()) / 2) + "\x0c");
        const QString log = QString::fromUtf8(window.ask("log").value_or("")).mid(4);
        QVERIFY2(logMismatch(log, wire).isEmpty(), qPrintable(logMismatch(log, wire)));
        QVERIFY(window.send("click cmdExit"));
        QVERIFY(window.endsCleanly(5000));
        QCOMPARE(boxes(window), 0);
    }

    void portMessages_data()
    {
        QTest::addColumn<int>("setup");
        QTest::addColumn<int>("port");
        QTest::addColumn<QString>("message");
        QTest::newRow("nothing behind port 2") << int(Missing) << 2 << "Port 2 doesn't exist!";
        QTest::newRow("port 1 held by another program")
            << int(Held) << 1 << "Port 1 already in use!";
        QTest::newRow("port 1 not permitted, as nobody")
            << int(NotPermitted) << 1 << "Port 1 already in use!";
    }
    void portMessages()
    {
        QFETCH(int, setup);
        QFETCH(int, port);
        QFETCH(QString, message);
        PtyPair line;
        QTemporaryDir scratch;
        QString com2 = scratch.filePath(QStringLiteral("no-such-port"));
        QStringList wrapper;
        std::unique_ptr<DriverProcess> holder;
        // The row that stands on the terminal's own refusal runs the native build: under Wine
        // it would test Wine's reading of errors no Windows port gives.
        const auto build =
            setup == NotPermitted ? DriverProcess::Build::Native : DriverProcess::Build::UnderTest;
        if (setup == NotPermitted) {
            const QString setpriv = QStandardPaths::findExecutable(QStringLiteral("setpriv"));
            if (geteuid() != 0 || setpriv.isEmpty())
                QSKIP("needs root and setpriv, to run the program as nobody");
            const QByteArray slave = line.slavePath().toLocal8Bit();
            QVERIFY(::chown(slave, 0, 0) == 0);
            QVERIFY(::chmod(slave, 0600) == 0);
            wrapper = QStringList{setpriv, "--reuid=nobody", "--regid=nogroup", "--clear-groups"};
        } else if (setup == Held) {
            // A native holder: Wine lets a second Windows program open a port one holds, and
            // keeps out only what the terminal itself refuses.
            holder = std::make_unique<DriverProcess>(line.slavePath(), QStringList(),
                                                     DriverProcess::Build::Native);
            QVERIFY(holder->started());
            QVERIFY(holder->openPort(2400));
        }
        const ScopedEnv chosen("KV310_COM2", com2);
        DriverProcess window(line.slavePath(), wrapper, build);
        QVERIFY(window.started());
        if (port == 2)
            QVERIFY(window.click("optPort(1)"));
        QVERIFY(window.send("click cmdCom"));
        QVERIFY(window.waitForLine("box " + message.toUtf8(), 10000));
        QVERIFY(window.expect("state", "state open=0 polling=0"));
        QVERIFY(window.send("click cmdExit"));
        QVERIFY(window.endsCleanly(5000));
        QCOMPARE(line.readAll(100), QByteArray());
    }

private:
    // Whether, after the next request, 20 more come at one every 100 ms; appends them to wire.
    static bool pollsAtItsPace(PtyPair &line, QByteArray &wire)
    {
        constexpr int Requests = 20;
        wire += line.read(2);
        QElapsedTimer clock;
        clock.start();
        wire += line.read(2 * Requests, 2 * Requests * 100 + 2000);
        const double meanMs = double(clock.elapsed()) / Requests;
        if (meanMs > 90 && meanMs < 110)
            return true;
        qWarning("%.1f ms between requests", meanMs);
        return false;
    }

    // The message boxes the driver has shown so far.
    static qsizetype boxes(DriverProcess &window)
    {
        const QByteArrayList &lines = window.lines();
        return std::count_if(lines.begin(), lines.end(),
                             [](const QByteArray &line) { return line.startsWith("box "); });
    }
};

KV310_WINDOW_TEST_MAIN(EndToEndTest)

#include "tst_end_to_end.moc"
