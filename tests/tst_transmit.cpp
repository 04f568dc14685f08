#include "WindowHarness.h"
#include "link/SentLog.h"

#include <poll.h>

using Writes = QList<QByteArray>;

class TransmitTest : public WindowTestCase
{
    Q_OBJECT

private slots:
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
        WindowHarness &harness = *m_harness;
        QVERIFY(harness.openPort());
        auto *txtSent = harness.control<QPlainTextEdit>("txtSent");
        // Every position can be told apart, so the test sees which characters a cut kept.
        QString log = QString("abcdefghijklmnopqrstuvwxyz").repeated(20).left(initialLength);
        txtSent->setPlainText(log);
        SentLog sentLog(*txtSent);
        for (int call = 0; call < sent.size(); ++call) {
            sentLog.send(harness.port(), sent[call]);
            const QString &echo = echoes[call];
            QCOMPARE(txtSent->toPlainText(), log.right(lengths[call] - echo.size()) + echo);
            log = txtSent->toPlainText();
        }
        QCOMPARE(harness.line().read(int(sent.join().size())), sent.join());
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

    // Clicked while polling runs: polling stops, and each command reaches the line whole and the
    // log echoes it exactly.
    void command_data()
    {
        QTest::addColumn<QString>("button");
        QTest::addColumn<QString>("text");
        QTest::addColumn<Writes>("expected");
        QTest::newRow("Clear") << "cmdClear" << QString() << Writes{"\x0c"};
        QTest::newRow("Home") << "cmdHome" << QString() << Writes{Wire::Home};
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
        WindowHarness &harness = *m_harness;
        QVERIFY(harness.openPort());
        harness.control<QLineEdit>("txtSend")->setText(text);
        QVERIFY(harness.click("cmdPollKey"));
        QVERIFY(harness.click(button));

        const QByteArray wire = Wire::KeyRequest + expected.join();
        QCOMPARE(harness.wire(wire.size()), wire);
        // The poll timer switches itself off at its next tick, sending nothing more.
        QTRY_VERIFY(!harness.control<QTimer>("tmrPoll")->isActive());
        QCOMPARE(harness.line().readWaiting(), QByteArray());
        QCOMPARE(logMismatch(harness.logText(), wire), QString());
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
        QCOMPARE(logMismatch(harness.logText(), wire), QString());
        QCOMPARE(harness.modals().messages.size(), expected.isEmpty() ? 0 : 1);
        QVERIFY(expected.isEmpty() ||
                harness.modals().messages[0].text.startsWith(
                    harness.control<QAbstractButton>(button)->text() + " failed: "));
    }

    // More than a 16-bit count could hold, sent while the window keeps running, and a command
    // clicked while the line is still full follows it.
    void longTextDrainsWhileWindowRuns()
    {
        WindowHarness &harness = *m_harness;
        const SlaveProbe probe(harness.line().slavePath());
        QVERIFY(harness.openPort());
        const QString text = QString("0123456789").repeated(4000);
        harness.control<QLineEdit>("txtSend")->setText(text);

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
        QVERIFY(harness.modals().messages.isEmpty());
        QCOMPARE(harness.logText(),
                 (QString("30 31 32 33 34 35 36 37 38 39 ").repeated(4000) + "0C ").right(383));
    }
};

KV310_WINDOW_TEST_MAIN(TransmitTest)

#include "tst_transmit.moc"
