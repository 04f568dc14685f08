#include "TestSupport.h"
#include "link/MSComm.h"
#include "ui/WindowLayout.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QTest>

using Writes = QList<QByteArray>;

// A button clicked during the pause that follows the ripple's write number `after`, and the
// writes that click makes.
struct PauseClick {
    int after = 0;
    QString button;
    Writes writes;
};
Q_DECLARE_METATYPE(QList<PauseClick>)

namespace
{

Writes rippleWrites()
{
    Writes writes{"\x0c"};
    const auto pass = [&writes](char character) {
        for (int position = 0; position < 17; ++position)
            writes.append(QByteArray(1, character));
    };
    pass('\xff');
    writes.append("\x0a");
    pass('\xff');
    writes.append("\xfe\x80");
    pass(' ');
    writes.append("\x0a");
    pass(' ');
    writes.append("\xfe\x80");
    return writes;
}

// What the log must read after these writes, starting empty.
QString expectedLog(const Writes &writes)
{
    QString log;
    for (const QByteArray &bytes : writes) {
        if (log.size() >= 410)
            log = log.right(380);
        for (const char byte : bytes)
            log += QString::asprintf("%02X ", static_cast<unsigned char>(byte));
    }
    return log;
}

// Records every write with its time, and clicks buttons during the pauses that follow given
// writes.
class RippleWatch : public QObject
{
public:
    RippleWatch(WindowHarness &harness, const QList<PauseClick> &clicks = {})
    {
        clock.start();
        connect(&harness.port(), &MSComm::outputWritten, this,
                [this, &harness, clicks](const QByteArray &bytes) {
                    writes.append(bytes);
                    times.append(clock.nsecsElapsed());
                    for (const PauseClick &click : clicks) {
                        if (click.after == writes.size())
                            QTimer::singleShot(0, this, [&harness, click] {
                                if (!click.writes.isEmpty() && click.button == "cmdSend")
                                    harness.control<QLineEdit>("txtSend")->setText(
                                        QString::fromLatin1(click.writes.first()));
                                harness.click(click.button);
                            });
                    }
                });
    }

    QElapsedTimer clock;
    Writes writes;
    QList<qint64> times;
};

} // namespace

class RippleTest : public QObject
{
    Q_OBJECT

private slots:
    void fullRipple()
    {
        WindowHarness harness;
        QVERIFY(harness.openPort());
        RippleWatch watch(harness);
        QVERIFY(harness.click("cmdPollKey"));
        QElapsedTimer clock;
        clock.start();
        QVERIFY(harness.click("cmdRipple"));
        const qint64 elapsed = clock.elapsed();

        const Writes expected = Writes{"\xfe\xf0"} + rippleWrites();
        QCOMPARE(watch.writes, expected);
        QCOMPARE(expected.size(), 74);
        QCOMPARE(expected.join().size(), 77);
        QCOMPARE(harness.wire(), expected.join());
        QCOMPARE(harness.logText(), "FE F0 0C " + QString("FF ").repeated(17) + "0A " +
                                        QString("FF ").repeated(17) + "FE 80 " +
                                        QString("20 ").repeated(17) + "0A " +
                                        QString("20 ").repeated(17) + "FE 80 ");
        QVERIFY(!harness.window().isPolling());
        QVERIFY2(elapsed >= 6800 && elapsed < 10000, qPrintable(QString::number(elapsed)));
        // Only the characters of the four passes are followed by a pause.
        for (int index = 1; index < watch.writes.size() - 1; ++index) {
            if (watch.writes[index].size() == 1 && watch.writes[index] != "\x0c" &&
                watch.writes[index] != "\x0a")
                QVERIFY(watch.times[index + 1] - watch.times[index] >= 100'000'000);
        }
    }

    // Whatever runs during a pause goes onto the line, and into the log, between two of the
    // ripple's characters; a nested ripple comes whole.
    void clicksDuringPauses_data()
    {
        QTest::addColumn<QList<PauseClick>>("clicks");
        QTest::newRow("second ripple") << QList<PauseClick>{{5, "cmdRipple", rippleWrites()}};
        QTest::newRow("other commands")
            << QList<PauseClick>{{3, "cmdHome", {"\xfe\x80"}},
                                 {26, "cmdBanner", {"\x0cwww.veltorlcd.eu\x0a  Test utility"}},
                                 {42, "cmdSend", {"typed"}},
                                 {63, "cmdClear", {"\x0c"}},
                                 {76, "cmdNewLine", {"\x0a"}}};
    }
    void clicksDuringPauses()
    {
        QFETCH(QList<PauseClick>, clicks);
        Writes expected = rippleWrites();
        for (const PauseClick &click : clicks) {
            for (int index = 0; index < click.writes.size(); ++index)
                expected.insert(click.after + index, click.writes[index]);
        }

        WindowHarness harness;
        QVERIFY(harness.openPort());
        RippleWatch watch(harness, clicks);
        QVERIFY(harness.click("cmdRipple"));

        QCOMPARE(watch.writes, expected);
        QCOMPARE(harness.wire(), expected.join());
        QCOMPARE(harness.logText(), expectedLog(expected));
        QVERIFY(harness.modals().messages.isEmpty());
    }

    void toggleClosesPortDuringPause()
    {
        WindowHarness harness;
        QVERIFY(harness.openPort());
        RippleWatch watch(harness, {{10, "cmdCom", {}}});
        QElapsedTimer clock;
        clock.start();
        QVERIFY(harness.click("cmdRipple"));
        QVERIFY(clock.elapsed() < 6000);

        const Writes expected = rippleWrites().mid(0, 10);
        QCOMPARE(watch.writes, expected);
        QCOMPARE(harness.wire(300), expected.join());
        QCOMPARE(harness.logText(), expectedLog(expected));
        QVERIFY(!harness.port().PortOpen());
        QCOMPARE(harness.modals().messages.size(), 1);
        QVERIFY(harness.modals().messages[0].text.startsWith("Ripple failed: "));
        WindowHarness::runEvents(300);
        QCOMPARE(harness.line().readWaiting(), QByteArray());
    }
};

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    WindowLayout::setUpApplication(app);
    RippleTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_ripple.moc"
