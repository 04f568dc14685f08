#include "CheckCommandLine.h"

#include "ConsoleOperator.h"
#include "LineSession.h"
#include "ResultsFile.h"
#include "Station.h"
#include "StopSignals.h"
#include "SummaryCommand.h"
#include "common/CommandLine.h"
#include "link/LineTrace.h"
#include "link/MSComm.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QElapsedTimer>

#include <cstdio>
#include <cstring>

namespace
{

constexpr double LongestKeyTimeout = 3600;
constexpr int DrainTimeoutMs = 2000;

int exitStatus(Verdict verdict, int stopSignal)
{
    switch (verdict) {
    case Verdict::Pass:
        return ExitStatus::Passed;
    case Verdict::Fail:
        return ExitStatus::Failed;
    case Verdict::Aborted:
        return ExitStatus::SignalBase + stopSignal;
    case Verdict::Error:
    case Verdict::Incomplete:
        break;
    }
    return ExitStatus::PortError;
}

// Runs the check on the open port; the port is closed when it returns.
void checkUnit(LineSession &session, const CheckSettings &settings, int rate, CheckRecord &record)
{
    MSComm &port = session.port();
    try {
        UnitCheck check(session, settings);
        record.verdict = check.run(record.steps);
        // Closing drops what the line has not sent yet: the unit's PASS or FAIL among it.
        QElapsedTimer clock;
        clock.start();
        while (port.OutBufferCount() > 0 && clock.elapsed() < DrainTimeoutMs)
            session.waitFor(10);
        // The count misses what a pseudo-terminal's reader or a UART's FIFO still holds: the
        // result's own time on the line is waited out besides.
        session.waitFor(UnitCheck::resultLineTimeMs(rate));
    } catch (const Stopped &) {
        record.verdict = Verdict::Aborted;
        session.checkOperator().tell(QStringLiteral("ABORTED"));
    }
    port.setPortOpen(false);
}

} // namespace

CommandMode commandMode(int argc, char *argv[])
{
    for (int index = 1; index < argc; ++index) {
        if (std::strcmp(argv[index], "--check") == 0)
            return CommandMode::Check;
        if (std::strcmp(argv[index], "--station") == 0)
            return CommandMode::Station;
        if (std::strcmp(argv[index], "--summary") == 0)
            return CommandMode::Summary;
    }
    return CommandMode::Window;
}

CommandLine::Program modeProgram(const QString &mode)
{
    return {QStringLiteral("kv310-test"), QStringLiteral(KV310_VERSION),
            QStringLiteral("kv310-test --%1 --help").arg(mode)};
}

int modeUsageError(const QString &mode, const QString &error)
{
    return CommandLine::usageError(modeProgram(mode), error);
}

void LineOptionSet::addTo(QCommandLineParser &parser) const
{
    parser.addOptions({m_port, m_rate, m_keyTimeout, m_noConfirm, m_trace});
}

std::optional<LineOptions> LineOptionSet::read(const QCommandLineParser &parser,
                                               const QString &mode) const
{
    LineOptions options;
    options.port = parser.value(m_port);
    if (options.port.isEmpty()) {
        modeUsageError(mode, QStringLiteral("--port needs a port number or a device."));
        return std::nullopt;
    }
    const QString rate = parser.value(m_rate);
    if (rate != QLatin1String("2400") && rate != QLatin1String("9600")) {
        modeUsageError(mode, QStringLiteral("--rate takes 2400 or 9600, not '%1'.").arg(rate));
        return std::nullopt;
    }
    const bool numbered = options.port == QLatin1String("1") || options.port == QLatin1String("2");
    options.choice = {qint16(numbered ? options.port.toInt() : 1),
                      numbered ? QString() : options.port, rate.toInt()};
    bool isNumber = false;
    const double keyTimeout = parser.value(m_keyTimeout).toDouble(&isNumber);
    if (!isNumber || !(keyTimeout > 0 && keyTimeout <= LongestKeyTimeout)) {
        modeUsageError(mode, QStringLiteral("--key-timeout takes seconds, more than 0 and at most "
                                            "%1, not '%2'.")
                                 .arg(LongestKeyTimeout)
                                 .arg(parser.value(m_keyTimeout)));
        return std::nullopt;
    }
    options.settings.keyTimeoutMs = int(keyTimeout * 1000);
    options.settings.confirmDisplay = !parser.isSet(m_noConfirm);
    options.traceFile = LineTrace::chosenFile(parser.value(m_trace));
    return options;
}

bool traceLine(MSComm &port, const LineOptions &options)
{
    if (options.traceFile.isEmpty())
        return true;
    QString error;
    std::shared_ptr<LineTrace> trace = LineTrace::open(options.traceFile, error);
    if (!trace) {
        std::fprintf(stderr, "kv310-test: %s\n", qPrintable(error));
        return false;
    }
    port.setTrace(std::move(trace));
    return true;
}

bool openLine(MSComm &port, const LineOptions &options)
{
    try {
        openPort(port, options.choice);
        return true;
    } catch (const CommError &error) {
        QString message = connectionFailureMessage(error.code(), options.port);
        if (message.isEmpty())
            message =
                QStringLiteral("Port %1 cannot be opened: %2").arg(options.port, error.reason());
        CommandLine::printLine(message);
        return false;
    }
}

int runCheckCommand(int argc, char *argv[])
{
    StopSignals stopSignals;
    QCoreApplication application(argc, argv);
    const QString mode = QStringLiteral("check");

    QCommandLineParser parser;
    CommandLine::addHelpAndVersion(parser);
    parser.setApplicationDescription(QStringLiteral(
        "kv310-test --check: checks one KV310 unit without the window: the reply, no key down\n"
        "at rest, the display (judged by the operator), then each key 1 to 6 in turn. It\n"
        "stops at the first failed step.\n\n"
        "Exit status: 0 passed, 1 failed a step, 2 usage error, 3 the port could not be\n"
        "opened, 130 after Ctrl+C, 143 after SIGTERM. See kv310-test(1)."));
    parser.addOptions({{QStringLiteral("check"), QStringLiteral("Checks a unit (this mode).")}});
    const LineOptionSet lineOptions;
    lineOptions.addTo(parser);
    const QCommandLineOption unitOption(
        QStringLiteral("unit"),
        QStringLiteral("The unit's serial number or label, for the report."),
        QStringLiteral("text"));
    const QCommandLineOption reportOption(
        QStringLiteral("report"),
        QStringLiteral("Appends the result to file as one line of JSON (JSON Lines)."),
        QStringLiteral("file"));
    parser.addOptions({unitOption, reportOption});
    if (const auto status =
            CommandLine::read(parser, QCoreApplication::arguments(), modeProgram(mode)))
        return *status;
    const std::optional<LineOptions> options = lineOptions.read(parser, mode);
    if (!options)
        return ExitStatus::UsageError;

    // Opened first: a check whose result cannot be kept is not started. A station may hold
    // the same file: the check takes no lock.
    const QString reportPath = parser.value(reportOption);
    std::optional<ResultsFile> report;
    if (!reportPath.isEmpty()) {
        report.emplace(reportPath);
        if (report->open(ResultsFile::Locking::None) != ResultsFile::OpenResult::Opened) {
            std::fprintf(stderr, "kv310-test: cannot write the report %s: %s\n",
                         qPrintable(reportPath), qPrintable(report->errorString()));
            return ExitStatus::UsageError;
        }
    }

    ConsoleOperator console(ConsoleOperator::TypedAhead::Kept);
    MSComm port;
    if (!traceLine(port, *options))
        return ExitStatus::UsageError;
    LineSession session(port, console, &application);
    stopSignals.watch(session);

    CheckRecord record;
    record.unit = parser.value(unitOption);
    record.port = options->port;
    record.rate = options->choice.rate;
    record.started = QDateTime::currentDateTimeUtc();
    record.steps = unstartedSteps();
    const bool opened = openLine(port, *options);
    record.device = port.deviceName();
    if (opened) {
        console.tell(QStringLiteral("Checking unit %1 on %2 at %3 baud")
                         .arg(record.unit.isEmpty() ? QStringLiteral("(unnamed)") : record.unit,
                              record.device)
                         .arg(record.rate));
        checkUnit(session, options->settings, options->choice.rate, record);
    }
    record.finished = QDateTime::currentDateTimeUtc();
    const int status = exitStatus(record.verdict, session.stopSignal());
    if (report && !report->appendLine(reportLine(record))) {
        std::fprintf(stderr, "kv310-test: cannot write the report %s: %s\n", qPrintable(reportPath),
                     qPrintable(report->errorString()));
        return status == ExitStatus::Passed ? ExitStatus::Failed : status;
    }
    return status;
}

int runConsoleCommand(CommandMode mode, int argc, char *argv[])
{
    switch (mode) {
    case CommandMode::Station:
        return runStationCommand(argc, argv);
    case CommandMode::Summary:
        return runSummaryCommand(argc, argv);
    case CommandMode::Check:
    case CommandMode::Window:
        break;
    }
    return runCheckCommand(argc, argv);
}
