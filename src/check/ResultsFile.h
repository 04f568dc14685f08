#pragma once

#include "CheckReport.h"

#include <QByteArray>
#include <QDateTime>
#include <QFile>
#include <QJsonObject>
#include <QList>
#include <QLockFile>
#include <QString>

#include <optional>

// The keys of a record that the station and the summary read.
namespace RecordKey
{
inline constexpr QLatin1String Unit("unit");
inline constexpr QLatin1String Started("started");
inline constexpr QLatin1String Finished("finished");
inline constexpr QLatin1String Steps("steps");
inline constexpr QLatin1String StepName("name");
inline constexpr QLatin1String StepResult("result");
inline constexpr QLatin1String Verdict("verdict");
inline constexpr QLatin1String Station("station");
inline constexpr QLatin1String Operator("operator");
inline constexpr QLatin1String Attempt("attempt");
inline constexpr QLatin1String Shift("shift");
inline constexpr QLatin1String Seq("seq");
} // namespace RecordKey

// The lines of a results file (JSON Lines) as read so far, fed in file order. Every line counts,
// records or not; a last line without its newline counts as a line that cannot be read until its
// newline comes.
class ResultLines
{
public:
    void add(const QByteArray &bytes);

    int lineCount() const { return m_completeLines + (m_openLine.isEmpty() ? 0 : 1); }
    int unreadableCount() const { return m_unreadable + (m_openLine.isEmpty() ? 0 : 1); }
    bool endsInsideLine() const { return !m_openLine.isEmpty(); }
    // The lines that are JSON objects, in file order, with the keys RecordKey names (the steps
    // only where they failed).
    const QList<QJsonObject> &records() const { return m_records; }

private:
    void takeLine(const QByteArray &line);

    int m_completeLines = 0;
    int m_unreadable = 0;
    QByteArray m_openLine;
    QList<QJsonObject> m_records;
};

// Reads a whole file, or gives the reason it cannot be read.
std::optional<ResultLines> readResultLines(QFile &file, QString *error);

// What a station adds to the check's keys on each record.
struct StationKeys {
    QString station;
    QString operatorName;
    int attempt = 1;
    QDateTime shift;
};

// The check's record with the station's keys: what ResultsFile::append takes.
QJsonObject stationRecord(const CheckRecord &record, const StationKeys &keys);
// The record as it stands at Connect (unit, port, device, rate, started and the station's keys):
// the marker's content.
QJsonObject connectMarker(const CheckRecord &record, const StationKeys &keys);

// A results file held open for appending: locked against a second station, each record synced to
// disk before it counts as saved, and the unit under test kept in a marker beside it so that a
// crash still leaves a record of it.
class ResultsFile
{
public:
    enum class OpenResult { Opened, InUse, Failed };
    // Exclusive: a station's, with the lock and the recovery of a marker left by a crash. None:
    // for a single report line, which takes neither (a station may hold the file).
    enum class Locking { Exclusive, None };

    explicit ResultsFile(const QString &path);

    OpenResult open(Locking locking = Locking::Exclusive);
    // After open() failed: "FILE is in use by another station" or
    // "Cannot write results to FILE: REASON".
    QString openErrorMessage() const;
    // The reason of the last failure.
    const QString &errorString() const { return m_error; }

    const QString &path() const { return m_path; }
    QString markerPath() const { return m_path + QStringLiteral(".testing"); }

    // The file as read at open and since, this process's records included.
    const ResultLines &lines() const { return m_lines; }
    // The unit whose marker open() found without its record: recorded as incomplete.
    const std::optional<QString> &recoveredUnit() const { return m_recoveredUnit; }

    // Sets the record's seq and appends it, synced; then removes the marker, if one was written.
    // False, with errorString(), when it cannot be known to be on disk.
    bool append(QJsonObject record);
    // Appends a ready line (without its line end) as it is, synced.
    bool appendLine(const QByteArray &line);

    bool writeMarker(const QJsonObject &atConnect);
    // The unit's test ended without a record (cancelled before it began).
    bool removeMarker();

private:
    bool fail(const QString &reason);
    bool catchUp();
    bool writeSynced(const QByteArray &line);
    bool recoverMarker();

    const QString m_path;
    QFile m_file;
    QLockFile m_lock;
    OpenResult m_openResult = OpenResult::Failed;
    QString m_error;
    ResultLines m_lines;
    qint64 m_readSize = 0;
    bool m_markerWritten = false;
    std::optional<QString> m_recoveredUnit;
};
