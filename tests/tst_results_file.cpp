#include "check/ResultsFile.h"

#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

namespace
{

const QString Started = QStringLiteral("2026-12-08T09:00:00.000Z");

QByteArrayList linesOf(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll().split('\n') : QByteArrayList();
}

void appendBytes(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Append));
    QCOMPARE(file.write(bytes), bytes.size());
}

QJsonValue keyOf(const QByteArray &line, const char *key)
{
    return QJsonDocument::fromJson(line)[QLatin1String(key)];
}

} // namespace

// What the station's own tests cannot show cheaply, in process on real files.
class ResultsFileTest : public QObject
{
    Q_OBJECT

private slots:
    void init() { m_path = m_scratch.emplace().filePath("r.jsonl"); }

    void lockOfKilledStationTakenOver()
    {
        const pid_t station = ::fork();
        if (station == 0) {
            ResultsFile held(m_path);
            held.open();
            ::raise(SIGKILL);
            ::_exit(1);
        }
        int status = 0;
        QCOMPARE(::waitpid(station, &status, 0), station);
        QVERIFY(WIFSIGNALED(status));
        QVERIFY(QFile::exists(m_path + ".lock"));
        ResultsFile results(m_path);
        QCOMPARE(results.open(), ResultsFile::OpenResult::Opened);
        QVERIFY(results.append({{"unit", "A"}}));
    }

    // Every line counts for seq, another writer's since the open too, and a record never joins
    // the line before it: a torn one, or its own that a full disk cut.
    void seqCountsEveryLine()
    {
        const QByteArray before = "[1]\n\nnot json\n{}\n";
        appendBytes(m_path, before);
        ResultsFile results(m_path);
        QCOMPARE(results.open(), ResultsFile::OpenResult::Opened);
        appendBytes(m_path, "{}\n{\"c\":");
        rlimit fileSize{};
        QCOMPARE(::getrlimit(RLIMIT_FSIZE, &fileSize), 0);
        const rlimit full{rlim_t(QFileInfo(m_path).size() + 10), fileSize.rlim_max};
        const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
        QCOMPARE(::setrlimit(RLIMIT_FSIZE, &full), 0);
        const bool appended = results.append({{"unit", "A"}});
        QCOMPARE(::setrlimit(RLIMIT_FSIZE, &fileSize), 0);
        std::signal(SIGXFSZ, oldHandler);
        QVERIFY(!appended);
        QVERIFY(results.append({{"unit", "B"}}));
        const QByteArrayList lines = linesOf(m_path);
        QCOMPARE(lines.mid(0, 6), QByteArray(before + "{}\n{\"c\":").split('\n'));
        QCOMPARE(lines[6], QByteArray("{\"seq\":7,"));
        QCOMPARE(lines.size(), 9); // and an empty one after the last newline
        QCOMPARE(keyOf(lines[7], "seq").toInt(), 8);
        QCOMPARE(results.lines().unreadableCount(), 5);
        QCOMPARE(results.lines().records().constLast()["unit"].toString(), "B");
    }

    // A marker left by a crash: recorded as incomplete, unless that test's record is in the file.
    void recovery_data()
    {
        QTest::addColumn<QString>("saved"); // the start of a record of the unit already there
        QTest::newRow("crash before the record") << QString();
        QTest::newRow("crash after its sync") << Started;
        QTest::newRow("an earlier test only") << "2026-12-08T08:00:00.000Z";
    }
    void recovery()
    {
        QFETCH(QString, saved);
        const bool recorded = saved != Started;
        {
            ResultsFile crashed(m_path);
            QCOMPARE(crashed.open(), ResultsFile::OpenResult::Opened);
            if (!saved.isEmpty())
                QVERIFY(crashed.append({{"unit", "SN7"}, {"started", saved}}));
            QVERIFY(crashed.writeMarker({{"unit", "SN7"}, {"started", Started}, {"attempt", 2}}));
        }
        ResultsFile results(m_path);
        QCOMPARE(results.open(), ResultsFile::OpenResult::Opened);
        QCOMPARE(results.recoveredUnit().has_value(), recorded);
        QVERIFY(!QFile::exists(results.markerPath()));
        const QByteArrayList lines = linesOf(m_path);
        QCOMPARE(lines.size(), (saved.isEmpty() ? 1 : 2) + (recorded ? 1 : 0));
        if (!recorded)
            return;
        const QByteArray incomplete = lines[lines.size() - 2];
        QCOMPARE(keyOf(incomplete, "verdict").toString(), "incomplete");
        QCOMPARE(keyOf(incomplete, "attempt").toInt(), 2);
        QCOMPARE(keyOf(incomplete, "started").toString(), Started);
        QVERIFY(keyOf(incomplete, "finished").toString() >
                QDateTime::currentDateTimeUtc().addSecs(-60).toString(Qt::ISODateWithMs));
        QCOMPARE(keyOf(incomplete, "steps").toArray().size(), 9);
        QCOMPARE(incomplete.count("\"result\":\"skipped\""), 9);
    }

private:
    std::optional<QTemporaryDir> m_scratch;
    QString m_path;
};

QTEST_GUILESS_MAIN(ResultsFileTest)

#include "tst_results_file.moc"
