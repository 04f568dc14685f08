#include "FdHandle.h"

#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <termios.h>
#include <unistd.h>

namespace
{

// kv310-sim --headless as a child process, its output collected line by line.
class SimProcess
{
public:
    explicit SimProcess(const QStringList &arguments)
    {
        process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        process.start(QStringLiteral(KV310_SIM_PATH),
                      QStringList{QStringLiteral("--headless")} + arguments);
    }
    // Collects output until `line`, or when it is empty any line at all, has come.
    bool waitFor(const QString &line = {})
    {
        const QDeadlineTimer deadline(10'000);
        while (line.isEmpty() ? lines.isEmpty() : !lines.contains(line)) {
            if (deadline.hasExpired() || process.state() == QProcess::NotRunning)
                return false;
            process.waitForReadyRead(10);
            while (process.canReadLine())
                lines.append(QString::fromUtf8(process.readLine()).chopped(1));
        }
        return true;
    }

    // The port, opened at the given speed, once the simulator has told where it is.
    FdHandle openPort(speed_t speed)
    {
        if (!waitFor())
            return {};
        FdHandle port(::open(QFile::encodeName(lines.first()).constData(), O_RDWR | O_NOCTTY));
        termios settings{};
        if (!port.isValid() || ::tcgetattr(port.get(), &settings) != 0)
            return {};
        ::cfmakeraw(&settings);
        ::cfsetspeed(&settings, speed);
        return ::tcsetattr(port.get(), TCSANOW, &settings) == 0 ? std::move(port) : FdHandle();
    }

    QProcess process;
    QStringList lines;
};

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
        SimProcess sim({QStringLiteral("--link"), link});
        const FdHandle port = sim.openPort(B2400);
        QVERIFY(port.isValid());
        QCOMPARE(QFileInfo(link).symLinkTarget(), sim.lines.first());

        sim.process.write("keys 05\n");
        QVERIFY(sim.waitFor(QStringLiteral("keys 05")));
        // A second of line time before the reply; only a lower bound, a busy machine is slower.
        const QByteArray sent = QByteArray(240, 'x') + "\x0cHello\xfe\xf0";
        QElapsedTimer clock;
        clock.start();
        QCOMPARE(::write(port.get(), sent.constData(), sent.size()), sent.size());
        QCOMPARE(readByte(port, 10'000), QByteArray("\x05"));
        QVERIFY2(clock.elapsed() >= 800, qPrintable(QString::number(clock.elapsed())));
        QVERIFY(sim.waitFor(QStringLiteral("tx 05")));
        for (const char *line : {"rx 0C clear", "|Hello           |", "|                |",
                                 "rx FE F0 key-status request"})
            QVERIFY2(sim.lines.contains(QLatin1String(line)), line);

        // The port still held open must not keep the simulator alive.
        if (terminate)
            ::kill(static_cast<pid_t>(sim.process.processId()), SIGTERM);
        else
            sim.process.write("quit\n");
        QVERIFY(sim.process.waitForFinished(10'000));
        QCOMPARE(sim.process.exitStatus(), QProcess::NormalExit);
        QCOMPARE(sim.process.exitCode(), 0);
        QVERIFY(!QFileInfo(link).isSymLink());
    }
};

QTEST_GUILESS_MAIN(TestSimProgram)
#include "tst_sim_program.moc"
