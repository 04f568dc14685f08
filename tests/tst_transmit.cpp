#include "TestSupport.h"
#include "link/MSComm.h"
#include "link/Transmit.h"
#include "ui/WindowLayout.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QSignalSpy>
#include <QTest>

namespace
{

// A log whose every position can be told apart, so a test sees which characters were kept.
QString numberedLog(int length)
{
    QString log;
    for (int position = 0; position < length; ++position)
        log += QChar(u'a' + position % 26);
    return log;
}

} // namespace

class TransmitTest : public QObject
{
    Q_OBJECT

private slots:
    void echo_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QString>("echo");
        QTest::newRow("0") << QByteArray(1, '\0') << "00 ";
        QTest::newRow("15") << QByteArray("\x0f") << "0F ";
        QTest::newRow("16") << QByteArray("\x10") << "10 ";
        QTest::newRow("255") << QByteArray("\xff") << "FF ";
        QTest::newRow("home") << QByteArray("\xfe\x80") << "FE 80 ";
        QTest::newRow("mixed") << QByteArray("\x0a\xab\x7f", 3) << "0A AB 7F ";
        QTest::newRow("empty") << QByteArray() << "";
    }
    void echo()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(QString, echo);
        QCOMPARE(hexEcho(bytes), echo);
    }

    // Each call's byte count and the log's length after it, starting from a log of given length.
    void logCut_data()
    {
        QTest::addColumn<int>("initialLength");
        QTest::addColumn<QList<int>>("byteCounts");
        QTest::addColumn<QList<int>>("lengths");
        QTest::newRow("409 grows, then cut") << 409 << QList<int>{1, 1} << QList<int>{412, 383};
        QTest::newRow("410 is cut") << 410 << QList<int>{1} << QList<int>{383};
        QTest::newRow("long echo appended whole")
            << 400 << QList<int>{200, 1} << QList<int>{1000, 383};
        QTest::newRow("empty string still cuts") << 500 << QList<int>{0} << QList<int>{380};
        QTest::newRow("empty string on short log") << 409 << QList<int>{0} << QList<int>{409};
        QTest::newRow("empty log") << 0 << QList<int>{2} << QList<int>{6};
    }
    void logCut()
    {
        QFETCH(int, initialLength);
        QFETCH(QList<int>, byteCounts);
        QFETCH(QList<int>, lengths);

        // The rule alone, and the real routine on the window's box and port.
        WindowHarness harness;
        QVERIFY(harness.openPort());
        harness.log().setPlainText(numberedLog(initialLength));
        QString log = numberedLog(initialLength);
        QByteArray sent;
        for (int call = 0; call < byteCounts.size(); ++call) {
            const QByteArray bytes(byteCounts[call], char(0xA0 + call));
            const QString echo = hexEcho(bytes);
            const QString before = log;
            log = appendToSentLog(before, echo);
            QCOMPARE(log.size(), lengths[call]);
            QVERIFY(log.endsWith(echo));
            QCOMPARE(log.chopped(echo.size()), before.right(lengths[call] - echo.size()));

            sendToDevice(harness.port(), harness.log(), bytes);
            QCOMPARE(harness.logText(), log);
            sent += bytes;
        }
        QCOMPARE(harness.wire(), sent);
    }

    void failedWriteLeavesLog_data()
    {
        QTest::addColumn<bool>("hangUp");
        QTest::addColumn<bool>("noticed");
        QTest::newRow("port closed under the command") << false << false;
        QTest::newRow("unit hung up") << true << true;
        QTest::newRow("unit hung up just now") << true << false;
    }
    void failedWriteLeavesLog()
    {
        QFETCH(bool, hangUp);
        QFETCH(bool, noticed);
        WindowHarness harness;
        QVERIFY(harness.openPort());
        QVERIFY(harness.click("cmdHome"));
        QCOMPARE(harness.wire(), QByteArray("\xfe\x80"));
        const QString before = harness.logText();
        QSignalSpy writes(&harness.port(), &MSComm::outputWritten);

        if (hangUp)
            harness.line().closeMaster();
        else
            harness.port().setPortOpen(false);
        if (noticed)
            WindowHarness::runEvents(50);
        QVERIFY(harness.click("cmdClear"));
        QVERIFY(harness.click("cmdBanner"));
        WindowHarness::runEvents(50);

        QCOMPARE(harness.logText(), before);
        QCOMPARE(writes.count(), 0);
        QCOMPARE(harness.modals().messages.size(), 2);
        for (const SeenMessage &message : harness.modals().messages)
            QCOMPARE(message.title, QString("KV310 test"));
        QVERIFY(harness.modals().messages[0].text.startsWith("Clear failed: "));
        QVERIFY(harness.modals().messages[1].text.startsWith("Banner failed: "));
    }

    // Longer than a device string could be with a 16-bit counter: still sent whole, and the
    // window goes on handling events while the line drains.
    void longTextDrainsWhileWindowRuns()
    {
        WindowHarness harness;
        QVERIFY(harness.openPort());
        QString text;
        for (int index = 0; index < 40000; ++index)
            text += QChar(u'A' + index % 26);
        harness.control<QLineEdit>("txtSend")->setText(text);
        QSignalSpy writes(&harness.port(), &MSComm::outputWritten);

        int ticksWhileDraining = 0;
        QTimer ticker;
        connect(&ticker, &QTimer::timeout, [&] {
            if (harness.port().pendingOutput() > 0)
                ++ticksWhileDraining;
        });
        ticker.start(2);
        QElapsedTimer clock;
        clock.start();
        QVERIFY(harness.click("cmdSend"));
        QVERIFY2(clock.elapsed() < 3000, "the window stopped until the text was sent");
        // Another command while the line's buffer is full.
        WindowHarness::runEvents(100);
        QVERIFY(harness.port().pendingOutput() > 0);
        QVERIFY(harness.click("cmdClear"));

        QByteArray wire;
        while (wire.size() < 40001 && clock.elapsed() < 30000 &&
               harness.modals().messages.isEmpty()) {
            WindowHarness::runEvents(5);
            wire += harness.line().readWaiting();
        }
        wire += harness.wire();
        if (!harness.modals().messages.isEmpty())
            QFAIL(qPrintable(harness.modals().messages[0].text));
        QCOMPARE(writes.count(), 2);
        QCOMPARE(writes[0][0].toByteArray().size(), 40000);
        QCOMPARE(wire.size(), 40001);
        QCOMPARE(wire, text.toLatin1() + '\x0c');
        QVERIFY(ticksWhileDraining > 0);
        // The Clear cut the long echo to its last 380 characters: 126 groups and a half.
        QCOMPARE(harness.logText(), hexEcho(text.right(127).toLatin1()).mid(1) + "0C ");
    }
};

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    WindowLayout::setUpApplication(app);
    TransmitTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_transmit.moc"
