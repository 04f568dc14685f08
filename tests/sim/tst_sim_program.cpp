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

constexpr int StartTimeoutMs = 10'000;
constexpr int ReplyTimeoutMs = 5'000;
constexpr int FloodTimeoutMs = 60'000;
#ifdef __SANITIZE_ADDRESS__
constexpr bool ResidentSizeTells = false; // the quarantine holds on to freed memory
#else
constexpr bool ResidentSizeTells = true;
#endif
// Enough history for any one test; a flood's output is not worth keeping.
constexpr qsizetype MaxKeptLines = 2000;

// kv310-sim as a child process, its standard output collected line by line.
class SimProcess
{
public:
    explicit SimProcess(const QStringList &arguments)
    {
        m_process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        if (!environment.contains(QStringLiteral("QT_QPA_PLATFORM")))
            environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        m_process.setProcessEnvironment(environment);
        m_process.start(QStringLiteral(KV310_SIM_PATH), arguments);
    }

    ~SimProcess()
    {
        if (m_process.state() != QProcess::NotRunning) {
            m_process.kill();
            m_process.waitForFinished();
        }
    }

    bool waitForPortPath()
    {
        return waitUntil([this] { return !m_lines.isEmpty(); }, StartTimeoutMs) &&
               m_lines.constFirst().startsWith(QLatin1Char('/'));
    }

    QString portPath() const { return m_lines.value(0); }
    QStringList lines() const { return m_lines; }
    QProcess &process() { return m_process; }

    void send(const QByteArray &command) { m_process.write(command + '\n'); }

    // Collects whatever output has arrived, waiting at most waitMs for some.
    void pump(int waitMs)
    {
        if (!m_process.canReadLine())
            m_process.waitForReadyRead(waitMs);
        while (m_process.canReadLine()) {
            m_lines.append(QString::fromUtf8(m_process.readLine()).chopped(1));
            if (m_lines.size() > MaxKeptLines)
                m_lines.remove(1, m_lines.size() - MaxKeptLines);
        }
    }

    template <typename Condition>
    bool waitUntil(Condition condition, int timeoutMs = ReplyTimeoutMs)
    {
        const QDeadlineTimer deadline(timeoutMs);
        while (!condition()) {
            if (deadline.hasExpired() || m_process.state() == QProcess::NotRunning)
                return false;
            pump(10);
        }
        return true;
    }

    bool waitForLine(const QString &line)
    {
        return waitUntil([&] { return m_lines.contains(line); });
    }

    bool exitedCleanly()
    {
        return m_process.waitForFinished(StartTimeoutMs) &&
               m_process.exitStatus() == QProcess::NormalExit && m_process.exitCode() == 0;
    }

private:
    QProcess m_process;
    QStringList m_lines;
};

FdHandle openPort(const QString &path, speed_t speed)
{
    FdHandle port(
        ::open(QFile::encodeName(path).constData(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC));
    termios settings{};
    if (!port.isValid() || ::tcgetattr(port.get(), &settings) != 0)
        return {};
    ::cfmakeraw(&settings);
    ::cfsetspeed(&settings, speed);
    if (::tcsetattr(port.get(), TCSANOW, &settings) != 0)
        return {};
    return port;
}

bool waitFor(const FdHandle &port, short events, int timeoutMs)
{
    pollfd request{port.get(), events, 0};
    return ::poll(&request, 1, timeoutMs) == 1 && (request.revents & events);
}

// Writes everything, keeping the simulator's output drained so neither side stalls.
bool writeAll(const FdHandle &port, const QByteArray &bytes, SimProcess &sim, int timeoutMs)
{
    const QDeadlineTimer deadline(timeoutMs);
    qsizetype offset = 0;
    while (offset < bytes.size()) {
        if (deadline.hasExpired())
            return false;
        waitFor(port, POLLOUT, 10);
        const ssize_t count = ::write(port.get(), bytes.constData() + offset,
                                      std::min<qsizetype>(bytes.size() - offset, 65536));
        if (count > 0)
            offset += count;
        sim.pump(0);
    }
    return true;
}

QByteArray readByte(const FdHandle &port, SimProcess &sim, int timeoutMs)
{
    const QDeadlineTimer deadline(timeoutMs);
    char byte = 0;
    while (!deadline.hasExpired()) {
        if (waitFor(port, POLLIN, 10) && ::read(port.get(), &byte, 1) == 1)
            return QByteArray(1, byte);
        sim.pump(0);
    }
    return {};
}

// The characters of all text events, which may arrive split over several lines.
QString receivedText(const QStringList &lines)
{
    QString text;
    for (const QString &line : lines) {
        if (line.startsWith(QLatin1String("rx ")) && line.contains(QLatin1String(" text \"")))
            text += line.section(QLatin1Char('"'), 1, -2);
    }
    return text;
}

qint64 residentKiB(qint64 pid)
{
    QFile status(QStringLiteral("/proc/%1/status").arg(pid));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (QByteArray line = status.readLine(); !line.isEmpty(); line = status.readLine()) {
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').value(0).toLongLong();
    }
    return -1;
}

} // namespace

class TestSimProgram : public QObject
{
    Q_OBJECT

private slots:
    void headlessRoundTrip();
    void cleanExit_data();
    void cleanExit();
    void pacedAtLineSpeed_data();
    void pacedAtLineSpeed();
    void fullLinePushesBack();
    void floodKeepsResponding_data();
    void floodKeepsResponding();
};

void TestSimProgram::headlessRoundTrip()
{
    SimProcess sim({QStringLiteral("--headless")});
    QVERIFY(sim.waitForPortPath());
    const FdHandle port = openPort(sim.portPath(), B9600);
    QVERIFY(port.isValid());

    sim.send("keys 05");
    QVERIFY(sim.waitForLine(QStringLiteral("keys 05")));
    QVERIFY(writeAll(port, QByteArray("\x0CHello\xFE\xF0"), sim, ReplyTimeoutMs));
    QCOMPARE(readByte(port, sim, ReplyTimeoutMs), QByteArray("\x05"));
    QVERIFY(sim.waitForLine(QStringLiteral("tx 05")));

    const QStringList lines = sim.lines();
    QVERIFY(lines.contains(QStringLiteral("rx 0C clear")));
    QVERIFY(lines.contains(QStringLiteral("rx FE F0 key-status request")));
    QCOMPARE(receivedText(lines), QStringLiteral("Hello"));
    const qsizetype shown = lines.indexOf(QStringLiteral("|Hello           |"));
    QVERIFY(shown > 0);
    QCOMPARE(lines.value(shown + 1), QStringLiteral("|                |"));

    sim.send("show");
    QVERIFY(sim.waitUntil([&] { return sim.lines().size() >= lines.size() + 2; }));
    QCOMPARE(sim.lines().mid(lines.size(), 2), QStringList({QStringLiteral("|Hello           |"),
                                                            QStringLiteral("|                |")}));

    sim.send("quit");
    QVERIFY(sim.exitedCleanly());
}

void TestSimProgram::cleanExit_data()
{
    QTest::addColumn<bool>("headless");
    QTest::addColumn<QString>("how");

    QTest::newRow("quit") << true << "quit";
    QTest::newRow("end of input") << true << "eof";
    QTest::newRow("SIGTERM") << true << "sigterm";
    QTest::newRow("SIGINT") << true << "sigint";
    QTest::newRow("window, SIGTERM") << false << "sigterm";
}

void TestSimProgram::cleanExit()
{
    QFETCH(bool, headless);
    QFETCH(QString, how);

    QTemporaryDir directory;
    QVERIFY(directory.isValid());
    const QString link = directory.filePath(QStringLiteral("kv310"));
    QStringList arguments{QStringLiteral("--link"), link};
    if (headless)
        arguments.append(QStringLiteral("--headless"));
    SimProcess sim(arguments);
    QVERIFY(sim.waitForPortPath());
    QCOMPARE(QFileInfo(link).symLinkTarget(), sim.portPath());
    // The utility still holding the port must not keep the simulator alive.
    const FdHandle port = openPort(sim.portPath(), B9600);
    QVERIFY(port.isValid());

    if (how == QLatin1String("quit"))
        sim.send("quit");
    else if (how == QLatin1String("eof"))
        sim.process().closeWriteChannel();
    else
        ::kill(static_cast<pid_t>(sim.process().processId()),
               how == QLatin1String("sigterm") ? SIGTERM : SIGINT);
    QVERIFY(sim.exitedCleanly());
    QVERIFY(!QFileInfo(link).isSymLink());
}

void TestSimProgram::pacedAtLineSpeed_data()
{
    QTest::addColumn<int>("speed");
    QTest::addColumn<int>("textLength");

    // About one second of line time each; only a lower bound is checked, a busy machine is slower.
    QTest::newRow("2400 baud") << int(B2400) << 240;
    QTest::newRow("9600 baud") << int(B9600) << 960;
}

void TestSimProgram::pacedAtLineSpeed()
{
    QFETCH(int, speed);
    QFETCH(int, textLength);

    SimProcess sim({QStringLiteral("--headless")});
    QVERIFY(sim.waitForPortPath());
    const FdHandle port = openPort(sim.portPath(), static_cast<speed_t>(speed));
    QVERIFY(port.isValid());

    QElapsedTimer elapsed;
    elapsed.start();
    QVERIFY(writeAll(port, QByteArray(textLength, 'x') + "\xFE\xF0", sim, ReplyTimeoutMs));
    QCOMPARE(readByte(port, sim, 10'000), QByteArray(1, '\0'));
    QVERIFY2(elapsed.elapsed() >= 800, qPrintable(QString::number(elapsed.elapsed())));
}

void TestSimProgram::fullLinePushesBack()
{
    SimProcess sim({QStringLiteral("--headless")});
    QVERIFY(sim.waitForPortPath());
    const FdHandle port = openPort(sim.portPath(), B2400);
    QVERIFY(port.isValid());

    const QByteArray chunk(4096, 'x');
    qint64 accepted = 0;
    while (accepted < 4'000'000) {
        const ssize_t count = ::write(port.get(), chunk.constData(), chunk.size());
        if (count <= 0)
            break;
        accepted += count;
    }
    QVERIFY2(accepted < 4'000'000, "the line took megabytes at 2400 baud");

    // Still answering while the line is full.
    sim.send("keys 2A");
    QVERIFY(sim.waitForLine(QStringLiteral("keys 2A")));
    sim.send("quit");
    QVERIFY(sim.exitedCleanly());
}

void TestSimProgram::floodKeepsResponding_data()
{
    QTest::addColumn<QStringList>("arguments");

    QTest::newRow("headless") << QStringList{QStringLiteral("--headless"),
                                             QStringLiteral("--no-pace")};
    QTest::newRow("window") << QStringList{QStringLiteral("--no-pace")};
}

void TestSimProgram::floodKeepsResponding()
{
    QFETCH(QStringList, arguments);

    SimProcess sim(arguments);
    QVERIFY(sim.waitForPortPath());
    const FdHandle port = openPort(sim.portPath(), B9600);
    QVERIFY(port.isValid());

    QByteArray flood;
    for (int line = 0; line < 100'000; ++line)
        flood += "\x0C"
                 "flood of text, line after line\n";
    QVERIFY(writeAll(port, flood + "\xFE\xF0", sim, FloodTimeoutMs));
    QCOMPARE(readByte(port, sim, FloodTimeoutMs), QByteArray(1, '\0'));

    if (ResidentSizeTells) {
        const qint64 resident = residentKiB(sim.process().processId());
        QVERIFY2(resident > 0 && resident < 100 * 1024, qPrintable(QString::number(resident)));
    }
    ::kill(static_cast<pid_t>(sim.process().processId()), SIGTERM);
    QVERIFY(sim.exitedCleanly());
}

QTEST_GUILESS_MAIN(TestSimProgram)
#include "tst_sim_program.moc"
