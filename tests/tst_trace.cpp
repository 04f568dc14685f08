#include "WindowHarness.h"
#include "commands/DisplayCommands.h"
#include "ui/WindowTrace.h"

#include <QDateTime>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>

namespace
{

// A trace file in a folder of its own. Its events come with their stamps taken off ("> FE F0"); a
// line out of the format (bytes as upper-case hex pairs with one space between), or stamped out of
// order or outside the file's life, is kept whole after "out of place: ".
struct TraceFile {
    QStringList events() const
    {
        static const QRegularExpression format(QStringLiteral(
            R"(^(\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{3}Z) ([<>]( [0-9A-F]{2})+|# \S.*)$)"));
        QFile file(path);
        QStringList events;
        QDateTime last = from.addMSecs(-1);
        const QDateTime to = QDateTime::currentDateTimeUtc().addMSecs(1);
        for (const QByteArray &line :
             file.open(QIODevice::ReadOnly) ? file.readAll().split('\n') : QByteArrayList()) {
            const QRegularExpressionMatch match = format.match(QString::fromUtf8(line));
            const QDateTime stamp = QDateTime::fromString(match.captured(1), Qt::ISODateWithMs);
            const bool inPlace = match.hasMatch() && stamp >= last && stamp <= to;
            if (!line.isEmpty())
                events.append(inPlace ? match.captured(2) : "out of place: " + line);
            last = stamp;
        }
        return events;
    }

    const QTemporaryDir directory;
    const QString path = directory.filePath("line.trace");
    const QDateTime from = QDateTime::currentDateTimeUtc();
};

} // namespace

class TraceTest : public WindowTestCase
{
    Q_OBJECT

private slots:
    // One window session, traced to KV310_TRACE, event by event against what the line carried
    // both ways.
    void windowSession()
    {
        WindowHarness &harness = *m_harness;
        const TraceFile trace;
        {
            const ScopedEnv variable("KV310_TRACE", trace.path);
            traceWindowLine(harness.window(), {});
        }
        QVERIFY(harness.openPort());
        QVERIFY(harness.click("cmdBanner"));
        const QByteArray banner = harness.line().readAll();
        QCOMPARE(banner, bannerCommand());
        QVERIFY(harness.click("cmdGetKey"));
        QCOMPARE(harness.wire(2), Wire::KeyRequest);
        QVERIFY(harness.line().write(QByteArray("\x2A\x01", 2)));
        QTRY_VERIFY(harness.control<QLabel>("lblKey(0)")->text() != "1 ??");
        QVERIFY(harness.click("cmdCom"));
        QCOMPARE(
            trace.events(),
            QStringList({"# open " + harness.line().slavePath() + " 2400,N,8,1",
                         "> " + banner.toHex(' ').toUpper(), "> FE F0", "< 2A 01", "# close"}));
    }

    // Each way bytes arrive, leave the buffer or fail to go, as the port component traces it; a
    // read or a discard that finds nothing leaves no event.
    void componentEvents()
    {
        const TraceFile trace;
        QString error;
        PtyPair line;
        const SlaveProbe probe(line.slavePath());
        MSComm port;
        port.setTrace(LineTrace::open(trace.path, error));
        QCOMPARE(error, QString());
        port.setDeviceName(line.slavePath());
        port.setSettings("9600,N,8,1");
        port.setPortOpen(true);
        QCOMPARE(port.Input().size(), 0);
        port.setInBufferCount(0);
        QVERIFY(line.write("\xab\x0c"));
        QTRY_COMPARE(port.InBufferCount(), 2);
        QCOMPARE(port.Input().size(), 2);
        QVERIFY(line.write("\xab\x0c"));
        QTRY_COMPARE(port.InBufferCount(), 2);
        port.setInBufferCount(0);
        // Not read by the port yet.
        QVERIFY(line.write("\xab\x0c"));
        QVERIFY(probe.waitForBytes());
        port.setInBufferCount(0);
        line.closeMaster();
        QTest::qWait(200);
        QVERIFY_THROWS_EXCEPTION(CommError, port.setOutput("abc"));
        port.setPortOpen(false);
        const QString gone = "The device is no longer connected";
        QCOMPARE(trace.events(),
                 QStringList({"# open " + line.slavePath() + " 9600,N,8,1", "< AB 0C", "< AB 0C",
                              "# 2 bytes discarded", "< AB 0C", "# 2 bytes discarded",
                              "# failed: " + gone, "# 3 bytes not sent: " + gone, "# close"}));
    }

    // The program's --trace wins over KV310_TRACE; a file it cannot open (in a missing folder) is
    // told on standard error, naming it, and the window runs on.
    void unwritableProgramTrace()
    {
        const QTemporaryDir directory;
        QProcess program;
        program.setWorkingDirectory(directory.path());
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert("KV310_TRACE", "v");
        program.setProcessEnvironment(environment);
        program.start(KV310_TEST_PATH, {"--trace", "missing/o"});
        QByteArray errors;
        QTRY_VERIFY((errors += program.readAllStandardError())
                        .contains("cannot open missing/o for the trace"));
        QTest::qWait(300);
        QCOMPARE(program.state(), QProcess::Running);
        QVERIFY(!program.readAllStandardError().contains("trace"));
        QCOMPARE(QDir(directory.path()).entryList(QDir::Files), QStringList());
        program.kill();
        program.waitForFinished();
    }
};

KV310_WINDOW_TEST_MAIN(TraceTest)

#include "tst_trace.moc"
