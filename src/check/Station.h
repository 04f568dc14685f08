#pragma once

#include "CheckCommandLine.h"

#include <QDateTime>
#include <QJsonObject>
#include <QList>
#include <QRegularExpression>

class LineSession;
class ResultsFile;
struct UnitHistory;

struct StationOptions {
    LineOptions line;
    QString stationId;
    QString operatorName;
    QRegularExpression serialPattern;
    int maxAttempts = 3;
};

// The station's shift: scan a unit, wait for it, check it, save the result, wait for its
// removal, and again, on a port held open for the whole shift.
class Station
{
public:
    Station(LineSession &session, ResultsFile &results, const StationOptions &options);

    // The whole shift; returns the exit status.
    int run();

private:
    enum class Connection { Connected, Rescanned };

    std::optional<QString> scan();
    bool wantsTest(const QString &unit, const UnitHistory &history);
    // Nothing while the shift goes on, else its exit status.
    std::optional<int> testUnit(const QString &unit, int attempt);
    Connection waitForConnection(const QString &unit);
    void waitForRemoval();
    // Whether the unit answers a key-status request within the station's pace; endOnAnswer
    // returns as soon as it has.
    bool answers(bool endOnAnswer);
    bool save(const QJsonObject &record);
    QList<QJsonObject> recordsOfThisShift() const;
    int endShift(int status);

    LineSession &m_session;
    ResultsFile &m_results;
    const StationOptions m_options;
    const QDateTime m_shift = QDateTime::currentDateTimeUtc();
    int m_unitNumber = 1;
    // A line typed while a unit was awaited: the next scan.
    std::optional<QString> m_nextScan;
};

// kv310-test --station [options]: checks unit after unit and returns the exit status: 0 the
// shift ended, 2 usage error, 3 the port, 4 the results, 128 + the signal when stopped.
int runStationCommand(int argc, char *argv[]);
