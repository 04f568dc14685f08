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
        WriteRecorder recorder(harness.port());
        recorder.wrote = [&] {
            if (recorder.writes.size() == 5)
                QTimer::singleShot(0, &harness.window(),
                                   [&harness] { harness.click("cmdRipple"); });
        };
        QElapsedTimer clock;
        clock.start();
        QVERIFY(harness.click("cmdRipple"));
        const qint64 elapsed = clock.elapsed();

        const QList<QByteArray> ripple = Wire::rippleWrites();
        const QList<QByteArray> expected = ripple.mid(0, 5) + ripple + ripple.mid(5);
        QCOMPARE(recorder.writes, expected);
        const QByteArray wire = Wire::KeyRequest + expected.join();
        QCOMPARE(harness.wire(wire.size()), wire);
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
        WriteRecorder recorder(harness.port());
        recorder.wrote = [&] {
            if (recorder.writes.size() == 5)
                QTimer::singleShot(0, &harness.window(), [&harness, closed] {
                    closed ? void(harness.window().close()) : QCoreApplication::exit(0);
                });
        };
        if (closed) {
            // Without an event loop of its own to end, only the window can end the pause.
            QVERIFY(harness.click("cmdRipple"));
        } else {
            const Deadline deadline("the application's event loop");
            QTimer::singleShot(0, &harness.window(), [&harness] { harness.click("cmdRipple"); });
            QCOMPARE(QCoreApplication::exec(), 0);
        }
        QCOMPARE(harness.wire(5), Wire::rippleWrites().mid(0, 5).join());
    }
};

KV310_WINDOW_TEST_MAIN(RippleTest)

#include "tst_ripple.moc"
