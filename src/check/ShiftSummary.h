#pragma once

#include <QDateTime>
#include <QJsonObject>
#include <QList>
#include <QMap>
#include <QString>

#include <optional>

// What the results say of one unit: the station's memory of its earlier tests. A completed test
// is one with the verdict pass or fail; records are taken in file order.
struct UnitHistory {
    int completedTests = 0;
    int failedTests = 0;
    bool lastPassed = false; // of the completed tests; false with none
    QDateTime lastFinished;  // of the last completed test
    int nextAttempt() const { return completedTests + 1; }
};
UnitHistory unitHistory(const QList<QJsonObject> &records, const QString &unit);

// The records of one station run (their shift key as written).
QList<QJsonObject> shiftRecords(const QList<QJsonObject> &records, const QString &shift);

// The figures of a set of records. Only completed tests count for the units, yields, retests,
// failures by step and cycle time; a unit's tests are taken in file order; records without a
// unit (a check run without --unit) belong to no unit.
struct ShiftSummary {
    int units = 0;
    int passed = 0; // units whose last completed test passed
    int failed = 0;
    std::optional<double> yield; // none without units
    std::optional<double> firstPassYield;
    int retests = 0;
    int aborted = 0;
    int incomplete = 0;
    QMap<QString, int> failsByStep;
    std::optional<double> medianCycleSeconds; // rounded to 0.1
    QDateTime first;                          // earliest started of all records
    QDateTime last;                           // latest finished of all records
    int unreadable = 0;
};
ShiftSummary summarize(const QList<QJsonObject> &records, int unreadableLines);

// For people, several lines, each ending in a newline.
QString summaryText(const ShiftSummary &summary);
// The figures under their record-file names; yields as fractions rounded to 4 places.
QJsonObject summaryJson(const ShiftSummary &summary);
// One line after each unit: "Shift: 12 units, 11 passed, 1 failed; yield 91.7%, first pass
// 91.7%", or "Shift: 0 units".
QString runningLine(const ShiftSummary &summary);
