// What hours on a bench bring: units unplugged, ports grabbed by other programs, a port closed or
// the program ended in the middle of a command, a unit that talks too much, an engineer who
// clicks anything. Each row runs against a real pseudo-terminal or a real child process.

#include "TestSupport.h"
#include "common/AppInfo.h"

#include <QDeadlineTimer>
#include <QFile>
#include <QRandomGenerator>
#include <QSocketNotifier>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <cerrno>
#include <ctime>
#include <fcntl.h>
#include <functional>
#include <sys/stat.h>
#include <unistd.h>

namespace
{

enum Activity { Idle, Polling, Ripple, Send };

const QByteArray RippleStart = "\x0c" + QByteArray(17, '\xff') + "\x0a";

// More than the line's buffer holds, so that the rest waits in the utility.
QByteArray longText()
{
    return QByteArray("abcdefghijklmnopqrstuvwxyz").repeated(1539).left(40000);
}

// Ended with status 0 within 2.5 s of being told to, having told of no failure.
bool endsCleanly(DriverProcess &child)
{
    return child.endsCleanly(2500) && !child.lines().join('\n').contains("box ");
}

} // namespace

class FaultTest : public QObject
{
    Q_OBJECT

private slots:
    void lineFaults_data()
    {
        QTest::addColumn<int>("activity");
        QTest::addColumn<bool>("gone"); // the unit unplugged, or the port closed by the toggle
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
        WindowHarness harness;
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
        std::unique_ptr<QSignalSpy> writesAfter;
        const auto strike = [&] {
            wire += line.readAll(50);
            logAtFault = harness.logText();
            writesAfter = std::make_unique<QSignalSpy>(&harness.port(), &MSComm::outputWritten);
            if (gone)
                line.closeMaster();
            else
                harness.control("cmdCom")->click();
        };
        if (activity == Polling) {
            QVERIFY(harness.click("cmdPollKey"));
            QCOMPARE(wire = harness.wire(6), QByteArray("\xfe\xf0").repeated(3));
        } else if (activity == Send) {
            harness.control<QLineEdit>("txtSend")->setText(longText());
            QVERIFY(harness.click("cmdSend"));
        }
        if (activity == Ripple) {
            QTimer::singleShot(350, &harness.window(), strike);
            QVERIFY(harness.click("cmdRipple"));
            QVERIFY(writesAfter && wire.size() >= 3 && RippleStart.startsWith(wire));
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
        QCOMPARE(writesAfter->count(), 0);
        // Only text that never left the utility comes off the log.
        if (activity != Send)
            QCOMPARE(harness.logText(), logAtFault);
        QCOMPARE(seen.size(), told.isEmpty() ? 0 : 1);
        QVERIFY(told.isEmpty() || seen[0].text.startsWith(told));
        QVERIFY(!harness.control<QTimer>("tmrPoll")->isActive());
        QCOMPARE(logMismatch(harness.logText(), wire), QString());

        // The next command on a dead line is told, not sent; the toggle brings the window back, and
        // nothing queued before the fault comes out afterwards. The keys read again.
        if (gone) {
            QVERIFY(harness.click("cmdClear"));
            QTRY_COMPARE(seen.size(), told.isEmpty() ? 1 : 2);
            QVERIFY2(seen.last().text.startsWith("Clear failed: "), qPrintable(seen.last().text));
            QCOMPARE(writesAfter->count(), 0);
            QVERIFY(harness.click("cmdCom"));
            QVERIFY(QFile::remove(port) && QFile::link(fresh.slavePath(), port));
        }
        QVERIFY(harness.openPort());
        PtyPair &now = gone ? fresh : line;
        QVERIFY(harness.click("cmdClear"));
        QCOMPARE(now.readAll(300), QByteArray("\x0c"));
        QVERIFY(harness.click("cmdPollKey"));
        QCOMPARE(now.read(2), QByteArray("\xfe\xf0"));
        QVERIFY(now.write("\x05"));
        QTRY_COMPARE(indicators(harness.window()), showing("13"));
        QVERIFY(harness.logText().endsWith(QLatin1String("0C FE F0 ")));
    }

    void programEnds_data()
    {
        QTest::addColumn<int>("activity");
        QTest::addColumn<QByteArray>("command");
        for (const QByteArray &command : {QByteArray("click cmdExit"), QByteArray("close")}) {
            const char *name = command == "close" ? "title bar" : "Exit";
            QTest::addRow("%s in a ripple", name) << int(Ripple) << command;
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
        QVERIFY(child.expect("click cmdCom", "clicked") && child.expect("state", "state open=1"));
        QByteArray wire;
        if (activity == Ripple) {
            QVERIFY(child.send("click cmdRipple"));
            QCOMPARE(wire = line.read(5, 3000), RippleStart.left(5));
        } else if (activity == Polling) {
            QVERIFY(child.send("click cmdPollKey"));
            QCOMPARE(wire = line.read(6, 3000), QByteArray("\xfe\xf0").repeated(3));
        } else {
            // Nobody reads: the line's buffer fills and the rest waits in the utility.
            QVERIFY(child.expect("text " + longText(), "text set") &&
                    child.expect("click cmdSend", "clicked"));
        }
        QElapsedTimer clock;
        clock.start();
        QVERIFY(child.send(command));
        QVERIFY(endsCleanly(child));
        QVERIFY2(clock.elapsed() < 2000, qPrintable(QString::number(clock.elapsed())));

        // At most what was on its way when the command came: a ripple character, a request, or what
        // the line held of the text. Exit's close drops the driver's part and leaves only what the
        // far end had taken: 4095 bytes at most on a pseudo-terminal.
        const QByteArray after = line.readAll(300);
        if (activity == Ripple)
            QVERIFY(after.size() <= 1 && RippleStart.startsWith(wire + after));
        else if (activity == Polling)
            QVERIFY(after.isEmpty() || after == "\xfe\xf0");
        else
            QVERIFY2(after.size() < (command == "close" ? 40000 : 4096) &&
                         longText().startsWith(after),
                     qPrintable(QString::number(after.size())));
    }

    void portPaths_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<int>("port");
        QTest::addColumn<QString>("message");
        QTest::newRow("missing") << "missing" << 2 << "Port 2 doesn't exist!";
        QTest::newRow("regular file") << "file" << 1 << "";
        QTest::newRow("directory") << "directory" << 2 << "";
        QTest::newRow("empty: the platform's first port") << "empty" << 1 << "";
        QTest::newRow("held, then freed by Exit") << "exit" << 2 << "Port 2 already in use!";
        QTest::newRow("held, then freed by a crash") << "kill" << 1 << "Port 1 already in use!";
        QTest::newRow("not permitted, as nobody") << "nobody" << 1 << "";
    }

    void portPaths()
    {
        QFETCH(QString, kind);
        QFETCH(int, port);
        QFETCH(QString, message);
        QTemporaryDir scratch;
        PtyPair line;
        QString path = line.slavePath();
        std::unique_ptr<DriverProcess> holder;
        if (kind == "nobody") {
            const QString setpriv = QStandardPaths::findExecutable(QStringLiteral("setpriv"));
            if (geteuid() != 0 || setpriv.isEmpty())
                QSKIP("needs root and setpriv, to run the program as nobody");
            QVERIFY(::chown(qPrintable(path), 0, 0) == 0 && ::chmod(qPrintable(path), 0600) == 0);
            DriverProcess child(path,
                                {setpriv, "--reuid=nobody", "--regid=nogroup", "--clear-groups"});
            // The state comes back first: the click is held by the message box its failure brought.
            QVERIFY(child.send("click cmdCom") && child.expect("state", "state open=0 polling=0"));
            QVERIFY(!child.lines().contains("clicked cmdCom"));
            QVERIFY(child.send("click cmdExit") && child.endsCleanly(2500));
            QCOMPARE(line.readAll(100), QByteArray());
            return;
        }
        if (kind == "missing") {
            path = scratch.filePath(QStringLiteral("no-such-port"));
        } else if (kind == "file") {
            path = scratch.filePath(QStringLiteral("plain"));
            QVERIFY(QFile(path).open(QIODevice::WriteOnly));
        } else if (kind == "directory") {
            path = scratch.path();
        } else if (kind == "empty") {
            // Unset (KV310_COM2 here) or empty (KV310_COM1 below), a variable leaves the
            // platform's port, and the window tells just what opening the first one gives here.
            QCOMPARE(MSComm::devicePathForPort(2), "/dev/ttyS1");
            const FdHandle device(::open("/dev/ttyS0", O_RDWR | O_NOCTTY | O_NONBLOCK));
            const int error = errno;
            if (!device.isValid())
                message = error == EACCES || error == EBUSY ? "Port 1 already in use!"
                                                            : "Port 1 doesn't exist!";
            path.clear();
        } else {
            holder = std::make_unique<DriverProcess>(path);
            QVERIFY(holder->expect("click cmdCom", "clicked") &&
                    holder->expect("state", "state open=1"));
        }
        WindowHarness harness;
        const ScopedEnv chosen(port == 1 ? "KV310_COM1" : "KV310_COM2", path);
        QVERIFY(harness.click(QStringLiteral("optPort(%1)").arg(port - 1)));
        QVERIFY(harness.click("cmdCom"));
        const QList<SeenMessage> &seen = harness.modals().messages;
        if (kind == "empty" && message.isEmpty())
            QVERIFY(harness.port().PortOpen() && harness.click("cmdCom"));
        QVERIFY(!harness.port().PortOpen() && harness.control("optPort(0)")->isEnabled());
        QCOMPARE(seen.size(), message.isEmpty() ? 0 : 1);
        if (!message.isEmpty()) {
            QCOMPARE(seen[0].text, message);
            QCOMPARE(seen[0].title, AppInfo::ApplicationTitle);
            QCOMPARE(seen[0].icon, QMessageBox::NoIcon);
            QCOMPARE(seen[0].buttons.join(QString()).remove(QLatin1Char('&')), "OK");
        }
        if (!holder)
            return;

        if (kind == "exit") {
            QVERIFY(holder->send("click cmdExit") && endsCleanly(*holder));
        } else {
            holder->process().kill();
            QVERIFY(holder->process().waitForFinished(5000));
        }
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
        WindowHarness harness;
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
        QVERIFY(harness.line().write("\x3f") && harness.click("cmdHome"));
        QTRY_COMPARE(harness.control<QLabel>("lblKey(5)")->text(), "6 on");
        QCOMPARE(harness.line().readAll(), QByteArray("\xfe\xf0\xfe\x80"));
        QVERIFY(harness.modals().messages.isEmpty());
    }

    void talkativeUnit_data()
    {
        QTest::addColumn<bool>("flood");
        QTest::newRow("1 MiB of random bytes") << true;
        QTest::newRow("64 bytes for every request") << false;
    }

    // Polling goes on, the window stays responsive and the log true; the keys read right after.
    void talkativeUnit()
    {
        QFETCH(bool, flood);
        WindowHarness harness;
        QVERIFY(harness.openPort());
        PtyPair &line = harness.line();
        QByteArray noise(flood ? 1 << 20 : 0, Qt::Uninitialized);
        QRandomGenerator(chosenSeed())
            .fillRange(reinterpret_cast<quint32 *>(noise.data()), noise.size() / 4);
        qsizetype noiseSent = 0;
        QSocketNotifier noisy(line.masterFd(), QSocketNotifier::Write);
        connect(&noisy, &QSocketNotifier::activated, &noisy, [&] {
            noiseSent += qMax<ssize_t>(0, ::write(line.masterFd(), noise.constData() + noiseSent,
                                                  noise.size() - noiseSent));
            noisy.setEnabled(noiseSent < noise.size());
        });
        QByteArray wire;
        qsizetype answered = 0;
        QSocketNotifier unit(line.masterFd(), QSocketNotifier::Read);
        connect(&unit, &QSocketNotifier::activated, &unit, [&] {
            wire += line.readWaiting();
            for (; !flood && answered < wire.count("\xfe\xf0"); ++answered)
                line.write(QByteArray(64, '\x05'));
        });
        QElapsedTimer sinceBeat;
        qint64 longestGap = 0;
        QTimer heartbeat;
        connect(&heartbeat, &QTimer::timeout, &unit,
                [&] { longestGap = qMax(longestGap, sinceBeat.restart()); });
        sinceBeat.start();
        heartbeat.start(20);

        QVERIFY(harness.click("cmdPollKey"));
        QTRY_VERIFY_WITH_TIMEOUT(noiseSent == noise.size() && (flood || answered >= 10), 20000);
        QVERIFY(harness.control<QTimer>("tmrPoll")->isActive());
        QVERIFY(harness.click("cmdHome"));
        // Answers still on their way are read: 300 ms pass without a receive event.
        QSignalSpy events(&harness.port(), &MSComm::OnComm);
        for (const QDeadlineTimer deadline(5000); events.wait(300);)
            QVERIFY2(!deadline.hasExpired(), "receive events never stop");
        QVERIFY2(longestGap < 1000, qPrintable(QStringLiteral("stalled %1 ms").arg(longestGap)));
        QVERIFY(harness.modals().messages.isEmpty() && wire.endsWith("\xfe\x80"));
        QCOMPARE(logMismatch(harness.logText(), wire), QString());

        QVERIFY(flood || indicators(harness.window()) == showing("13"));
        QVERIFY(line.write("\x3f"));
        QTRY_COMPARE(indicators(harness.window()), showing("123456"));
    }

    // 500 steps: a click on anything enabled (Exit aside, one Ripple at most), text typed, or bytes
    // from the unit. Each step is scheduled before the last is done, so steps also run inside the
    // ripple's pauses and while a message box is up (when there is nothing to click).
    void randomClicks()
    {
        QRandomGenerator random(chosenSeed());
        WindowHarness harness;
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
        int ripples = 0;
        const QObject steps;
        std::function<void()> step = [&] {
            if (started++ == 500)
                return;
            QTimer::singleShot(int(random.bounded(4)), &steps, step);
            wire += line.readWaiting();
            const int choice = int(random.bounded(10));
            QByteArray reply;
            QString text;
            for (int length = 1 + int(random.bounded(20)); length > 0; --length) {
                reply += char(random.bounded(256));
                text += QChar(char16_t(random.bounded(1, 0x100)));
            }
            if (choice < 2) {
                [[maybe_unused]] const ssize_t written =
                    ::write(line.masterFd(), reply.constData(), qMin<qsizetype>(reply.size(), 3));
            } else if (choice < 3) {
                harness.control<QLineEdit>("txtSend")->setText(text);
            } else if (!QApplication::activeModalWidget()) {
                QList<QAbstractButton *> enabled;
                for (QAbstractButton *button : buttons) {
                    if (button->isEnabled() &&
                        (ripples == 0 || button->objectName() != "cmdRipple"))
                        enabled.append(button);
                }
                QAbstractButton *button = enabled[random.bounded(qsizetype(enabled.size()))];
                ripples += button->objectName() == "cmdRipple";
                // The unit takes what it is sent before a close could drop it.
                if (button->objectName() == "cmdCom")
                    wire += line.readAll(5);
                QTest::mouseClick(button, Qt::LeftButton);
            }
            ++done;
        };
        QTimer::singleShot(0, &steps, step);
        QTRY_VERIFY_WITH_TIMEOUT(done == 500, 25000);

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
