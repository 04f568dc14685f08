#include "ResultsFile.h"

#include <QDir>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QSaveFile>

#include <algorithm>
#include <cerrno>
#include <utility>

#ifdef Q_OS_WIN
#include <io.h>
#include <qt_windows.h>
#else
#include "FdHandle.h"

#include <fcntl.h>
#include <unistd.h>
#endif

namespace
{

constexpr qint64 ReadChunk = 1 << 16;

// Empty when what was written to the file is on the disk, or the reason it may not be.
QString syncToDisk(QFile &file)
{
#ifdef Q_OS_WIN
    const auto handle = reinterpret_cast<HANDLE>(::_get_osfhandle(file.handle()));
    if (handle == INVALID_HANDLE_VALUE || !::FlushFileBuffers(handle))
        return qt_error_string(int(::GetLastError()));
#else
    int result = 0;
    do
        result = ::fsync(file.handle());
    while (result != 0 && errno == EINTR);
    if (result != 0)
        return qt_error_string(errno);
#endif
    return {};
}

// A new file's name is on the disk only once its folder is.
QString syncFolder(const QString &path)
{
#ifdef Q_OS_WIN
    Q_UNUSED(path);
#else
    const FdHandle folder(::open(QFile::encodeName(QFileInfo(path).absolutePath()).constData(),
                                 O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!folder.isValid() || ::fsync(folder.get()) != 0)
        return qt_error_string(errno);
#endif
    return {};
}

QJsonObject parseObject(const QByteArray &json)
{
    return QJsonDocument::fromJson(json).object();
}

bool hasRecord(const ResultLines &lines, const QJsonValue &unit, const QJsonValue &started)
{
    return std::any_of(lines.records().cbegin(), lines.records().cend(),
                       [&](const QJsonObject &record) {
                           return record.value(RecordKey::Unit) == unit &&
                                  record.value(RecordKey::Started) == started;
                       });
}

// The test a crash interrupted: nothing of it was seen, so every step is skipped.
QJsonObject incompleteRecord(const QJsonObject &atConnect)
{
    CheckRecord unstarted;
    unstarted.steps = unstartedSteps();
    QJsonObject record = reportObject(unstarted);
    for (auto key = atConnect.constBegin(); key != atConnect.constEnd(); ++key)
        record.insert(key.key(), key.value());
    record.insert(RecordKey::Finished, QDateTime::currentDateTimeUtc().toString(Qt::ISODateWithMs));
    record.insert(RecordKey::Verdict, verdictName(Verdict::Incomplete));
    return record;
}

} // namespace

void ResultLines::add(const QByteArray &bytes)
{
    qsizetype start = 0;
    for (qsizetype end = bytes.indexOf('\n'); end >= 0; end = bytes.indexOf('\n', start)) {
        if (m_openLine.isEmpty()) {
            takeLine(bytes.mid(start, end - start));
        } else {
            m_openLine += bytes.mid(start, end - start);
            takeLine(std::exchange(m_openLine, {}));
        }
        start = end + 1;
    }
    m_openLine += bytes.mid(start);
}

namespace
{

// What the station and the summary read of a record: a shift of hundreds of units must not
// keep every step of every record in memory.
QJsonObject essentials(const QJsonObject &record)
{
    QJsonObject kept;
    for (const QLatin1String &key : {RecordKey::Unit, RecordKey::Started, RecordKey::Finished,
                                     RecordKey::Verdict, RecordKey::Shift}) {
        if (record.contains(key))
            kept.insert(key, record.value(key));
    }
    QJsonArray failed;
    for (const QJsonValue &step : record.value(RecordKey::Steps).toArray()) {
        if (step[RecordKey::StepResult].toString() == resultName(CheckStep::Result::Fail))
            failed.append(QJsonObject{{RecordKey::StepName, step[RecordKey::StepName]},
                                      {RecordKey::StepResult, step[RecordKey::StepResult]}});
    }
    if (!failed.isEmpty())
        kept.insert(RecordKey::Steps, failed);
    return kept;
}

} // namespace

void ResultLines::takeLine(const QByteArray &line)
{
    ++m_completeLines;
    const QJsonDocument document = QJsonDocument::fromJson(line);
    if (document.isObject())
        m_records.append(essentials(document.object()));
    else
        ++m_unreadable;
}

std::optional<ResultLines> readResultLines(QFile &file, QString *error)
{
    ResultLines lines;
    while (true) {
        const QByteArray chunk = file.read(ReadChunk);
        if (chunk.isEmpty()) {
            if (file.error() == QFileDevice::NoError)
                return lines;
            *error = file.errorString();
            return std::nullopt;
        }
        lines.add(chunk);
    }
}

QJsonObject stationRecord(const CheckRecord &record, const StationKeys &keys)
{
    QJsonObject line = reportObject(record);
    line.insert(RecordKey::Station, keys.station);
    line.insert(RecordKey::Operator, keys.operatorName);
    line.insert(RecordKey::Attempt, keys.attempt);
    line.insert(RecordKey::Shift, keys.shift.toUTC().toString(Qt::ISODateWithMs));
    return line;
}

QJsonObject connectMarker(const CheckRecord &record, const StationKeys &keys)
{
    // Taken from the record itself, so that a recovery compares started as the record wrote it.
    const QJsonObject full = stationRecord(record, keys);
    QJsonObject marker;
    for (const QLatin1String key : {RecordKey::Unit, QLatin1String("port"), QLatin1String("device"),
                                    QLatin1String("rate"), RecordKey::Started, RecordKey::Station,
                                    RecordKey::Operator, RecordKey::Attempt, RecordKey::Shift})
        marker.insert(key, full.value(key));
    return marker;
}

ResultsFile::ResultsFile(const QString &path)
    : m_path(path), m_file(path), m_lock(path + QStringLiteral(".lock"))
{
    // Only a lock whose process has gone is stale, however old: a shift lasts for hours.
    m_lock.setStaleLockTime(0);
}

ResultsFile::OpenResult ResultsFile::open(Locking locking)
{
    m_openResult = OpenResult::Failed;
    const bool isNew = !QFileInfo::exists(m_path);
    // Unbuffered: a write that fails fails here, not later in a flush.
    if (!m_file.open(QIODevice::ReadWrite | QIODevice::Append | QIODevice::Unbuffered)) {
        fail(m_file.errorString());
        return m_openResult;
    }
    if (locking == Locking::Exclusive && !m_lock.tryLock(0)) {
        m_file.close();
        if (m_lock.error() == QLockFile::LockFailedError) {
            m_openResult = OpenResult::InUse;
            m_error = QStringLiteral("%1 is in use by another station").arg(m_path);
        } else {
            fail(QStringLiteral("cannot create the lock %1.lock").arg(m_path));
        }
        return m_openResult;
    }
    if (isNew) {
        if (const QString reason = syncFolder(m_path); !reason.isEmpty()) {
            fail(reason);
            return m_openResult;
        }
    }
    if (!catchUp() || (locking == Locking::Exclusive && !recoverMarker()))
        return m_openResult;
    m_openResult = OpenResult::Opened;
    return m_openResult;
}

QString ResultsFile::openErrorMessage() const
{
    if (m_openResult == OpenResult::InUse)
        return m_error;
    return QStringLiteral("Cannot write results to %1: %2").arg(m_path, m_error);
}

bool ResultsFile::append(QJsonObject record)
{
    if (!catchUp())
        return false;
    record.insert(RecordKey::Seq, m_lines.lineCount() + 1);
    if (!writeSynced(QJsonDocument(record).toJson(QJsonDocument::Compact)))
        return false;
    // The record is saved even when its marker stays: the next start finds the record and only
    // removes the marker.
    if (m_markerWritten)
        removeMarker();
    return true;
}

bool ResultsFile::appendLine(const QByteArray &line)
{
    return catchUp() && writeSynced(line);
}

bool ResultsFile::writeMarker(const QJsonObject &atConnect)
{
    QSaveFile marker(markerPath());
    if (!marker.open(QIODevice::WriteOnly) ||
        marker.write(QJsonDocument(atConnect).toJson(QJsonDocument::Compact)) < 0 ||
        !marker.commit())
        return fail(QStringLiteral("cannot write %1: %2").arg(markerPath(), marker.errorString()));
    m_markerWritten = true;
    return true;
}

bool ResultsFile::removeMarker()
{
    QFile marker(markerPath());
    if (marker.exists() && !marker.remove())
        return fail(QStringLiteral("cannot remove %1: %2").arg(markerPath(), marker.errorString()));
    m_markerWritten = false;
    return true;
}

bool ResultsFile::fail(const QString &reason)
{
    m_error = reason;
    return false;
}

// Reads what was added to the file since it was last read: lines another program wrote, or part
// of a line of ours whose write failed, so that seq counts them and the next record starts on a
// line of its own. (A line another program writes between this and our write is not counted.)
bool ResultsFile::catchUp()
{
    const qint64 size = m_file.size();
    if (size < m_readSize)
        return fail(QStringLiteral("another program cut the file short"));
    if (size == m_readSize)
        return true;
    if (!m_file.seek(m_readSize))
        return fail(m_file.errorString());
    while (m_readSize < size) {
        const QByteArray chunk = m_file.read(std::min(size - m_readSize, ReadChunk));
        if (chunk.isEmpty())
            return fail(m_file.error() == QFileDevice::NoError ? QStringLiteral("cannot read it")
                                                               : m_file.errorString());
        m_lines.add(chunk);
        m_readSize += chunk.size();
    }
    return true;
}

bool ResultsFile::writeSynced(const QByteArray &line)
{
    const QByteArray bytes =
        (m_lines.endsInsideLine() ? QByteArray("\n") : QByteArray()) + line + '\n';
    m_file.unsetError();
    // A short write is tried on until it fails, which tells why (a full disk, mostly).
    for (qint64 done = 0; done < bytes.size();) {
        const qint64 written = m_file.write(bytes.constData() + done, bytes.size() - done);
        if (written <= 0)
            return fail(m_file.errorString());
        done += written;
    }
    if (const QString reason = syncToDisk(m_file); !reason.isEmpty())
        return fail(reason);
    m_lines.add(bytes);
    m_readSize += bytes.size();
    return true;
}

bool ResultsFile::recoverMarker()
{
    QFile marker(markerPath());
    if (!marker.exists())
        return true;
    if (!marker.open(QIODevice::ReadOnly))
        return fail(QStringLiteral("cannot read %1: %2").arg(markerPath(), marker.errorString()));
    const QJsonObject atConnect = parseObject(marker.readAll());
    marker.close();
    const QJsonValue unit = atConnect.value(RecordKey::Unit);
    // A marker without a unit has nothing to record: it only goes.
    if (unit.isString() && !hasRecord(m_lines, unit, atConnect.value(RecordKey::Started))) {
        if (!append(incompleteRecord(atConnect)))
            return false;
        m_recoveredUnit = unit.toString();
    }
    return removeMarker();
}
