#include "PtyPair.h"
#include "ui/WindowLayout.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QProcess>
#include <QTest>

namespace
{

// The real program as a child process, on the slave of a pseudo-terminal held by the test.
class DriverProcess
{
public:
    explicit DriverProcess(const PtyPair &line)
    {
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("KV310_COM1"), line.slavePath());
        environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        process.setProcessEnvironment(environment);
        process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        process.start(QStringLiteral(KV310_DRIVER_PATH), QStringList());
    }
    ~DriverProcess()
    {
        if (process.state() != QProcess::NotRunning) {
            process.kill();
            process.waitForFinished(5000);
        }
    }

    void send(const QByteArray &command)
    {
        process.write(command + '\n');
        process.waitForBytesWritten(1000);
    }

    // Waits for the answer that starts with prefix, passing over the others.
    bool waitFor(const QByteArray &prefix, int timeoutMs = 10000)
    {
        QElapsedTimer clock;
        clock.start();
        while (clock.elapsed() < timeoutMs) {
            while (process.canReadLine()) {
                if (process.readLine().startsWith(prefix))
                    return true;
            }
            if (!process.waitForReadyRead(50) && process.state() == QProcess::NotRunning)
                return false;
        }
        return false;
    }

    QProcess process;
};

QByteArray rippleBytes()
{
    return "\x0c" + QByteArray(17, '\xff') + "\x0a" + QByteArray(17, '\xff') + "\xfe\x80" +
           QByteArray(17, ' ') + "\x0a" + QByteArray(17, ' ') + "\xfe\x80";
}

} // namespace

class ExitTest : public QObject
{
    Q_OBJECT

private slots:
    void endsAtOnce_data()
    {
        QTest::addColumn<QByteArray>("command");
        QTest::addColumn<bool>("duringRipple");
        QTest::newRow("Exit while idle") << QByteArray("click cmdExit") << false;
        QTest::newRow("Exit during a pause") << QByteArray("click cmdExit") << true;
        QTest::newRow("title bar during a pause") << QByteArray("close") << true;
        // Every nested event loop returns at once then: the ripple must not race to its end.
        QTest::newRow("application quits during a pause") << QByteArray("quit") << true;
    }
    void endsAtOnce()
    {
        QFETCH(QByteArray, command);
        QFETCH(bool, duringRipple);

        PtyPair line;
        QVERIFY(line.isValid());
        DriverProcess driver(line);
        QVERIFY(driver.waitFor("ready"));
        driver.send("click cmdCom");
        QVERIFY(driver.waitFor("clicked cmdCom"));
        driver.send("state");
        QVERIFY(driver.waitFor("state open=1"));

        QByteArray wire;
        if (duringRipple) {
            driver.send("click cmdRipple");
            // The clear and four blocks: the ripple has just entered a pause.
            wire = line.read(5, 10000);
            QCOMPARE(wire, rippleBytes().left(5));
        }
        QElapsedTimer clock;
        clock.start();
        driver.send(command);
        QVERIFY(driver.process.waitForFinished(10000));
        QVERIFY2(clock.elapsed() < 1000, qPrintable(QString::number(clock.elapsed())));
        QCOMPARE(driver.process.exitStatus(), QProcess::NormalExit);
        QCOMPARE(driver.process.exitCode(), 0);

        // One more character may have slipped out on a slow machine, never the rest.
        const QByteArray after = line.readAll(300, 2000);
        QVERIFY2(after.size() <= 1, after.toHex(' ').constData());
        QCOMPARE(wire + after, rippleBytes().left(wire.size() + after.size()));
        if (!duringRipple)
            QVERIFY(after.isEmpty());
    }
};

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    WindowLayout::setUpApplication(app);
    ExitTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_exit.moc"
