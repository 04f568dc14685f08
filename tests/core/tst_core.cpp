// The device core as the window and the check drive it, with no window: the commands' bytes, the
// key decoding, the log's rule and the open failures, each over a real pseudo-terminal.

#include "PseudoTerminal.h"
#include "commands/DisplayCommands.h"
#include "commands/Keypad.h"
#include "link/MSComm.h"
#include "link/PortConnection.h"
#include "link/SentLog.h"

#include <QFile>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <fcntl.h>
#include <memory>
#include <stdlib.h>

namespace
{

// The code of the CommError that step threw, or 0.
template <typename Step> int failureCode(Step &&step)
{
    try {
        step();
        return 0;
    } catch (const CommError &error) {
        return error.code();
    }
}

// A port open on the slave of a pseudo-terminal, writing through a log as the window's
// SendToDevice does, and dropping from the log what never left. A failed open fails the test.
struct Line {
    explicit Line(const QString &initialLog = {}) : log(initialLog)
    {
        QObject::connect(&port, &MSComm::outputDropped, &port,
                         [this](qint64 count) { log.dropUnsent(count); });
        openPort(port, {1, pty.slavePath(), 2400});
    }
    DeviceSender sender()
    {
        return [this](const QByteArray &bytes) {
            log.send(port, bytes);
        };
    }

    PtyPair pty;
    MSComm port;
    SentLog log;
};

// The six indicators as the core gives them, e.g. "1 on*, 2 off, ...": * marks a lit key.
QString shown(const KeyStates &states)
{
    QStringList keys;
    for (const KeyState &key : states)
        keys << key.caption + (key.on ? "*" : "");
    return keys.join(", ");
}

enum Command { Clear, Home, NewLine, Banner, Send };
enum PortSetup { Missing, NoHardware, Held, PlainFile, Directory };

} // namespace

class CoreTest : public QObject
{
    Q_OBJECT

private slots:
    // Each command stops polling and reaches the line as one whole string, echoed in the log.
    void displayCommands_data()
    {
        QTest::addColumn<int>("command");
        QTest::addColumn<QString>("text");
        QTest::addColumn<QByteArray>("expected");
        QTest::newRow("Clear") << int(Clear) << QString() << QByteArray("\x0c");
        QTest::newRow("Home") << int(Home) << QString() << Wire::Home;
        QTest::newRow("NewLine") << int(NewLine) << QString() << QByteArray("\x0a");
        QTest::newRow("Banner") << int(Banner) << QString()
                                << QByteArray("\x0cwww.veltorlcd.eu\x0a  Test utility");
        QTest::newRow("Send empty") << int(Send) << QString() << QByteArray();
        QTest::newRow("Send text, spaces kept")
            << int(Send) << " Hello!  " << QByteArray(" Hello!  ");
        QTest::newRow("Send codes") << int(Send) << QString::fromUtf16(u"\u00fe\u0080\u0001Z")
                                    << QByteArray("\xfe\x80\x01Z");
        QTest::newRow("Send around 8 bits")
            << int(Send) << QString::fromUtf16(u"\u00ff\u0100\u00e9\u20acx")
            << QByteArray("\xff?\xe9?x");
        QTest::newRow("Send surrogate pair")
            << int(Send) << QString::fromUtf16(u"a\U0001F600b") << QByteArray("a?b");
    }
    void displayCommands()
    {
        QFETCH(int, command);
        QFETCH(QString, text);
        QFETCH(QByteArray, expected);
        Line line;
        bool bPolling = true;
        const QByteArray commands[] = {clearCommand(), homeCommand(), newLineCommand(),
                                       bannerCommand()};
        if (command == Send)
            sendText(bPolling, line.sender(), text);
        else
            sendDisplayCommand(bPolling, line.sender(), commands[command]);
        QVERIFY(!bPolling);
        QCOMPARE(line.pty.readAll(50), expected);
        QCOMPARE(logMismatch(line.log.text(), expected), QString());
        QCOMPARE(line.log.text().size(), 3 * expected.size());
    }

    // The first byte of a read is decoded, whatever else came with it; a terminal's special
    // bytes come as they are.
    void keyDecoding_data()
    {
        QTest::addColumn<QByteArray>("reply");
        QTest::addColumn<QString>("onKeys");
        QTest::newRow("00") << QByteArray("\x00", 1) << "";
        QTest::newRow("3F") << QByteArray("\x3f") << "123456";
        QTest::newRow("05") << QByteArray("\x05") << "13";
        QTest::newRow("C0: high bits mean nothing") << QByteArray("\xc0") << "";
        QTest::newRow("FF: high bits mean nothing") << QByteArray("\xff") << "123456";
        QTest::newRow("01 20 in one read: the first") << QByteArray("\x01\x20") << "1";
        QTest::newRow("0D") << QByteArray("\x0d") << "134";
        QTest::newRow("11") << QByteArray("\x11") << "15";
        QTest::newRow("13") << QByteArray("\x13") << "125";
    }
    void keyDecoding()
    {
        QFETCH(QByteArray, reply);
        QFETCH(QString, onKeys);
        Line line;
        QSignalSpy events(&line.port, &MSComm::OnComm);
        QVERIFY(line.pty.write(reply));
        QVERIFY(events.wait(3000));
        const std::optional<KeyStates> states = receiveKeyStatus(line.port);
        QVERIFY(states);
        QStringList expected;
        for (const QChar digit : QStringLiteral("123456"))
            expected << QString(digit) + (onKeys.contains(digit) ? " on*" : " off");
        QCOMPARE(shown(*states), expected.join(", "));
        // The rest of the read went with it: the next event finds nothing to decode.
        QVERIFY(!receiveKeyStatus(line.port));
        // Nothing is echoed back to the unit.
        QCOMPARE(line.pty.readWaiting(), QByteArray());
    }

    // The echo of each string sent and the log's length after it, from a log of initialLength;
    // what is kept is always the log's end, and every string reaches the line.
    void logCut_data()
    {
        QTest::addColumn<int>("initialLength");
        QTest::addColumn<QByteArrayList>("sent");
        QTest::addColumn<QStringList>("echoes");
        QTest::addColumn<QList<int>>("lengths");
        QTest::newRow("two upper-case digits and a space a byte")
            << 0 << QByteArrayList{QByteArray("\x00\x0f\x10\xff", 4)} << QStringList{"00 0F 10 FF "}
            << QList<int>{12};
        QTest::newRow("409 grows, then cut")
            << 409 << QByteArrayList{"a", "b"} << QStringList{"61 ", "62 "} << QList<int>{412, 383};
        QTest::newRow("exactly 410 is cut")
            << 410 << QByteArrayList{"a"} << QStringList{"61 "} << QList<int>{383};
        QTest::newRow("long echo kept whole")
            << 400 << QByteArrayList{QByteArray(200, 'x'), "b"}
            << QStringList{QString("78 ").repeated(200), "62 "} << QList<int>{1000, 383};
        QTest::newRow("empty string still cuts")
            << 500 << QByteArrayList{""} << QStringList{""} << QList<int>{380};
    }
    void logCut()
    {
        QFETCH(int, initialLength);
        QFETCH(QByteArrayList, sent);
        QFETCH(QStringList, echoes);
        QFETCH(QList<int>, lengths);
        // Every position can be told apart, so the test sees which characters a cut kept.
        QString log = QString("abcdefghijklmnopqrstuvwxyz").repeated(20).left(initialLength);
        Line line(log);
        for (int call = 0; call < sent.size(); ++call) {
            line.log.send(line.port, sent[call]);
            const QString &echo = echoes[call];
            QCOMPARE(line.log.text(), log.right(lengths[call] - echo.size()) + echo);
            log = line.log.text();
        }
        QCOMPARE(line.pty.read(int(sent.join().size())), sent.join());
    }

    // A write that fails is told, and leaves the log as it was, even where the port counts the
    // failed write's bytes as dropped.
    void failedWriteLeavesLog_data()
    {
        QTest::addColumn<bool>("hungUp");
        QTest::newRow("the unit gone") << true;
        QTest::newRow("the port closed") << false;
    }
    void failedWriteLeavesLog()
    {
        QFETCH(bool, hungUp);
        Line line;
        bool bPolling = true;
        sendDisplayCommand(bPolling, line.sender(), homeCommand());
        QCOMPARE(line.pty.read(2), Wire::Home);
        if (hungUp)
            line.pty.closeMaster();
        else
            line.port.setPortOpen(false);
        QVERIFY(failureCode([&] { sendText(bPolling, line.sender(), "text"); }) != 0);
        QCOMPARE(line.log.text(), "FE 80 ");
    }

    // Text still queued when the port closes never went: its echo comes off the log, which
    // then ends with what reached the line.
    void unsentTextLeavesLog()
    {
        Line line;
        bool bPolling = false;
        sendDisplayCommand(bPolling, line.sender(), clearCommand());
        // More than the line holds while nobody reads it.
        const QString text = QString("0123456789").repeated(4000);
        sendText(bPolling, line.sender(), text);
        QVERIFY(line.port.OutBufferCount() > 0);
        // What the unit has taken, read with no event run before the close.
        const QByteArray wire = line.pty.readAll(50);
        line.port.setPortOpen(false);
        QVERIFY(wire.size() < 40001);
        QCOMPARE(logMismatch(line.log.text(), wire), QString());
    }

    // The check other tests make of the log against everything that reached the line.
    void logMismatchReadsTheEcho_data()
    {
        QTest::addColumn<QString>("log");
        QTest::addColumn<QByteArray>("wire");
        QTest::addColumn<bool>("matches");
        const QByteArray codes("\x00\x0f\x10\xff", 4);
        QTest::newRow("cut through a byte")
            << "B " + QString("AB ").repeated(127) << QByteArray(200, '\xab') << true;
        QTest::newRow("lower case") << "00 0f 10 ff " << codes << false;
        QTest::newRow("a byte missing") << "00 0F FF " << codes << false;
        QTest::newRow("cut short of 380") << "FF " << codes << false;
        QTest::newRow("more than was sent") << "AB 00 0F 10 FF " << codes << false;
    }
    void logMismatchReadsTheEcho()
    {
        QFETCH(QString, log);
        QFETCH(QByteArray, wire);
        QFETCH(bool, matches);
        QCOMPARE(logMismatch(log, wire).isEmpty(), matches);
    }

    // The check names a device directly; the toggle's rows below give the port's number.
    void failureMessageNamesADevice()
    {
        QCOMPARE(connectionFailureMessage(CommErrorCode::PortInUse, "/dev/ttyUSB0"),
                 "Port /dev/ttyUSB0 already in use!");
    }

    // A failed open leaves the port closed and the controls as they were, tells what the engineer
    // can act on, and the next click tries again.
    void openFailures_data()
    {
        QTest::addColumn<int>("setup");
        QTest::addColumn<int>("port");
        QTest::addColumn<QString>("message");
        QTest::newRow("nothing there") << int(Missing) << 2 << "Port 2 doesn't exist!";
        QTest::newRow("a node with no hardware behind it")
            << int(NoHardware) << 2 << "Port 2 doesn't exist!";
        QTest::newRow("held by another port") << int(Held) << 1 << "Port 1 already in use!";
        QTest::newRow("regular file") << int(PlainFile) << 1 << "";
        QTest::newRow("directory") << int(Directory) << 2 << "";
    }
    void openFailures()
    {
        QFETCH(int, setup);
        QFETCH(int, port);
        QFETCH(QString, message);
        const QTemporaryDir scratch;
        PtyPair pty;
        FdHandle locked;
        MSComm holder;
        QString path = pty.slavePath();
        if (setup == Missing) {
            path = scratch.filePath("no-such-port");
        } else if (setup == NoHardware) {
            // A terminal whose master was never unlocked answers EIO, as a serial node with no
            // UART behind it does.
            locked.reset(posix_openpt(O_RDWR | O_NOCTTY));
            QVERIFY(locked.isValid());
            QCOMPARE(grantpt(locked.get()), 0);
            path = QString::fromLocal8Bit(ptsname(locked.get()));
        } else if (setup == Held) {
            QCOMPARE(failureCode([&] { openPort(holder, {1, path, 2400}); }), 0);
        } else if (setup == PlainFile) {
            path = scratch.filePath("plain");
            QFile file(path);
            QVERIFY(file.open(QIODevice::WriteOnly));
        } else {
            path = scratch.path();
        }
        MSComm comm;
        bool bPolling = true;
        const PortChoice choice{qint16(port), path, 9600};
        const ToggleResult result = toggleConnection(comm, bPolling, choice);
        QCOMPARE(result.nowOpen, std::nullopt);
        QCOMPARE(result.message, message);
        QVERIFY(!comm.PortOpen());
        QVERIFY(!bPolling);
        if (setup != Held)
            return;
        holder.setPortOpen(false);
        QCOMPARE(toggleConnection(comm, bPolling, choice).nowOpen, std::optional<bool>(true));
    }

    // A port number stands for the device its variable names, or the platform's port when the
    // variable is empty or unset; the test never opens the host's own ports.
    void portPath_data()
    {
        QTest::addColumn<int>("port");
        QTest::addColumn<QString>("variable");
        QTest::addColumn<QString>("expected");
        QTest::newRow("port 1 named") << 1 << "/dev/pts/7"
                                      << "/dev/pts/7";
        QTest::newRow("port 2 named") << 2 << "/tmp/kv310"
                                      << "/tmp/kv310";
        QTest::newRow("port 1 empty") << 1 << ""
                                      << "/dev/ttyS0";
        QTest::newRow("port 2 unset") << 2 << QString() << "/dev/ttyS1";
    }
    void portPath()
    {
        QFETCH(int, port);
        QFETCH(QString, variable);
        QFETCH(QString, expected);
        const char *name = port == 1 ? "KV310_COM1" : "KV310_COM2";
        std::unique_ptr<ScopedEnv> set;
        if (variable.isNull())
            qunsetenv(name);
        else
            set = std::make_unique<ScopedEnv>(name, variable);
        // The other port's variable must not leak in.
        const ScopedEnv other(port == 1 ? "KV310_COM2" : "KV310_COM1", "/dev/other");
        QCOMPARE(MSComm::devicePathForPort(port), expected);
    }
};

QTEST_GUILESS_MAIN(CoreTest)

#include "tst_core.moc"
