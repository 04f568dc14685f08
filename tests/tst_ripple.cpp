#include "WindowHarness.h"

class RippleTest : public WindowTestCase
{
    Q_OBJECT

private slots:
    // Clicked while polling runs, a ripple stops it. A ripple clicked in one of its pauses
    // reaches the line, and the log, whole between two of the outer ripple's characters. It
    // takes its real 13.5 s (the inner ripple fills one outer pause): only real pauses let
    // events run in between.
    void nestedRipple()
    {
        WindowHarness &harness = *m_harness;
        QVERIFY(harness.openPort());
        QVERIFY(harness.click("cmdPollKey"));
        // The request, then a ripple's clear and first four characters.
        const LineTap tap(harness.line(), 7, [&harness] {
            QTimer::singleShot(0, &harness.window(), [&harness] { harness.click("cmdRipple"); });
        });
        QElapsedTimer clock;
        clock.start();
        QVERIFY(harness.click("cmdRipple"));
        const qint64 elapsed = clock.elapsed();

        const QList<QByteArray> ripple = Wire::rippleWrites();
        const QByteArray wire =
            Wire::KeyRequest + (ripple.mid(0, 5) + ripple + ripple.mid(5)).join();
        QTRY_COMPARE(tap.bytes, wire);
        QCOMPARE(logMismatch(harness.logText(), wire), QString());
        QVERIFY(!harness.control<QTimer>("tmrPoll")->isActive());
        QVERIFY(harness.modals().messages.isEmpty());
        QVERIFY2(elapsed >= 13500 && elapsed < 20000, qPrintable(QString::number(elapsed)));
    }

    void programEndsDuringPause_data()
    {
        QTest::addColumn<bool>("closed");
        // exit() ends every nested event loop at once: the pause must take that as the end.
        QTest::newRow("application exits") << false;
        QTest::newRow("window closed from the title bar") << true;
    }
    // A ripple paused when the program ends writes nothing more.
    void programEndsDuringPause()
    {
        QFETCH(bool, closed);
        WindowHarness &harness = *m_harness;
        QVERIFY(harness.openPort());
        // A ripple's clear and first four characters.
        const LineTap tap(harness.line(), 5, [&harness, closed] {
            QTimer::singleShot(0, &harness.window(), [&harness, closed] {
                closed ? void(harness.window().close()) : QCoreApplication::exit(0);
            });
        });
        if (closed) {
            // Without an event loop of its own to end, only the window can end the pause.
            QVERIFY(harness.click("cmdRipple"));
        } else {
            const Deadline deadline("the application's event loop");
            QTimer::singleShot(0, &harness.window(), [&harness] { harness.click("cmdRipple"); });
            QCOMPARE(QCoreApplication::exec(), 0);
        }
        // Whatever the ripple wrote has reached the line by now.
        QCOMPARE(tap.bytes + harness.line().readWaiting(), Wire::rippleWrites().mid(0, 5).join());
    }
};

KV310_WINDOW_TEST_MAIN(RippleTest)

#include "tst_ripple.moc"
