// What hours on a bench bring: units unplugged, ports grabbed by other programs, a port closed or
// the program ended in the middle of a command, a unit that talks too much, an engineer who
// clicks anything. Each row runs against a real pseudo-terminal or a real child process.

#include "ChildProcesses.h"
#include "WindowHarness.h"
#include "common/AppInfo.h"

#include <QFile>
#include <QRandomGenerator>
#include <QSocketNotifier>
#include <QTemporaryDir>

#include <cerrno>
#include <ctime>
#include <fcntl.h>
#include <functional>
#include <termios.h>

namespace
{

enum Activity { Idle, Polling, Ripple, Send };

// More than the line's buffer holds, so that the rest waits in the utility.
QByteArray longText()
{
    return QByteArray("abcdefghijklmnopqrstuvwxyz").repeated(1539).left(40000);
}

// The seed of a test's random choices: KV310_FAULT_SEED, or a fresh one. Printed, to replay a run.
quint32 chosenSeed()
{
    const QString chosen = qEnvironmentVariable("KV310_FAULT_SEED");
    const quint32 seed =
        chosen.isEmpty() ? QRandomGenerator::global()->generate() : chosen.toUInt();
    qInfo("random seed %u (KV310_FAULT_SEED)", seed);
    return seed;
}

} // namespace

class FaultTest : public WindowTestCase
{
    Q_OBJECT

private slots:
    void lineFaults_data()
    {
        QTest::addColumn<int>("activity");
        QTest::addColumn<bool>("gone"); // the unit unplugged; else the port closed by the toggle
        QTest::addColumn<QString>("told");
        QTest::newRow("device gone while idle") << int(Idle) << true << "";
        QTest::newRow("device gone while polling") << int(Polling) << true << "Key poll failed: ";
        QTest::newRow("device gone in a ripple") << int(Ripple) << true << "Ripple failed: ";
        QTest::newRow("device gone while a Send drains") << int(Send) << true << "";
        QTest::newRow("toggle while polling") << int(Polling) << false << "";
        QTest::newRow("toggle in a ripple") << int(Ripple) << false << "Ripple failed: ";
        QTest::newRow("toggle while a Send drains") << int(Send) << false << "";
    }

    void lineFaults()
    {
        QFETCH(int, activity);
        QFETCH(bool, gone);
        QFETCH(QString, told);
        PtyPair fresh;
        WindowHarness &harness = *m_harness;
        PtyPair &line = harness.line();
        // The port is named by a link, as /dev/serial/by-id/ names a USB adapter: a unit plugged
        // in again comes back at the same name.
        const QTemporaryDir links;
        const QString port = links.filePath(QStringLiteral("usb-kv310-port0"));
        QVERIFY(QFile::link(line.slavePath(), port));
        const ScopedEnv com1("KV310_COM1", port);
        QVERIFY(harness.openPort());
        const QList<SeenMessage> &seen = harness.modals().messages;

        // What reached the line is read just before the fault, with no event run in between: what
        // comes later came after it.
        QByteArray wire;
        QString logAtFault;
        bool struck = false;
        const auto strike = [&] {
            wire += line.readAll(50);
            logAtFault = harness.logText();
            struck = true;
            if (gone)
                line.closeMaster();
            else
                harness.control("cmdCom")->click();
        };
        if (activity == Polling) {
            QVERIFY(harness.click("cmdPollKey"));
            QCOMPARE(wire = harness.wire(6), Wire::KeyRequest.repeated(3));
        } else if (activity == Send) {
            harness.control<QLineEdit>("txtSend")->setText(longText());
            QVERIFY(harness.click("cmdSend"));
        }
        if (activity == Ripple) {
            QTimer::singleShot(350, &harness.window(), strike);
            QVERIFY(harness.click("cmdRipple"));
            QVERIFY(struck);
            QVERIFY(wire.size() >= 3);
            QVERIFY(Wire::rippleStart().startsWith(wire));
        } else {
            strike();
        }

        // A dead line must not keep the program busy.
        const std::clock_t cpuBefore = std::clock();
        QTest::qWait(600);
        const double busy = double(std::clock() - cpuBefore) / CLOCKS_PER_SEC;
        QVERIFY2(busy < 0.3, qPrintable(QStringLiteral("%1 s of processor time").arg(busy)));
        if (!gone)
            QCOMPARE(line.readAll(50), QByteArray());
        // Only text that never left the utility comes off the log; nothing more goes on it.
        if (activity != Send)
            QCOMPARE(harness.logText(), logAtFault);
        QCOMPARE(seen.size(), told.isEmpty() ? 0 : 1);
        if (!told.isEmpty())
            QVERIFY2(seen[0].text.startsWith(told), qPrintable(seen[0].text));
        QVERIFY(!harness.control<QTimer>("tmrPoll")->isActive());
        QCOMPARE(logMismatch(harness.logText(), wire), QString());

        // The next command on a dead line is told, not sent; the toggle brings the window back, and
        // nothing queued before the fault comes out afterwards. The keys read again.
        if (gone) {
            const QString logBefore = harness.logText();
            QVERIFY(harness.click("cmdClear"));
            QTRY_COMPARE(seen.size(), told.isEmpty() ? 1 : 2);
            QVERIFY2(seen.last().text.startsWith("Clear failed: "), qPrintable(seen.last().text));
            QCOMPARE(harness.logText(), logBefore);
            QVERIFY(harness.click("cmdCom"));
            QVERIFY(QFile::remove(port));
            QVERIFY(QFile::link(fresh.slavePath(), port));
        }
        QVERIFY(harness.openPort());
        PtyPair &lineAfter = gone ? fresh : line;
        QVERIFY(harness.click("cmdClear"));
        QVERIFY(harness.click("cmdPollKey"));
        QCOMPARE(lineAfter.read(3), "\x0c" + Wire::KeyRequest);
        QVERIFY(lineAfter.write("\x05"));
        QTRY_COMPARE(indicators(harness.window()), showing("13"));
        QVERIFY(harness.logText().endsWith(QLatin1String("0C FE F0 ")));
    }

    void programEnds_data()
    {
        QTest::addColumn<int>("activity");
        QTest::addColumn<QByteArray>("command");
        for (const QByteArray &command : {QByteArray("click cmdExit"), QByteArray("close")}) {
            const char *name = command == "close" ? "title bar" : "Exit";
            QTest::addRow("%s while polling", name) << int(Polling) << command;
            QTest::addRow("%s while a Send drains", name) << int(Send) << command;
        }
    }

    void programEnds()
    {
        QFETCH(int, activity);
        QFETCH(QByteArray, command);
        PtyPair line;
        DriverProcess child(line.slavePath());
        QVERIFY(child.openPort(2400));
        if (activity == Polling) {
            QVERIFY(child.send("click cmdPollKey"));
            QCOMPARE(line.read(6, 3000), Wire::KeyRequest.repeated(3));
        } else {
            // Nobody reads: the line's buffer fills and the rest waits in the utility.
            QVERIFY(child.expect("text " + longText(), "text set"));
            QVERIFY(child.expect("click cmdSend", "clicked"));
        }
        QElapsedTimer clock;
        clock.start();
        QVERIFY(child.send(command));
        QVERIFY(child.endsCleanly(2500));
        QVERIFY(!child.lines().join('\n').contains("box "));
        QVERIFY2(clock.elapsed() < 2000, qPrintable(QString::number(clock.elapsed())));

        // At most what was on its way when the command came: a request, or what the line held of
        // the text. Exit's close drops the driver's part and leaves only what the far end had
        // taken: 4095 bytes at most on a pseudo-terminal.
        const QByteArray after = line.readAll(300);
        if (activity == Polling) {
            QVERIFY(after.isEmpty() || after == Wire::KeyRequest);
        } else {
            QVERIFY2(after.size() < (command == "close" ? 40000 : 4096),
                     qPrintable(QString::number(after.size())));
            QVERIFY(longText().startsWith(after));
        }
    }

    // A port another program holds is told in the box, and opens once that program has crashed.
    void heldPort()
    {
        PtyPair line;
        DriverProcess holder(line.slavePath());
        QVERIFY(holder.openPort(2400));
        WindowHarness &harness = *m_harness;
        const ScopedEnv chosen("KV310_COM2", line.slavePath());
        QVERIFY(harness.click("optPort(1)"));
        QVERIFY(harness.click("cmdCom"));
        const QList<SeenMessage> &seen = harness.modals().messages;
        QVERIFY(!harness.port().PortOpen());
        QVERIFY(harness.control("optPort(0)")->isEnabled());
        QCOMPARE(seen.size(), 1);
        QCOMPARE(seen[0].text + ", " + seen[0].frame,
                 "Port 2 already in use!, " + AppInfo::ApplicationTitle + ", icon 0, OK");

        holder.process().kill();
        QVERIFY(holder.process().waitForFinished(5000));
        QVERIFY(harness.openPort());
        QVERIFY(harness.click("cmdClear"));
        QCOMPARE(line.readAll(), QByteArray("\x0c"));
        QCOMPARE(seen.size(), 1);
    }

    // The unit answers just as Get Key empties the receive buffer: the notice of that answer then
    // brings a read of nothing, which QSerialPort 6.4 reports as a failure named after a stale
    // errno. The line is fine and must stay in use.
    void replyAsBufferEmptied_data()
    {
        QTest::addColumn<int>("staleErrno");
        QTest::newRow("EAGAIN") << EAGAIN;
        QTest::newRow("ENOTTY") << ENOTTY;
    }
    void replyAsBufferEmptied()
    {
        QFETCH(int, staleErrno);
        WindowHarness &harness = *m_harness;
        // Watched before the port is, so its notice is handled first.
        const SlaveProbe probe(harness.line().slavePath());
        QSocketNotifier reply(probe.get(), QSocketNotifier::Read);
        QVERIFY(harness.openPort());
        connect(&reply, &QSocketNotifier::activated, &reply, [&] {
            reply.setEnabled(false);
            harness.control("cmdGetKey")->click();
            errno = staleErrno;
        });
        QVERIFY(harness.line().write("\x05"));
        QTRY_VERIFY(!reply.isEnabled());
        QVERIFY(harness.line().write("\x3f"));
        QVERIFY(harness.click("cmdHome"));
        QTRY_COMPARE(harness.control<QLabel>("lblKey(5)")->text(), "6 on");
        QCOMPARE(harness.line().readAll(), Wire::KeyRequest + Wire::Home);
        QVERIFY(harness.modals().messages.isEmpty());
    }

    // 500 steps: a click on anything enabled (Exit aside, one Ripple at most), text typed, or bytes
    // from the unit. Each step is scheduled before the last is done, so steps also run inside the
    // ripple's pauses and while a message box is up (when there is nothing to click).
    void randomClicks()
    {
        QRandomGenerator random(chosenSeed());
        WindowHarness &harness = *m_harness;
        PtyPair &line = harness.line();
        const ScopedEnv com2("KV310_COM2", line.slavePath());
        // A closed port falls back to the line's own settings; their echo would pass for output.
        termios settings{};
        tcgetattr(line.masterFd(), &settings);
        settings.c_lflag &= ~tcflag_t(ECHO);
        QVERIFY(tcsetattr(line.masterFd(), TCSANOW, &settings) == 0);
        QList<QAbstractButton *> buttons = harness.window().findChildren<QAbstractButton *>();
        buttons.removeOne(harness.control("cmdExit"));
        QByteArray wire;
        int started = 0;
        int done = 0;
        const QObject steps;
        std::function<void()> step = [&] {
            if (started++ == 500)
                return;
            QTimer::singleShot(int(random.bounded(4)), &steps, step);
            wire += line.readWaiting();
            const int choice = int(random.bounded(10));
            if (choice < 2) {
                const quint32 reply = random.generate();
                [[maybe_unused]] const ssize_t written =
                    ::write(line.masterFd(), &reply, 1 + random.bounded(3));
            } else if (choice < 3) {
                QString text;
                for (int length = 1 + int(random.bounded(20)); length > 0; --length)
                    text += QChar(char16_t(random.bounded(1, 0x100)));
                harness.control<QLineEdit>("txtSend")->setText(text);
            } else if (!QApplication::activeModalWidget()) {
                QList<QAbstractButton *> enabled;
                for (QAbstractButton *button : buttons)
                    if (button->isEnabled())
                        enabled.append(button);
                QAbstractButton *button = enabled[random.bounded(qsizetype(enabled.size()))];
                if (button->objectName() == "cmdRipple")
                    buttons.removeOne(button);
                // The unit takes what it is sent before a close could drop it.
                if (button->objectName() == "cmdCom")
                    wire += line.readAll(5);
                QTest::mouseClick(button, Qt::LeftButton);
            }
            ++done;
        };
        QTimer::singleShot(0, &steps, step);
        {
            const Deadline deadline("a step of the random clicks");
            QTRY_VERIFY_WITH_TIMEOUT(done == 500, 25000);
        }

        if (harness.port().PortOpen())
            QVERIFY(harness.click("cmdCom"));
        wire += line.readAll(200);
        QCOMPARE(logMismatch(harness.logText(), wire), QString());
        // The only failure a healthy line may bring: a ripple cut short by the toggle.
        for (const SeenMessage &seen : harness.modals().messages)
            QVERIFY2(seen.text.startsWith("Ripple failed: "), qPrintable(seen.text));
    }
};

KV310_WINDOW_TEST_MAIN(FaultTest)

#include "tst_faults.moc"
