#include "TestSupport.h"
#include "link/MSComm.h"
#include "ui/WindowLayout.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>

#include <functional>
#include <memory>
#include <sys/resource.h>
#include <unistd.h>

namespace
{

// Port 1 is the slave of the test's pseudo-terminal.
void useAsCom1(const PtyPair &line)
{
    qputenv("KV310_COM1", line.slavePath().toLocal8Bit());
}

int codeOf(const std::function<void()> &operation)
{
    try {
        operation();
    } catch (const CommError &error) {
        return error.code();
    }
    return 0;
}

void open(MSComm &port)
{
    port.setSettings(QStringLiteral("9600,N,8,1"));
    port.setCommPort(1);
    port.setPortOpen(true);
}

// What reached the master, with the event loop running so that queued output drains.
QByteArray receive(PtyPair &line, qsizetype count, int timeoutMs = 20000)
{
    QByteArray bytes;
    QElapsedTimer clock;
    clock.start();
    while (bytes.size() < count && clock.elapsed() < timeoutMs) {
        QTest::qWait(2);
        bytes += line.readWaiting();
    }
    return bytes;
}

// Writes as much as the line takes without blocking.
qsizetype offer(PtyPair &line, const char *data, qsizetype size)
{
    const ssize_t count = ::write(line.masterFd(), data, size);
    return count > 0 ? count : 0;
}

double cpuSeconds()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_utime.tv_sec + usage.ru_stime.tv_sec +
           (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

QByteArray everyByte()
{
    QByteArray bytes;
    for (int value = 0; value < 256; ++value)
        bytes.append(static_cast<char>(value));
    return bytes;
}

} // namespace

class MSCommTest : public QObject
{
    Q_OBJECT

private slots:
    void settings_data();
    void settings();
    void closedPortRefuses();
    void writesKeepTheirBoundaries();
    void discardWaitingInput();
    void receiveEvent_data();
    void receiveEvent();
    void deviceGoneWhileOpen_data();
    void deviceGoneWhileOpen();
    void floodStaysBounded();
};

void MSCommTest::settings_data()
{
    QTest::addColumn<QString>("settings");
    QTest::addColumn<bool>("accepted");
    QTest::newRow("2400,N,8,1") << "2400,N,8,1" << true;
    QTest::newRow("9600,N,8,1") << "9600,N,8,1" << true;
    QTest::newRow("lower-case parity") << "9600,n,8,1" << true;
    QTest::newRow("even parity") << "9600,E,8,1" << false;
    QTest::newRow("seven bits") << "9600,N,7,1" << false;
    QTest::newRow("two stop bits") << "9600,N,8,2" << false;
    QTest::newRow("odd rate") << "1234,N,8,1" << false;
    QTest::newRow("empty") << "" << false;
    QTest::newRow("no stop bits") << "9600,N,8" << false;
    QTest::newRow("extra field") << "9600,N,8,1,1" << false;
}

void MSCommTest::settings()
{
    QFETCH(QString, settings);
    QFETCH(bool, accepted);
    MSComm port;
    port.setSettings(QStringLiteral("2400,N,8,1"));
    QCOMPARE(codeOf([&] { port.setSettings(settings); }), accepted ? 0 : 380);
    QCOMPARE(port.Settings(), accepted ? settings : QStringLiteral("2400,N,8,1"));
}

void MSCommTest::closedPortRefuses()
{
    MSComm port;
    port.setCommPort(2);
    for (const qint16 number : {0, 3, -1})
        QVERIFY(codeOf([&] { port.setCommPort(number); }) != 0);
    QCOMPARE(port.CommPort(), 2);

    QSignalSpy written(&port, &MSComm::outputWritten);
    QVERIFY(!port.PortOpen());
    QCOMPARE(codeOf([&] { port.setOutput(QByteArray("\x0c")); }), 8018);
    QCOMPARE(codeOf([&] { port.Input(); }), 8018);
    QCOMPARE(port.InBufferCount(), 0);
    QCOMPARE(written.count(), 0);
}

void MSCommTest::writesKeepTheirBoundaries()
{
    PtyPair line;
    useAsCom1(line);
    MSComm port;
    open(port);
    QSignalSpy written(&port, &MSComm::outputWritten);

    const QList<QByteArray> writes{QByteArray("\xfe\x80", 2), everyByte(),
                                   QByteArray("\r\n\x11\x13\x7f", 5), QByteArray(4000, '\xa5'),
                                   QByteArray("\x0c", 1)};
    QByteArray expected;
    for (const QByteArray &bytes : writes) {
        port.setOutput(bytes);
        expected += bytes;
    }
    QCOMPARE(written.count(), writes.size());
    for (qsizetype index = 0; index < writes.size(); ++index)
        QCOMPARE(written.at(index).at(0).toByteArray(), writes.at(index));
    QCOMPARE(receive(line, expected.size()), expected);
    QCOMPARE(line.readAll(200), QByteArray());
}

void MSCommTest::discardWaitingInput()
{
    PtyPair line;
    useAsCom1(line);
    MSComm port;
    port.setRThreshold(1);
    open(port);
    QSignalSpy events(&port, &MSComm::OnComm);
    // More than the receive buffer holds, so that reading from the line stalls.
    QVERIFY(line.write(QByteArray(3000, 'o')));
    QTRY_COMPARE_WITH_TIMEOUT(port.InBufferCount(), 1024, 10000);
    QCOMPARE(codeOf([&] { port.setInBufferCount(2); }), 380);
    QCOMPARE(port.InBufferCount(), 1024);
    port.setInBufferCount(0);
    QCOMPARE(port.InBufferCount(), 0);

    // Only what arrives afterwards is read, and it is reported again.
    events.clear();
    QVERIFY(line.write("new"));
    QTRY_COMPARE_WITH_TIMEOUT(port.InBufferCount(), 3, 10000);
    QVERIFY(events.count() >= 1);
    QCOMPARE(port.Input(), QByteArray("new"));
}

void MSCommTest::receiveEvent_data()
{
    QTest::addColumn<int>("threshold");
    QTest::newRow("threshold 1") << 1;
    QTest::newRow("threshold 0") << 0;
}

void MSCommTest::receiveEvent()
{
    QFETCH(int, threshold);
    PtyPair line;
    useAsCom1(line);
    MSComm port;
    port.setRThreshold(static_cast<qint16>(threshold));
    open(port);
    QSignalSpy events(&port, &MSComm::OnComm);
    const QByteArray bytes = everyByte();
    QVERIFY(line.write(bytes));
    QTRY_COMPARE_WITH_TIMEOUT(port.InBufferCount(), 256, 10000);
    QTest::qWait(50);
    if (threshold == 0) {
        QCOMPARE(events.count(), 0);
    } else {
        QVERIFY(events.count() >= 1);
        QCOMPARE(port.CommEvent(), 2);
    }
    // Untranslated, oldest first, and gone once read.
    QCOMPARE(port.Input(), bytes);
    QCOMPARE(port.InBufferCount(), 0);
}

void MSCommTest::deviceGoneWhileOpen_data()
{
    QTest::addColumn<bool>("writeAtOnce");
    QTest::newRow("found idle") << false;
    QTest::newRow("found by a write") << true;
}

void MSCommTest::deviceGoneWhileOpen()
{
    QFETCH(bool, writeAtOnce);
    auto line = std::make_unique<PtyPair>();
    useAsCom1(*line);
    MSComm port;
    port.setRThreshold(1);
    open(port);
    QSignalSpy events(&port, &MSComm::OnComm);
    QSignalSpy written(&port, &MSComm::outputWritten);
    line->closeMaster();

    // A write to a line that is gone must not pass for sent.
    if (writeAtOnce)
        QVERIFY(codeOf([&] { port.setOutput(QByteArray("\x0c")); }) != 0);

    // A plain event loop, so that a component that spins shows in the CPU time.
    const double cpuBefore = cpuSeconds();
    QEventLoop loop;
    QTimer::singleShot(2000, &loop, &QEventLoop::quit);
    loop.exec();
    const double cpuUsed = cpuSeconds() - cpuBefore;
    QVERIFY2(cpuUsed < 0.5, qPrintable(QStringLiteral("%1 s of CPU while idle").arg(cpuUsed)));
    QVERIFY(events.count() <= 1);
    QCOMPARE(written.count(), 0);
    QVERIFY(port.PortOpen());

    try {
        port.setOutput(QByteArray("\x0c"));
        QFAIL("a write to a vanished device succeeded");
    } catch (const CommError &error) {
        QVERIFY(!error.reason().isEmpty());
    }
    QCOMPARE(written.count(), 0);

    QCOMPARE(codeOf([&] { port.setPortOpen(false); }), 0);
    QVERIFY(!port.PortOpen());

    line = std::make_unique<PtyPair>();
    useAsCom1(*line);
    QCOMPARE(codeOf([&] { port.setPortOpen(true); }), 0);
    port.setOutput(QByteArray("ok"));
    QCOMPARE(receive(*line, 2), QByteArray("ok"));
}

void MSCommTest::floodStaysBounded()
{
    PtyPair line;
    useAsCom1(line);
    MSComm port;
    open(port);
    QByteArray flood(1024 * 1024, Qt::Uninitialized);
    for (qsizetype index = 0; index < flood.size(); ++index)
        flood[index] = static_cast<char>(index % 251);

    // Nobody reads: the line must back up rather than fill memory.
    qsizetype sent = 0;
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < 1500) {
        sent += offer(line, flood.constData() + sent, flood.size() - sent);
        QTest::qWait(1);
    }
    QVERIFY2(sent < flood.size() / 2, qPrintable(QString::number(sent)));
    QVERIFY(port.InBufferCount() <= 1024);

    QByteArray received;
    clock.restart();
    while (received.size() < flood.size() && clock.elapsed() < 60000) {
        sent += offer(line, flood.constData() + sent, flood.size() - sent);
        QTest::qWait(1);
        const qint16 waiting = port.InBufferCount();
        const QByteArray chunk = port.Input();
        QVERIFY(waiting <= 1024 && chunk.size() <= 1024);
        received += chunk;
    }
    QCOMPARE(received.size(), flood.size());
    QVERIFY(received == flood);
}

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    WindowLayout::setUpApplication(app);
    MSCommTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_mscomm.moc"
