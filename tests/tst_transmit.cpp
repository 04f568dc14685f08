#include "WindowHarness.h"

#include <poll.h>

using Writes = QList<QByteArray>;

class TransmitTest : public WindowTestCase
{
    Q_OBJECT

private slots:
    // Clicked while polling runs: polling stops, and each command reaches the line whole and the
    // log echoes it exactly.
    void command_data()
    {
        QTest::addColumn<QString>("button");
        QTest::addColumn<QString>("text");
        QTest::addColumn<Writes>("expected");
        QTest::newRow("Home") << "cmdHome" << QString() << Writes{Wire::Home};
        QTest::newRow("NewLine") << "cmdNewLine" << QString() << Writes{"\x0a"};
        QTest::newRow("Banner") << "cmdBanner" << QString()
                                << Writes{"\x0cwww.veltorlcd.eu\x0a  Test utility"};
        QTest::newRow("Send empty") << "cmdSend" << QString() << Writes{};
        QTest::newRow("Send text") << "cmdSend" << QString(" Hello!  ") << Writes{" Hello!  "};
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
        if (!expected.isEmpty())
            QVERIFY(harness.modals().messages[0].text.startsWith(
                harness.control<QAbstractButton>(button)->text() + " failed: "));
    }

    // More than a 16-bit count could hold, sent while the window keeps running, and a command
    // clicked while the line is still full follows it.
    void longTextDrainsWhileWindowRuns()
    {
        WindowHarness &harness = *m_harness;
        const SlaveProbe probe(harness.line().slavePath());
        QVERIFY(harness.openPort());
        const QByteArray text = QByteArray("0123456789").repeated(4000);
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

        QCOMPARE(harness.wire(40001), text + '\x0c');
        QVERIFY(harness.modals().messages.isEmpty());
        QCOMPARE(logMismatch(harness.logText(), text + '\x0c'), QString());
    }
};

KV310_WINDOW_TEST_MAIN(TransmitTest)

#include "tst_transmit.moc"
