#include "WindowHarness.h"
#include "commands/DisplayCommands.h"
#include "ui/WindowTrace.h"

#include <QDateTime>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>

namespace
{

// A trace's events with their stamps taken off ("> FE F0"); fault says what is wrong with a line:
// a stamp out of the format, out of order or outside [from, to], or bytes not written as
// upper-case hex pairs with one space between.
struct Trace {
    QStringList events;
    QString fault;
};

Trace readTrace(const QString &path, const QDateTime &from, const QDateTime &to)
{
    static const QRegularExpression format(QStringLiteral(
        R"(^(\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{3}Z) (([<>]) [0-9A-F]{2}( [0-9A-F]{2})*|# \S.*)$)"));
    QFile file(path);
    Trace trace;
    if (!file.open(QIODevice::ReadOnly))
        return {{}, QStringLiteral("no trace")};
    QDateTime last = from.addMSecs(-1);
    for (const QByteArray &line : file.readAll().split('\n')) {
        const QRegularExpressionMatch match = format.match(QString::fromUtf8(line));
        const QDateTime stamp = QDateTime::fromString(match.captured(1), Qt::ISODateWithMs);
        if (line.isEmpty())
            continue;
        if (!match.hasMatch() || stamp < last || stamp > to.addMSecs(1))
            trace.fault += QStringLiteral("line out of place: ") + line + '\n';
        last = stamp;
        trace.events.append(match.captured(2));
    }
    return trace;
}

QString sent(const QByteArray &bytes)
{
    return QStringLiteral("> ") + bytes.toHex(' ').toUpper();
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
        const Trace trace = readTrace(path, from, QDateTime::currentDateTimeUtc());
        QCOMPARE(trace.fault, QString());
        QCOMPARE(trace.events,
                 QStringList({"# open " + harness.line().slavePath() + " 2400,N,8,1", sent(banner),
                              sent(Wire::KeyRequest), "< 2A 01", "# close"}));
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
        const Trace trace = readTrace(path, from, QDateTime::currentDateTimeUtc());
        QCOMPARE(trace.fault, QString());
        QCOMPARE(trace.events, QStringList{"# open " + line.slavePath() + " 9600,N,8,1"} + events +
                                   QStringList{"# close"});
    }

    // The window's trace file, chosen by --trace over KV310_TRACE: one that cannot be opened is
    // told on standard error, naming it, and the window runs on.
    void programTraceFile_data()
    {
        QTest::addColumn<bool>("optionOpens");
        QTest::addColumn<bool>("variableOpens");
        QTest::addColumn<bool>("optionGiven");
        QTest::newRow("the variable's file cannot be opened") << false << false << false;
        QTest::newRow("the option's cannot, the variable's can") << false << true << true;
        QTest::newRow("the option's can, the variable's cannot") << true << false << true;
    }
    void programTraceFile()
    {
        QFETCH(bool, optionOpens);
        QFETCH(bool, variableOpens);
        QFETCH(bool, optionGiven);
        const QTemporaryDir directory;
        const auto file = [&directory](bool opens, const char *name) {
            return directory.filePath(opens ? name : QStringLiteral("missing/%1").arg(name));
        };
        const QString option = file(optionOpens, "option.trace");
        const QString variable = file(variableOpens, "variable.trace");
        const QString chosen = optionGiven ? option : variable;
        const bool opens = optionGiven ? optionOpens : variableOpens;
        QProcess program;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert("KV310_TRACE", variable);
        program.setProcessEnvironment(environment);
        program.start(KV310_TEST_PATH,
                      optionGiven ? QStringList{"--trace", option} : QStringList());
        QVERIFY(program.waitForStarted());
        QByteArray errors;
        if (opens)
            QTRY_VERIFY(QFile::exists(chosen));
        else
            QTRY_VERIFY((errors += program.readAllStandardError())
                            .contains(("cannot open " + chosen + " for the trace").toLocal8Bit()));
        QTest::qWait(300);
        QCOMPARE(program.state(), QProcess::Running);
        QVERIFY(!program.readAllStandardError().contains("trace"));
        QVERIFY(!QFile::exists(optionGiven ? variable : option));
        program.kill();
        program.waitForFinished();
    }
};

KV310_WINDOW_TEST_MAIN(TraceTest)

#include "tst_trace.moc"
