#include "Station.h"

#include "CheckOperator.h"
#include "ConsoleOperator.h"
#include "LineSession.h"
#include "ResultsFile.h"
#include "ShiftSummary.h"
#include "StopSignals.h"
#include "commands/Keypad.h"
#include "common/CommandLine.h"
#include "link/MSComm.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QSysInfo>

namespace
{

// The pace of the requests that tell whether a unit is there.
constexpr int PresenceIntervalMs = 250;
constexpr int AnswersToConnect = 2;
constexpr int SilencesToRemove = 3;

} // namespace

Station::Station(LineSession &session, ResultsFile &results, const StationOptions &options)
    : m_session(session), m_results(results), m_options(options)
{
}

QList<QJsonObject> Station::recordsOfThisShift() const
{
    return shiftRecords(m_results.lines().records(), m_shift.toString(Qt::ISODateWithMs));
}

int Station::run()
{
    CheckOperator &checkOperator = m_session.checkOperator();
    try {
        for (;;) {
            const std::optional<QString> unit = scan();
            if (!unit)
                return endShift(ExitStatus::Passed);
            const UnitHistory history = unitHistory(m_results.lines().records(), *unit);
            if (!wantsTest(*unit, history))
                continue;
            if (const std::optional<int> status = testUnit(*unit, history.nextAttempt()))
                return endShift(*status);
        }
    } catch (const Stopped &) {
        return endShift(ExitStatus::SignalBase + m_session.stopSignal());
    } catch (const CommError &error) {
        checkOperator.tell(QStringLiteral("The port has gone: %1").arg(error.reason()));
        return endShift(ExitStatus::PortError);
    }
}

std::optional<QString> Station::scan()
{
    CheckOperator &checkOperator = m_session.checkOperator();
    for (;;) {
        std::optional<QString> line;
        if (m_nextScan) {
            line = std::exchange(m_nextScan, std::nullopt);
        } else {
            checkOperator.ask(QStringLiteral("Scan unit %1 (end to finish):").arg(m_unitNumber));
            line = m_session.nextAnswer();
        }
        if (!line || line->compare(QLatin1String("end"), Qt::CaseInsensitive) == 0)
            return std::nullopt;
        if (line->isEmpty())
            continue;
        if (m_options.serialPattern.match(*line).hasMatch())
            return line;
        checkOperator.tell(QStringLiteral("Not a serial number: %1").arg(*line));
    }
}

bool Station::wantsTest(const QString &unit, const UnitHistory &history)
{
    CheckOperator &checkOperator = m_session.checkOperator();
    if (history.completedTests > 0 && history.lastPassed) {
        checkOperator.ask(QStringLiteral("%1 passed at %2. Test it again? [y/N]")
                              .arg(unit, history.lastFinished.toLocalTime().toString(
                                             QStringLiteral("yyyy-MM-dd HH:mm"))));
        return isYes(m_session.nextAnswer());
    }
    if (history.failedTests >= m_options.maxAttempts) {
        checkOperator.tell(QStringLiteral("%1 failed %2 times: send it for repair.")
                               .arg(unit)
                               .arg(history.failedTests));
        return false;
    }
    return true;
}

std::optional<int> Station::testUnit(const QString &unit, int attempt)
{
    CheckOperator &checkOperator = m_session.checkOperator();
    MSComm &port = m_session.port();
    CheckRecord check;
    check.unit = unit;
    check.port = m_options.line.port;
    check.device = port.deviceName();
    check.rate = m_options.line.choice.rate;
    check.started = QDateTime::currentDateTimeUtc();
    check.steps = unstartedSteps();
    const StationKeys keys{m_options.stationId, m_options.operatorName, attempt, m_shift};
    if (!m_results.writeMarker(connectMarker(check, keys))) {
        checkOperator.tell(QStringLiteral("Cannot write results to %1: %2")
                               .arg(m_results.path(), m_results.errorString()));
        return ExitStatus::ResultsError;
    }

    std::optional<int> status;
    try {
        if (waitForConnection(unit) == Connection::Rescanned) {
            m_results.removeMarker();
            return std::nullopt;
        }
        CheckSettings settings = m_options.line.settings;
        settings.endOfInputStops = true;
        UnitCheck engine(m_session, settings);
        check.verdict = engine.run(check.steps);
        if (engine.lineFailed()) {
            check.verdict = Verdict::Aborted;
            status = ExitStatus::PortError;
        }
    } catch (const Stopped &) {
        check.verdict = Verdict::Aborted;
        checkOperator.tell(QStringLiteral("ABORTED"));
        // A stop by signal ends the shift with its status; the end of the input, normally.
        status = m_session.stopSignal() != 0 ? ExitStatus::SignalBase + m_session.stopSignal()
                                             : ExitStatus::Passed;
    } catch (const CommError &error) {
        check.verdict = Verdict::Aborted;
        checkOperator.tell(QStringLiteral("The port has gone: %1").arg(error.reason()));
        status = ExitStatus::PortError;
    }
    check.finished = QDateTime::currentDateTimeUtc();
    if (!save(stationRecord(check, keys)))
        return ExitStatus::ResultsError;
    if (status)
        return status;

    checkOperator.ask(QStringLiteral("Disconnect unit %1").arg(unit));
    waitForRemoval();
    checkOperator.tell(runningLine(summarize(recordsOfThisShift(), 0)));
    ++m_unitNumber;
    return std::nullopt;
}

bool Station::save(const QJsonObject &record)
{
    const QString unit = record.value(RecordKey::Unit).toString();
    const QString verdict = record.value(RecordKey::Verdict).toString().toUpper();
    // The verdict is told either way: the unit is in the operator's hands.
    if (!m_results.append(record)) {
        m_session.checkOperator().tell(
            QStringLiteral("NOT SAVED %1: %2: %3").arg(unit, verdict, m_results.errorString()));
        return false;
    }
    m_session.checkOperator().tell(QStringLiteral("Saved %1: %2 (attempt %3), %4 in this shift")
                                       .arg(unit, verdict)
                                       .arg(record.value(RecordKey::Attempt).toInt())
                                       .arg(recordsOfThisShift().size()));
    return true;
}

Station::Connection Station::waitForConnection(const QString &unit)
{
    CheckOperator &checkOperator = m_session.checkOperator();
    checkOperator.ask(QStringLiteral("Connect unit %1").arg(unit));
    for (int answered = 0; answered < AnswersToConnect;) {
        // The last answer needed ends the wait at once; the others keep the pace.
        answered = answers(answered + 1 == AnswersToConnect) ? answered + 1 : 0;
        // A label scanned now is the right unit's: the one announced was scanned by mistake.
        if (std::optional<QString> line = checkOperator.takeAnswer()) {
            m_nextScan = line;
            return Connection::Rescanned;
        }
    }
    return Connection::Connected;
}

void Station::waitForRemoval()
{
    for (int silent = 0; silent < SilencesToRemove;)
        silent = answers(false) ? 0 : silent + 1;
}

bool Station::answers(bool endOnAnswer)
{
    MSComm &port = m_session.port();
    port.setInBufferCount(0);
    port.setOutput(keyStatusRequest());
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < PresenceIntervalMs && !(endOnAnswer && port.InBufferCount() > 0))
        m_session.waitFor(PresenceIntervalMs - clock.elapsed());
    return port.InBufferCount() > 0;
}

int Station::endShift(int status)
{
    CheckOperator &checkOperator = m_session.checkOperator();
    checkOperator.tell(QStringLiteral("Summary of this shift:"));
    for (const QString &line : summaryText(summarize(recordsOfThisShift(), 0))
                                   .split(QLatin1Char('\n'), Qt::SkipEmptyParts))
        checkOperator.tell(line);
    return status;
}

namespace
{

constexpr int LongestSerial = 64;

std::optional<StationOptions> readStationOptions(const QCommandLineParser &parser,
                                                 const LineOptionSet &lineOptions)
{
    const QString mode = QStringLiteral("station");
    StationOptions options;
    const std::optional<LineOptions> line = lineOptions.read(parser, mode);
    if (!line)
        return std::nullopt;
    options.line = *line;
    options.stationId = parser.isSet(QStringLiteral("station-id"))
                            ? parser.value(QStringLiteral("station-id"))
                            : QSysInfo::machineHostName();
    options.operatorName = parser.value(QStringLiteral("operator"));
    // One to 64 printable characters, no spaces: what a label's barcode holds.
    const QString pattern = parser.isSet(QStringLiteral("serial-pattern"))
                                ? parser.value(QStringLiteral("serial-pattern"))
                                : QStringLiteral("[^\\s\\p{C}]{1,%1}").arg(LongestSerial);
    options.serialPattern.setPattern(QRegularExpression::anchoredPattern(pattern));
    if (!options.serialPattern.isValid()) {
        modeUsageError(mode, QStringLiteral("--serial-pattern: %1 in '%2'.")
                                 .arg(options.serialPattern.errorString(), pattern));
        return std::nullopt;
    }
    bool isNumber = false;
    options.maxAttempts = parser.value(QStringLiteral("max-attempts")).toInt(&isNumber);
    if (!isNumber || options.maxAttempts < 1) {
        modeUsageError(mode, QStringLiteral("--max-attempts takes a whole number from 1, not '%1'.")
                                 .arg(parser.value(QStringLiteral("max-attempts"))));
        return std::nullopt;
    }
    return options;
}

} // namespace

int runStationCommand(int argc, char *argv[])
{
    StopSignals stopSignals;
    QCoreApplication application(argc, argv);
    const QString mode = QStringLiteral("station");

    QCommandLineParser parser;
    CommandLine::addHelpAndVersion(parser);
    parser.setApplicationDescription(QStringLiteral(
        "kv310-test --station: checks unit after unit for a whole shift. Scan a unit's serial,\n"
        "connect the unit, answer the check as with --check, and disconnect it; each result is\n"
        "appended to the results file and synced to disk before the next step. Type end, or\n"
        "end the input, to finish the shift and see its summary.\n\n"
        "Exit status: 0 the shift ended, 2 usage error, 3 the port could not be opened or went,\n"
        "4 the results could not be written, 130 after Ctrl+C, 143 after SIGTERM.\n"
        "See kv310-test(1)."));
    parser.addOptions(
        {{QStringLiteral("station"), QStringLiteral("Runs a test station (this mode).")},
         {QStringLiteral("results"),
          QStringLiteral("The results file: one line of JSON per test, appended and synced."),
          QStringLiteral("file")}});
    const LineOptionSet lineOptions;
    lineOptions.addTo(parser);
    parser.addOptions(
        {{QStringLiteral("station-id"),
          QStringLiteral("The station's name in the records. Default: the host's name."),
          QStringLiteral("text")},
         {QStringLiteral("operator"), QStringLiteral("The operator's name in the records."),
          QStringLiteral("text")},
         {QStringLiteral("serial-pattern"),
          QStringLiteral("A regular expression that a whole scan must match. Default: 1 to 64 "
                         "printable characters without spaces."),
          QStringLiteral("regex")},
         {QStringLiteral("max-attempts"),
          QStringLiteral("Failed tests after which a unit is sent for repair. Default 3."),
          QStringLiteral("n"), QStringLiteral("3")}});
    // The check's own, refused here with a reason rather than as unknown.
    QCommandLineOption unitOption(QStringLiteral("unit"), {}, QStringLiteral("text"));
    QCommandLineOption reportOption(QStringLiteral("report"), {}, QStringLiteral("file"));
    unitOption.setFlags(QCommandLineOption::HiddenFromHelp);
    reportOption.setFlags(QCommandLineOption::HiddenFromHelp);
    parser.addOptions({unitOption, reportOption});
    if (const auto status =
            CommandLine::read(parser, QCoreApplication::arguments(), modeProgram(mode)))
        return *status;
    if (parser.isSet(unitOption) || parser.isSet(reportOption))
        return modeUsageError(mode,
                              QStringLiteral("--unit and --report are the check's: the "
                                             "station scans each unit and writes --results."));
    const QString resultsPath = parser.value(QStringLiteral("results"));
    if (resultsPath.isEmpty())
        return modeUsageError(mode, QStringLiteral("--results FILE is needed."));
    const std::optional<StationOptions> options = readStationOptions(parser, lineOptions);
    if (!options)
        return ExitStatus::UsageError;

    ConsoleOperator console(ConsoleOperator::TypedAhead::Dropped);
    // The results first: a shift whose results cannot be kept is not started.
    ResultsFile results(resultsPath);
    if (results.open() != ResultsFile::OpenResult::Opened) {
        console.tell(results.openErrorMessage());
        return ExitStatus::ResultsError;
    }
    if (const int unreadable = results.lines().unreadableCount())
        console.tell(QStringLiteral("%1 %2 of %3 cannot be read")
                         .arg(unreadable)
                         .arg(unreadable == 1 ? QStringLiteral("line") : QStringLiteral("lines"),
                              resultsPath));
    if (const std::optional<QString> unit = results.recoveredUnit())
        console.tell(QStringLiteral("%1 was being tested when the station stopped: recorded as "
                                    "incomplete")
                         .arg(*unit));

    MSComm port;
    if (!traceLine(port, options->line))
        return ExitStatus::UsageError;
    LineSession session(port, console, &application);
    stopSignals.watch(session);
    if (!openLine(port, options->line))
        return ExitStatus::PortError;
    console.tell(QStringLiteral("Station %1 on %2 at %3 baud, results in %4")
                     .arg(options->stationId, port.deviceName())
                     .arg(options->line.choice.rate)
                     .arg(resultsPath));
    Station station(session, results, *options);
    const int status = station.run();
    port.setPortOpen(false);
    return status;
}
