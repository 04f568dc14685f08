#include "WindowHarness.h"
#include "commands/DisplayCommands.h"
#include "ui/WindowTrace.h"

#include <QDateTime>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>

namespace
{

// A trace's events with their stamps taken off ("> FE F0"). A line out of the format (bytes as
// upper-case hex pairs with one space between), or stamped out of order or outside [from, to],
// is kept whole after "out of place: ".
QStringList traceEvents(const QString &path, const QDateTime &from, const QDateTime &to)
{
    static const QRegularExpression format(QStringLiteral(
        R"(^(\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{3}Z) ([<>]( [0-9A-F]{2})+|# \S.*)$)"));
    QFile file(path);
    QStringList events;
    QDateTime last = from.addMSecs(-1);
    for (const QByteArray &line :
         file.open(QIODevice::ReadOnly) ? file.readAll().split('\n') : QByteArrayList()) {
        const QRegularExpressionMatch match = format.match(QString::fromUtf8(line));
        const QDateTime stamp = QDateTime::fromString(match.captured(1), Qt::ISODateWithMs);
        const bool inPlace = match.hasMatch() && stamp >= last && stamp <= to.addMSecs(1);
        if (!line.isEmpty())
            events.append(inPlace ? match.captured(2) : "out of place: " + line);
        last = stamp;
    }
    return events;
}

} // namespace

class TraceTest : public WindowTestCase
{
    Q_OBJECT

    enum Step { ReadNothing, ReadArrived, DiscardSeen, DiscardUnread, DiscardNothing, WriteOnDead };

private slots:
    // One window session, event by event against what the line carried both ways.
    void windowSession()
    {
        WindowHarness &harness = *m_harness;
        const QTemporaryDir directory;
        const QString path = directory.filePath("line.trace");
        const QDateTime from = QDateTime::currentDateTimeUtc();
        traceWindowLine(harness.window(), path);
        QVERIFY(harness.openPort());
        QVERIFY(harness.click("cmdBanner"));
        const QByteArray banner = harness.line().readAll();
        QCOMPARE(banner, bannerCommand());
        QVERIFY(harness.click("cmdGetKey"));
        QCOMPARE(harness.wire(2), Wire::KeyRequest);
        const QByteArray answer("\x2A\x01", 2);
        QVERIFY(harness.line().write(answer));
        QTRY_VERIFY(harness.control<QLabel>("lblKey(0)")->text() != "1 ??");
        QVERIFY(harness.click("cmdCom"));
        QCOMPARE(
            traceEvents(path, from, QDateTime::currentDateTimeUtc()),
            QStringList({"# open " + harness.line().slavePath() + " 2400,N,8,1",
                         "> " + banner.toHex(' ').toUpper(), "> FE F0", "< 2A 01", "# close"}));
    }

    // Each way bytes arrive, leave the buffer or fail to go, as the port component traces it.
    void componentEvents_data()
    {
        QTest::addColumn<int>("step");
        QTest::addColumn<QStringList>("events");
        QTest::newRow("a read that finds nothing") << int(ReadNothing) << QStringList();
        QTest::newRow("bytes read") << int(ReadArrived) << QStringList{"< AB 0C"};
        QTest::newRow("bytes seen, then discarded")
            << int(DiscardSeen) << QStringList{"< AB 0C", "# 2 bytes discarded"};
        QTest::newRow("bytes the port had not read yet, discarded")
            << int(DiscardUnread) << QStringList{"< AB 0C", "# 2 bytes discarded"};
        QTest::newRow("an empty buffer emptied") << int(DiscardNothing) << QStringList();
        QTest::newRow("a write to a line that hung up")
            << int(WriteOnDead)
            << QStringList{"# failed: The device is no longer connected",
                           "# 3 bytes not sent: The device is no longer connected"};
    }
    void componentEvents()
    {
        QFETCH(int, step);
        QFETCH(QStringList, events);
        const QTemporaryDir directory;
        const QString path = directory.filePath("line.trace");
        const QDateTime from = QDateTime::currentDateTimeUtc();
        QString error;
        PtyPair line;
        const SlaveProbe probe(line.slavePath());
        MSComm port;
        port.setTrace(LineTrace::open(path, error));
        QCOMPARE(error, QString());
        port.setDeviceName(line.slavePath());
        port.setSettings("9600,N,8,1");
        port.setPortOpen(true);
        if (step != ReadNothing && step != DiscardNothing && step != WriteOnDead)
            QVERIFY(line.write("\xab\x0c"));
        if (step == ReadArrived || step == DiscardSeen)
            QTRY_COMPARE(port.InBufferCount(), 2);
        if (step == DiscardUnread)
            QVERIFY(probe.waitForBytes());
        if (step == ReadArrived || step == ReadNothing)
            QCOMPARE(port.Input().size(), step == ReadArrived ? 2 : 0);
        if (step == DiscardSeen || step == DiscardUnread || step == DiscardNothing)
            port.setInBufferCount(0);
        if (step == WriteOnDead) {
            line.closeMaster();
            QTest::qWait(200);
            QVERIFY_THROWS_EXCEPTION(CommError, port.setOutput("abc"));
        }
        port.setPortOpen(false);
        QCOMPARE(traceEvents(path, from, QDateTime::currentDateTimeUtc()),
                 QStringList{"# open " + line.slavePath() + " 9600,N,8,1"} + events +
                     QStringList{"# close"});
    }

    // The window's trace file, chosen by --trace over KV310_TRACE: one that cannot be opened (in a
    // missing folder) is told on standard error, naming it, and the window runs on.
    void programTraceFile_data()
    {
        QTest::addColumn<QString>("option");
        QTest::addColumn<QString>("variable");
        QTest::newRow("the variable's file cannot be opened") << ""
                                                              << "missing/v";
        QTest::newRow("the option's cannot, the variable's can") << "missing/o"
                                                                 << "v";
        QTest::newRow("the option's can, the variable's cannot") << "o"
                                                                 << "missing/v";
    }
    void programTraceFile()
    {
        QFETCH(QString, option);
        QFETCH(QString, variable);
        const QTemporaryDir directory;
        QProcess program;
        program.setWorkingDirectory(directory.path());
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert("KV310_TRACE", variable);
        program.setProcessEnvironment(environment);
        program.start(KV310_TEST_PATH,
                      option.isEmpty() ? QStringList() : QStringList{"--trace", option});
        const QString chosen = option.isEmpty() ? variable : option;
        QByteArray errors;
        if (chosen.startsWith("missing/"))
            QTRY_VERIFY((errors += program.readAllStandardError())
                            .contains("cannot open " + chosen.toLocal8Bit() + " for the trace"));
        else
            QTRY_VERIFY(QFile::exists(directory.filePath(chosen)));
        QTest::qWait(300);
        QCOMPARE(program.state(), QProcess::Running);
        QVERIFY(!program.readAllStandardError().contains("trace"));
        QCOMPARE(QDir(directory.path()).entryList(QDir::Files).size(), int(chosen == "o"));
        program.kill();
        program.waitForFinished();
    }
};

KV310_WINDOW_TEST_MAIN(TraceTest)

#include "tst_trace.moc"
