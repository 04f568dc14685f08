#include "TestSupport.h"
#include "link/SentLog.h"

#include <poll.h>

using Writes = QList<QByteArray>;

class TransmitTest : public QObject
{
    Q_OBJECT

private slots:
    // The log's length after each string sent, from a log of initialLength; what is kept is
    // always the log's end, and every string reaches the line.
    void logCut_data()
    {
        QTest::addColumn<int>("initialLength");
        QTest::addColumn<QByteArrayList>("sent");
        QTest::addColumn<QList<int>>("lengths");
        QTest::newRow("409 grows, then cut")
            << 409 << QByteArrayList{"a", "b"} << QList<int>{412, 383};
        QTest::newRow("exactly 410 is cut") << 410 << QByteArrayList{"a"} << QList<int>{383};
        QTest::newRow("long echo kept whole")
            << 400 << QByteArrayList{QByteArray(200, 'x'), "b"} << QList<int>{1000, 383};
        QTest::newRow("empty string still cuts") << 500 << QByteArrayList{""} << QList<int>{380};
    }
    void logCut()
    {
        QFETCH(int, initialLength);
        QFETCH(QByteArrayList, sent);
        QFETCH(QList<int>, lengths);
        // The echo the log is checked against.
        QCOMPARE(hexEcho(QByteArray("\x00\x0f\x10\xfe\x80\x0a\xff", 7)), "00 0F 10 FE 80 0A FF ");
        WindowHarness harness;
        QVERIFY(harness.openPort());
        auto *txtSent = harness.control<QPlainTextEdit>("txtSent");
        // Every position can be told apart, so the test sees which characters a cut kept.
        QString log = QString("abcdefghijklmnopqrstuvwxyz").repeated(20).left(initialLength);
        txtSent->setPlainText(log);
        SentLog sentLog(*txtSent);
        for (int call = 0; call < sent.size(); ++call) {
            sentLog.send(harness.port(), sent[call]);
            const QString echo = hexEcho(sent[call]);
            QCOMPARE(txtSent->toPlainText(), log.right(lengths[call] - echo.size()) + echo);
            log = txtSent->toPlainText();
        }
        QCOMPARE(harness.line().read(int(sent.join().size())), sent.join());
    }

    // Clicked while polling runs: polling stops, and each command is one write that the log
    // echoes exactly.
    void command_data()
    {
        QTest::addColumn<QString>("button");
        QTest::addColumn<QString>("text");
        QTest::addColumn<Writes>("expected");
        QTest::newRow("Clear") << "cmdClear" << QString() << Writes{"\x0c"};
        QTest::newRow("Home") << "cmdHome" << QString() << Writes{"\xfe\x80"};
        QTest::newRow("NewLine") << "cmdNewLine" << QString() << Writes{"\x0a"};
        QTest::newRow("Banner") << "cmdBanner" << QString()
                                << Writes{"\x0cwww.veltorlcd.eu\x0a  Test utility"};
        QTest::newRow("Send empty") << "cmdSend" << QString() << Writes{};
        QTest::newRow("Send text") << "cmdSend" << QString(" Hello!  ") << Writes{" Hello!  "};
        QTest::newRow("Send codes")
            << "cmdSend" << QString::fromUtf16(u"\u00fe\u0080\u0001Z") << Writes{"\xfe\x80\x01Z"};
        QTest::newRow("Send around 8 bits")
            << "cmdSend" << QString::fromUtf16(u"\u00ff\u0100\u00e9\u20acx")
            << Writes{"\xff?\xe9?x"};
        QTest::newRow("Send surrogate pair")
            << "cmdSend" << QString::fromUtf16(u"a\U0001F600b") << Writes{"a?b"};
    }
    void command()
    {
        QFETCH(QString, button);
        QFETCH(QString, text);
        QFETCH(Writes, expected);
        WindowHarness harness;
        QVERIFY(harness.openPort());
        harness.control<QLineEdit>("txtSend")->setText(text);
        QVERIFY(harness.click("cmdPollKey"));
        Writes writes;
        connect(&harness.port(), &MSComm::outputWritten, &harness.window(),
                [&writes](const QByteArray &bytes) { writes.append(bytes); });
        QVERIFY(harness.click(button));

        const QByteArray wire = "\xfe\xf0" + expected.join();
        QCOMPARE(harness.wire(wire.size()), wire);
        // The poll timer switches itself off at its next tick, sending nothing more.
        QTRY_VERIFY(!harness.control<QTimer>("tmrPoll")->isActive());
        QCOMPARE(harness.line().readWaiting(), QByteArray());
        QCOMPARE(writes, expected);
        QCOMPARE(harness.logText(), hexEcho(wire));
        QVERIFY(harness.modals().messages.isEmpty());

        // A write that finds the device gone fails, is told and leaves the log as it was: no
        // event runs in between, so only the write itself can notice. Failures that come while
        // its box is open (another command, a poll) get no box of their own.
        harness.line().closeMaster();
        if (!expected.isEmpty()) {
            // Runs in the box's own event loop; a box of its own would be one more message.
            QTimer::singleShot(0, &harness.window(), [&harness] {
                harness.control("cmdHome")->click();
                harness.control("cmdPollKey")->click();
            });
        }
        QVERIFY(harness.click(button));
        QCOMPARE(harness.logText(), hexEcho(wire));
        QCOMPARE(harness.modals().messages.size(), expected.isEmpty() ? 0 : 1);
        QVERIFY(expected.isEmpty() ||
                harness.modals().messages[0].text.startsWith(
                    harness.control<QAbstractButton>(button)->text() + " failed: "));
    }

    // More than a 16-bit count could hold, sent in one write while the window keeps running,
    // and a command clicked while the line is still full follows it.
    void longTextDrainsWhileWindowRuns()
    {
        WindowHarness harness;
        const SlaveProbe probe(harness.line().slavePath());
        QVERIFY(harness.openPort());
        const QString text = QString("0123456789").repeated(4000);
        harness.control<QLineEdit>("txtSend")->setText(text);
        Writes writes;
        connect(&harness.port(), &MSComm::outputWritten, &harness.window(),
                [&writes](const QByteArray &bytes) { writes.append(bytes); });

        QElapsedTimer clock;
        clock.start();
        QVERIFY(harness.click("cmdSend"));
        // Nobody has read the line, whose buffer holds far less than the text.
        QVERIFY2(clock.elapsed() < 3000, "the window stopped until the text was sent");
        // The line takes no more: the click's write meets EAGAIN, which is no failure.
        pollfd full{probe.get(), POLLOUT, 0};
        QTRY_VERIFY(::poll(&full, 1, 0) == 0);
        QVERIFY(harness.click("cmdClear"));

        QCOMPARE(harness.wire(40001), text.toLatin1() + '\x0c');
        QCOMPARE(writes, Writes({text.toLatin1(), "\x0c"}));
        QVERIFY(harness.modals().messages.isEmpty());
        QCOMPARE(harness.logText(),
                 (QString("30 31 32 33 34 35 36 37 38 39 ").repeated(4000) + "0C ").right(383));
    }
};

KV310_WINDOW_TEST_MAIN(TransmitTest)

#include "tst_transmit.moc"
