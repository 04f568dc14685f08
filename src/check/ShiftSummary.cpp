#include "ShiftSummary.h"

#include "CheckReport.h"
#include "ResultsFile.h"

#include <QHash>
#include <QJsonArray>
#include <QSet>

#include <algorithm>
#include <cmath>

namespace
{

constexpr double MsPerSecond = 1000;

QDateTime timeOf(const QJsonObject &record, QLatin1String key)
{
    return QDateTime::fromString(record.value(key).toString(), Qt::ISODateWithMs);
}

QString verdictOf(const QJsonObject &record)
{
    return record.value(RecordKey::Verdict).toString();
}

bool isCompleted(const QJsonObject &record)
{
    const QString verdict = verdictOf(record);
    return verdict == verdictName(Verdict::Pass) || verdict == verdictName(Verdict::Fail);
}

bool passed(const QJsonObject &record)
{
    return verdictOf(record) == verdictName(Verdict::Pass);
}

// The step a failed test stopped at, empty when none says so.
QString failedStep(const QJsonObject &record)
{
    const QString fail = resultName(CheckStep::Result::Fail);
    for (const QJsonValue &step : record.value(RecordKey::Steps).toArray()) {
        if (step[RecordKey::StepResult].toString() == fail)
            return step[RecordKey::StepName].toString();
    }
    return {};
}

std::optional<double> median(QList<qint64> values)
{
    if (values.isEmpty())
        return std::nullopt;
    std::sort(values.begin(), values.end());
    const qsizetype middle = values.size() / 2;
    return values.size() % 2 ? double(values[middle])
                             : (double(values[middle - 1]) + double(values[middle])) / 2;
}

double roundedTo(double value, int places)
{
    const double scale = std::pow(10.0, places);
    return std::round(value * scale) / scale;
}

std::optional<double> fraction(int part, int whole)
{
    if (whole == 0)
        return std::nullopt;
    return double(part) / whole;
}

QString percent(const std::optional<double> &share)
{
    return share ? QStringLiteral("%1%").arg(*share * 100, 0, 'f', 1) : QStringLiteral("-");
}

QJsonValue jsonOf(const std::optional<double> &value, int places)
{
    return value ? QJsonValue(roundedTo(*value, places)) : QJsonValue(QJsonValue::Null);
}

QJsonValue jsonOf(const QDateTime &time)
{
    return time.isValid() ? QJsonValue(time.toUTC().toString(Qt::ISODateWithMs))
                          : QJsonValue(QJsonValue::Null);
}

QString localText(const QDateTime &time)
{
    return time.isValid() ? time.toLocalTime().toString(QStringLiteral("yyyy-MM-dd HH:mm"))
                          : QStringLiteral("-");
}

} // namespace

UnitHistory unitHistory(const QList<QJsonObject> &records, const QString &unit)
{
    UnitHistory history;
    for (const QJsonObject &record : records) {
        if (record.value(RecordKey::Unit).toString() != unit || !isCompleted(record))
            continue;
        ++history.completedTests;
        history.lastPassed = passed(record);
        history.failedTests += history.lastPassed ? 0 : 1;
        history.lastFinished = timeOf(record, RecordKey::Finished);
    }
    return history;
}

QList<QJsonObject> shiftRecords(const QList<QJsonObject> &records, const QString &shift)
{
    QList<QJsonObject> ofShift;
    std::copy_if(records.cbegin(), records.cend(), std::back_inserter(ofShift),
                 [&shift](const QJsonObject &record) {
                     return record.value(RecordKey::Shift).toString() == shift;
                 });
    return ofShift;
}

ShiftSummary summarize(const QList<QJsonObject> &records, int unreadableLines)
{
    ShiftSummary summary;
    summary.unreadable = unreadableLines;
    struct Unit {
        bool firstPassed;
        bool lastPassed;
    };
    QHash<QString, Unit> units;
    int unitTests = 0;
    QList<qint64> cyclesMs;
    for (const QJsonObject &record : records) {
        const QDateTime started = timeOf(record, RecordKey::Started);
        const QDateTime finished = timeOf(record, RecordKey::Finished);
        if (started.isValid() && (!summary.first.isValid() || started < summary.first))
            summary.first = started;
        if (finished.isValid() && (!summary.last.isValid() || finished > summary.last))
            summary.last = finished;
        const QString verdict = verdictOf(record);
        summary.aborted += verdict == verdictName(Verdict::Aborted) ? 1 : 0;
        summary.incomplete += verdict == verdictName(Verdict::Incomplete) ? 1 : 0;
        if (!isCompleted(record))
            continue;

        const bool pass = passed(record);
        if (!pass) {
            if (const QString step = failedStep(record); !step.isEmpty())
                ++summary.failsByStep[step];
        }
        if (started.isValid() && finished.isValid())
            cyclesMs.append(started.msecsTo(finished));
        const QString serial = record.value(RecordKey::Unit).toString();
        if (serial.isEmpty())
            continue;
        ++unitTests;
        const auto known = units.find(serial);
        if (known == units.end())
            units.insert(serial, {pass, pass});
        else
            known->lastPassed = pass;
    }
    summary.units = int(units.size());
    int firstPassed = 0;
    for (const Unit &unit : std::as_const(units)) {
        summary.passed += unit.lastPassed ? 1 : 0;
        firstPassed += unit.firstPassed ? 1 : 0;
    }
    summary.failed = summary.units - summary.passed;
    summary.yield = fraction(summary.passed, summary.units);
    summary.firstPassYield = fraction(firstPassed, summary.units);
    summary.retests = unitTests - summary.units;
    if (const std::optional<double> cycleMs = median(cyclesMs))
        summary.medianCycleSeconds = roundedTo(*cycleMs / MsPerSecond, 1);
    return summary;
}

QString summaryText(const ShiftSummary &summary)
{
    QStringList fails;
    for (auto step = summary.failsByStep.cbegin(); step != summary.failsByStep.cend(); ++step)
        fails.append(QStringLiteral("%1: %2").arg(step.key()).arg(step.value()));
    const QString cycle = summary.medianCycleSeconds
                              ? QStringLiteral("%1 s").arg(*summary.medianCycleSeconds, 0, 'f', 1)
                              : QStringLiteral("-");
    return QStringLiteral("Units: %1, %2 passed, %3 failed\n"
                          "Yield: %4, first pass %5\n"
                          "Retests: %6; aborted: %7; incomplete: %8\n"
                          "Failed at: %9\n"
                          "Median cycle: %10\n"
                          "From %11 to %12\n"
                          "Unreadable lines: %13\n")
        .arg(summary.units)
        .arg(summary.passed)
        .arg(summary.failed)
        .arg(percent(summary.yield), percent(summary.firstPassYield))
        .arg(summary.retests)
        .arg(summary.aborted)
        .arg(summary.incomplete)
        .arg(fails.isEmpty() ? QStringLiteral("none") : fails.join(QStringLiteral(", ")), cycle,
             localText(summary.first), localText(summary.last))
        .arg(summary.unreadable);
}

QJsonObject summaryJson(const ShiftSummary &summary)
{
    QJsonObject failsByStep;
    for (auto step = summary.failsByStep.cbegin(); step != summary.failsByStep.cend(); ++step)
        failsByStep.insert(step.key(), step.value());
    return {
        {QStringLiteral("units"), summary.units},
        {QStringLiteral("passed"), summary.passed},
        {QStringLiteral("failed"), summary.failed},
        {QStringLiteral("yield"), jsonOf(summary.yield, 4)},
        {QStringLiteral("first_pass_yield"), jsonOf(summary.firstPassYield, 4)},
        {QStringLiteral("retests"), summary.retests},
        {QStringLiteral("aborted"), summary.aborted},
        {QStringLiteral("incomplete"), summary.incomplete},
        {QStringLiteral("fails_by_step"), failsByStep},
        {QStringLiteral("median_cycle_s"), jsonOf(summary.medianCycleSeconds, 1)},
        {QStringLiteral("first"), jsonOf(summary.first)},
        {QStringLiteral("last"), jsonOf(summary.last)},
        {QStringLiteral("unreadable"), summary.unreadable},
    };
}

QString runningLine(const ShiftSummary &summary)
{
    if (summary.units == 0)
        return QStringLiteral("Shift: 0 units");
    return QStringLiteral("Shift: %1 %2, %3 passed, %4 failed; yield %5, first pass %6")
        .arg(summary.units)
        .arg(summary.units == 1 ? QStringLiteral("unit") : QStringLiteral("units"))
        .arg(summary.passed)
        .arg(summary.failed)
        .arg(percent(summary.yield), percent(summary.firstPassYield));
}
