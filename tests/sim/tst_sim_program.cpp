#include "FdHandle.h"
#include "LineProcess.h"

#include <QElapsedTimer>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTest>

#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

namespace
{

// The port kv310-sim named on its first line, opened at the given speed.
FdHandle openPort(LineProcess &sim, speed_t speed)
{
    const auto path = sim.nextLine(8000);
    FdHandle port(path ? ::open(path->constData(), O_RDWR | O_NOCTTY) : -1);
    termios settings{};
    if (!port.isValid() || ::tcgetattr(port.get(), &settings) != 0)
        return {};
    ::cfmakeraw(&settings);
    ::cfsetspeed(&settings, speed);
    return ::tcsetattr(port.get(), TCSANOW, &settings) == 0 ? std::move(port) : FdHandle();
}

QByteArray readByte(const FdHandle &port, int timeoutMs)
{
    pollfd request{port.get(), POLLIN, 0};
    char byte = 0;
    if (::poll(&request, 1, timeoutMs) == 1 && ::read(port.get(), &byte, 1) == 1)
        return QByteArray(1, byte);
    return {};
}

} // namespace

class TestSimProgram : public QObject
{
    Q_OBJECT

private slots:
    void roundTripAtLineSpeed_data()
    {
        QTest::addColumn<bool>("terminate");
        QTest::newRow("quit") << false;
        QTest::newRow("SIGTERM") << true;
    }
    void roundTripAtLineSpeed()
    {
        QFETCH(bool, terminate);
        QTemporaryDir directory;
        QVERIFY(directory.isValid());
        const QString link = directory.filePath(QStringLiteral("kv310"));
        LineProcess sim(QStringLiteral(KV310_SIM_PATH),
                        {QStringLiteral("--headless"), QStringLiteral("--link"), link});
        const FdHandle port = openPort(sim, B2400);
        QVERIFY(port.isValid());
        QCOMPARE(QFileInfo(link).symLinkTarget(), QString::fromLocal8Bit(sim.lines().first()));
        QVERIFY(sim.send("keys 05", "keys 05"));
        // A second of line time before the reply; only a lower bound, a busy machine is slower.
        const QByteArray sent = QByteArray(240, 'x') + "\x0cHello\xfe\xf0";
        QElapsedTimer clock;
        clock.start();
        QCOMPARE(::write(port.get(), sent.constData(), sent.size()), sent.size());
        QCOMPARE(readByte(port, 10'000), QByteArray("\x05"));
        QVERIFY2(clock.elapsed() >= 800, qPrintable(QString::number(clock.elapsed())));
        for (const char *line : {"rx 0C clear", "|Hello           |", "|                |",
                                 "rx FE F0 key-status request", "tx 05"})
            QVERIFY2(sim.waitForLine(line) == line, line);

        // The port still held open must not keep the simulator alive.
        if (terminate)
            sim.process().terminate();
        else
            sim.send("quit");
        QVERIFY(sim.endsCleanly(5000));
        QVERIFY(!QFileInfo(link).isSymLink());
    }
};

QTEST_GUILESS_MAIN(TestSimProgram)
#include "tst_sim_program.moc"
