#include "TestSupport.h"
#include "common/AppInfo.h"

#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

// The utility and `kv310-sim --headless --link` on one line, as run.sh wires them; what the
// simulator refuses.
class EndToEndTest : public QObject
{
    Q_OBJECT

private slots:
    void throughTheSimulatedUnit_data()
    {
        QTest::addColumn<bool>("terminate");
        QTest::newRow("quit") << false;
        QTest::newRow("SIGTERM") << true;
    }
    void throughTheSimulatedUnit()
    {
        QFETCH(bool, terminate);
        QTemporaryDir directory;
        const QString link = directory.filePath(QStringLiteral("kv310"));
        // A name taken by anything but a link it made itself is left alone.
        QVERIFY(QFile(link).open(QIODevice::WriteOnly));
        LineProcess taken(QStringLiteral(KV310_SIM_PATH), {QStringLiteral("--link"), link});
        QVERIFY(taken.process().waitForFinished(5000) && taken.process().exitCode() == 1);
        QVERIFY(QFileInfo(link).isFile() && QFile::remove(link));
        LineProcess sim(QStringLiteral(KV310_SIM_PATH),
                        {QStringLiteral("--headless"), QStringLiteral("--link"), link});
        const QByteArray port = sim.nextLine(8000).value_or("no port");
        QCOMPARE(QFileInfo(link).symLinkTarget(), QString::fromLocal8Bit(port));
        WindowHarness harness;
        const ScopedEnv com1("KV310_COM1", link);
        const auto send = [&harness](const QString &text) {
            harness.control<QLineEdit>("txtSend")->setText(text);
            return harness.click("cmdSend");
        };
        QVERIFY(harness.click("optBaud(0)") && harness.openPort() && harness.click("cmdBanner"));
        // The waits run the event loop, so the window sends meanwhile.
        QVERIFY(sim.waitForLine('|' + AppInfo::WebAddress.toUtf8() + '|'));
        QVERIFY(sim.waitForLine("|  Test utility  |"));
        // Lines it cannot take change nothing and print nothing.
        for (const QByteArray &bad : {QByteArray("keys 100"), QByteArray("keys zz"),
                                      QByteArray("press 1"), QByteArray(2000, 'k')})
            QVERIFY(sim.send(bad));
        QVERIFY(sim.send("keys 05") && sim.nextLine(8000) == "keys 05");
        // About a second of line time at 2400 before the reply; only a lower bound, as a busy
        // machine is slower.
        QElapsedTimer clock;
        clock.start();
        QVERIFY(send(QString(240, QLatin1Char('x'))) && harness.click("cmdClear") &&
                send("Hello") && harness.click("cmdGetKey"));
        for (const char *line : {"rx 0C clear", "|Hello           |", "|                |",
                                 "rx FE F0 key-status request", "tx 05"})
            QVERIFY2(sim.waitForLine(line, 10000) == line, line);
        QTRY_COMPARE_WITH_TIMEOUT(indicators(harness.window()), showing("13"), 10000);
        QVERIFY2(clock.elapsed() >= 800, qPrintable(QString::number(clock.elapsed())));

        // The port the window still holds open must not keep the simulator alive.
        if (terminate)
            sim.process().terminate();
        else
            sim.send("quit");
        QVERIFY(sim.endsCleanly(5000) && !QFileInfo(link).isSymLink());
    }
};

KV310_WINDOW_TEST_MAIN(EndToEndTest)

#include "tst_end_to_end.moc"
