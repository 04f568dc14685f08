#include "TestSupport.h"
#include "link/MSComm.h"
#include "link/Transmit.h"
#include "ui/WindowLayout.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QTest>

using Writes = QList<QByteArray>;

// A button clicked in the pause after the ripple's write number `after`, and the writes it makes.
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
    const QByteArray afterPass[] = {"\x0a", "\xfe\x80", "\x0a", "\xfe\x80"};
    Writes writes{"\x0c"};
    for (int pass = 0; pass < 4; ++pass) {
        for (int position = 0; position < 17; ++position)
            writes.append(QByteArray(1, pass < 2 ? '\xff' : ' '));
        writes.append(afterPass[pass]);
    }
    return writes;
}

} // namespace

class RippleTest : public QObject
{
    Q_OBJECT

private slots:
    void fullRipple()
    {
        WindowHarness harness;
        QVERIFY(harness.openPort());
        QVERIFY(harness.click("cmdPollKey"));
        QElapsedTimer clock;
        clock.start();
        QVERIFY(harness.click("cmdRipple"));
        const qint64 elapsed = clock.elapsed();

        const Writes expected = rippleWrites();
        QCOMPARE(harness.wire(), "\xfe\xf0" + expected.join());
        QCOMPARE(harness.logText(), "FE F0 " + hexEcho(expected.join()));
        QVERIFY(!harness.window().isPolling());
        QVERIFY2(elapsed >= 6800 && elapsed < 10000, qPrintable(QString::number(elapsed)));
    }

    // Whatever runs in a pause reaches the line, and the log, between two of the ripple's
    // characters; a nested ripple comes whole.
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
        QString log;
        for (const QByteArray &bytes : expected)
            log = appendToSentLog(log, hexEcho(bytes));

        WindowHarness harness;
        QVERIFY(harness.openPort());
        Writes writes;
        connect(&harness.port(), &MSComm::outputWritten, &harness.window(),
                [&](const QByteArray &bytes) {
                    writes.append(bytes);
                    for (const PauseClick &click : clicks) {
                        if (click.after != writes.size())
                            continue;
                        QTimer::singleShot(0, &harness.window(), [&harness, click] {
                            if (click.button == "cmdSend")
                                harness.control<QLineEdit>("txtSend")->setText(
                                    QString::fromLatin1(click.writes.first()));
                            harness.click(click.button);
                        });
                    }
                });
        QVERIFY(harness.click("cmdRipple"));
        QCOMPARE(writes, expected);
        QCOMPARE(harness.wire(), expected.join());
        QCOMPARE(harness.logText(), log);
        QVERIFY(harness.modals().messages.isEmpty());
    }

    // exit() ends every nested event loop at once; a paused ripple must take that as the end
    // of the program, not as the end of its pause.
    void applicationExitsDuringPause()
    {
        WindowHarness harness;
        QVERIFY(harness.openPort());
        int writes = 0;
        connect(&harness.port(), &MSComm::outputWritten, &harness.window(), [&writes] {
            if (++writes == 5)
                QTimer::singleShot(0, [] { QCoreApplication::exit(0); });
        });
        QTimer::singleShot(0, &harness.window(), [&harness] { harness.click("cmdRipple"); });
        QCOMPARE(QCoreApplication::exec(), 0);
        QCOMPARE(harness.wire(300), rippleWrites().mid(0, 5).join());
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
