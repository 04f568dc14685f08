#include "check/ResultsFile.h"

#include <QDir>
#include <QJsonArray>
#include <QJsonDocument>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>

#include <cstdio>

namespace
{

constexpr char HoldVariable[] = "TST_RESULTS_HOLD";

QJsonObject recordOf(const QString &unit, const QString &started = "2026-12-08T09:00:00.000Z")
{
    CheckRecord record;
    record.unit = unit;
    record.started = QDateTime::fromString(started, Qt::ISODateWithMs);
    record.finished = record.started.addSecs(20);
    record.verdict = Verdict::Pass;
    return stationRecord(record, {QStringLiteral("bench 1"), QStringLiteral("ann"), 1,
                                  record.started.addSecs(-3600)});
}

QByteArray contentOf(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

void appendBytes(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Append));
    QCOMPARE(file.write(bytes), bytes.size());
}

} // namespace

// The results file as the station uses it: in process, on real files, a child process only to
// die holding the lock.
class ResultsFileTest : public QObject
{
    Q_OBJECT

private slots:
    void opening_data()
    {
        QTest::addColumn<QString>("before"); // what holds the file first
        QTest::addColumn<int>("result");
        QTest::addColumn<QString>("message"); // %1: the file
        const auto row = [](const char *name, const char *before, ResultsFile::OpenResult result,
                            const char *message) {
            QTest::newRow(name) << before << int(result) << message;
        };
        row("new file", "", ResultsFile::OpenResult::Opened, "");
        row("held by another station", "station", ResultsFile::OpenResult::InUse,
            "%1 is in use by another station");
        row("lock of a killed station", "killed", ResultsFile::OpenResult::Opened, "");
        row("no such folder", "no folder", ResultsFile::OpenResult::Failed,
            "Cannot write results to %1: No such file or directory");
    }
    void opening()
    {
        QFETCH(QString, before);
        QFETCH(int, result);
        QFETCH(QString, message);
        QTemporaryDir scratch;
        const QString path = scratch.filePath(before == "no folder" ? "none/r.jsonl" : "r.jsonl");
        ResultsFile first(path);
        QProcess holder;
        if (before == "station") {
            QCOMPARE(first.open(), ResultsFile::OpenResult::Opened);
        } else if (before == "killed") {
            holder.setEnvironment(QProcess::systemEnvironment() << HoldVariable + ("=" + path));
            holder.start(QCoreApplication::applicationFilePath(), {});
            QVERIFY(holder.waitForReadyRead(10000));
            QCOMPARE(holder.readAll(), QByteArray("locked\n"));
            holder.kill();
            QVERIFY(holder.waitForFinished(10000));
            QVERIFY(QFile::exists(path + ".lock"));
        }
        ResultsFile results(path);
        QCOMPARE(int(results.open()), result);
        if (!message.isEmpty())
            QCOMPARE(results.openErrorMessage(), message.arg(path));
        else
            QVERIFY(results.append(recordOf("A")));
    }

    // Every line counts for seq, records or not, and a record never joins a line before it.
    void appending_data()
    {
        QTest::addColumn<QByteArray>("before");
        QTest::addColumn<QByteArray>("meanwhile"); // another writer's, after the open
        QTest::addColumn<int>("seq");
        QTest::addColumn<int>("unreadable");
        QTest::newRow("empty") << QByteArray() << QByteArray() << 1 << 0;
        QTest::newRow("records") << QByteArray("{\"a\":1}\n{\"b\":2}\n") << QByteArray() << 3 << 0;
        QTest::newRow("torn last line")
            << QByteArray("{\"unit\":\"A\"}\n{\"unit\":\"B\",\"ver") << QByteArray() << 3 << 1;
        QTest::newRow("not objects")
            << QByteArray("[1]\n\nnot json\n{}\n") << QByteArray() << 5 << 3;
        QTest::newRow("another writer")
            << QByteArray("{}\n") << QByteArray("{}\n{\"c\":") << 4 << 1;
    }
    void appending()
    {
        QFETCH(QByteArray, before);
        QFETCH(QByteArray, meanwhile);
        QFETCH(int, seq);
        QFETCH(int, unreadable);
        QTemporaryDir scratch;
        const QString path = scratch.filePath("r.jsonl");
        appendBytes(path, before);
        ResultsFile results(path);
        QCOMPARE(results.open(), ResultsFile::OpenResult::Opened);
        appendBytes(path, meanwhile);
        QVERIFY(results.append(recordOf("A")));
        QVERIFY(results.append(recordOf("B")));

        const QList<QByteArray> lines = contentOf(path).split('\n');
        QCOMPARE(lines.size(), seq + 2); // and an empty one after the last newline
        const QByteArray earlier = before + meanwhile;
        QCOMPARE(lines.mid(0, seq - 1), earlier.split('\n').mid(0, seq - 1));
        QCOMPARE(QJsonDocument::fromJson(lines[seq - 1])["seq"].toInt(), seq);
        QCOMPARE(QJsonDocument::fromJson(lines[seq])["seq"].toInt(), seq + 1);
        QCOMPARE(results.lines().unreadableCount(), unreadable);
        QCOMPARE(results.lines().records().constLast()["unit"].toString(), "B");
    }

    // A unit's marker outlives a crash; the next start records the test once, as incomplete.
    void recovery_data()
    {
        QTest::addColumn<QString>("saved"); // a record of the unit already in the file
        QTest::addColumn<bool>("recorded"); // an incomplete record expected
        const QString started = "2026-12-08T09:00:00.000Z";
        QTest::newRow("crash before the record") << QString() << true;
        QTest::newRow("crash after its sync") << started << false;
        QTest::newRow("an earlier test only") << "2026-12-08T08:00:00.000Z" << true;
    }
    void recovery()
    {
        QFETCH(QString, saved);
        QFETCH(bool, recorded);
        QTemporaryDir scratch;
        const QString path = scratch.filePath("r.jsonl");
        {
            ResultsFile crashed(path);
            QCOMPARE(crashed.open(), ResultsFile::OpenResult::Opened);
            if (!saved.isEmpty())
                QVERIFY(crashed.appendLine(
                    QJsonDocument(recordOf("SN7", saved)).toJson(QJsonDocument::Compact)));
            CheckRecord atConnect;
            atConnect.unit = "SN7";
            atConnect.started = QDateTime::fromString("2026-12-08T09:00:00.000Z", Qt::ISODate);
            QVERIFY(crashed.writeMarker(connectMarker(atConnect, {"bench 1", "ann", 2, {}})));
        }
        for (int start = 0; start < 2; ++start) {
            ResultsFile results(path);
            QCOMPARE(results.open(), ResultsFile::OpenResult::Opened);
            QCOMPARE(results.recoveredUnit().has_value(), recorded && start == 0);
            QVERIFY(!QFile::exists(results.markerPath()));
        }
        ResultLines lines;
        lines.add(contentOf(path));
        const QList<QJsonObject> records = lines.records();
        QCOMPARE(records.size(), (saved.isEmpty() ? 0 : 1) + (recorded ? 1 : 0));
        if (!recorded)
            return;
        const QJsonObject incomplete = records.constLast();
        QCOMPARE(incomplete["verdict"].toString(), "incomplete");
        QCOMPARE(incomplete["attempt"].toInt(), 2);
        QCOMPARE(incomplete["started"].toString(), "2026-12-08T09:00:00.000Z");
        QVERIFY(QDateTime::fromString(incomplete["finished"].toString(), Qt::ISODate)
                    .secsTo(QDateTime::currentDateTimeUtc()) < 60);
        const QJsonArray steps = incomplete["steps"].toArray();
        QCOMPARE(steps.size(), 9);
        for (const QJsonValue &step : steps)
            QCOMPARE(step["result"].toString(), "skipped");
    }

    void savedRecordRemovesMarker()
    {
        QTemporaryDir scratch;
        ResultsFile results(scratch.filePath("r.jsonl"));
        QCOMPARE(results.open(), ResultsFile::OpenResult::Opened);
        QVERIFY(results.writeMarker(connectMarker({}, {})));
        QVERIFY(QFile::exists(results.markerPath()));
        QVERIFY(results.append(recordOf("A")));
        QVERIFY(!QFile::exists(results.markerPath()));
    }

    // A full disk: no append is success, and the one after room is made starts a line of its own.
    void fullFileSystem()
    {
        QTemporaryDir scratch;
        const QString mountPoint = scratch.filePath("small");
        QVERIFY(QDir().mkdir(mountPoint));
        if (QProcess::execute("mount", {"-t", "tmpfs", "-o", "size=64k", "tmpfs", mountPoint}) != 0)
            QSKIP("cannot mount a small tmpfs here (CI runs as root)");
        const auto unmount = qScopeGuard([&] { QProcess::execute("umount", {"-l", mountPoint}); });
        const QString path = mountPoint + "/r.jsonl";
        // Most of a page already: the next record fits only in part.
        appendBytes(path, QByteArray(4000, 'x') + '\n');
        ResultsFile results(path);
        QCOMPARE(results.open(), ResultsFile::OpenResult::Opened);
        QFile filler(mountPoint + "/filler");
        QVERIFY(filler.open(QIODevice::WriteOnly));
        while (filler.write(QByteArray(4096, '\0')) > 0 && filler.flush()) {
        }
        filler.close();
        for (int attempt = 0; attempt < 3; ++attempt) {
            QVERIFY(!results.append(recordOf("A")));
            QVERIFY(!results.errorString().isEmpty());
        }
        QVERIFY(filler.remove());
        QVERIFY(results.append(recordOf("B")));
        const QList<QByteArray> lines = contentOf(path).split('\n');
        const QJsonObject last = QJsonDocument::fromJson(lines[lines.size() - 2]).object();
        QCOMPARE(last["unit"].toString(), "B");
        QCOMPARE(last["seq"].toInt(), lines.size() - 1);
    }
};

// The child of the killed-station row: holds the file until it is killed.
int main(int argc, char *argv[])
{
    if (const QString path = qEnvironmentVariable(HoldVariable); !path.isEmpty()) {
        ResultsFile results(path);
        if (results.open() != ResultsFile::OpenResult::Opened)
            return 1;
        std::fputs("locked\n", stdout);
        std::fflush(stdout);
        QThread::sleep(60);
        return 0;
    }
    QCoreApplication application(argc, argv);
    ResultsFileTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_results_file.moc"
