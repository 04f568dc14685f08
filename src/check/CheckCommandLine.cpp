#include "CheckCommandLine.h"

#include "UnitCheck.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QFile>

#include <cstdio>
#include <cstring>
#include <variant>

#ifdef Q_OS_WIN
#include <csignal>
#include <qt_windows.h>
#else
#include "SignalWatcher.h"
#endif

namespace
{

constexpr int PassStatus = 0;
constexpr int FailStatus = 1;
constexpr int UsageErrorStatus = 2;
constexpr int PortErrorStatus = 3;
constexpr int SignalStatusBase = 128;
constexpr double LongestKeyTimeout = 3600;

#ifdef Q_OS_WIN
// Called by the console on a thread of its own: the check, on the main thread, is told there.
BOOL WINAPI onConsoleControl(DWORD event)
{
    QCoreApplication *application = QCoreApplication::instance();
    if (!application)
        return FALSE;
    const int signalNumber = event == CTRL_C_EVENT ? SIGINT : SIGTERM;
    QMetaObject::invokeMethod(
        application,
        [application, signalNumber] {
            if (auto *check = application->findChild<UnitCheck *>())
                check->stop(signalNumber);
        },
        Qt::QueuedConnection);
    return TRUE;
}
#endif

int usageError(const QString &error)
{
    std::fprintf(stderr, "kv310-test: %s\nTry 'kv310-test --check --help' for more information.\n",
                 qPrintable(error));
    return UsageErrorStatus;
}

struct ParsedCommandLine {
    CheckOptions options;
    QString reportPath;
};

// The options, or the exit status when the command line has been answered or refused.
std::variant<ParsedCommandLine, int> parseCommandLine()
{
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "kv310-test --check: checks one KV310 unit without the window: the reply, no key down\n"
        "at rest, the display (judged by the operator), then each key 1 to 6 in turn. It\n"
        "stops at the first failed step.\n\n"
        "Exit status: 0 passed, 1 failed a step, 2 usage error, 3 the port could not be\n"
        "opened, 130 after Ctrl+C, 143 after SIGTERM. See kv310-test(1)."));
    const QCommandLineOption helpOption({QStringLiteral("h"), QStringLiteral("help")},
                                        QStringLiteral("Displays this help."));
    const QCommandLineOption versionOption({QStringLiteral("v"), QStringLiteral("version")},
                                           QStringLiteral("Displays version information."));
    const QCommandLineOption checkOption(QStringLiteral("check"),
                                         QStringLiteral("Checks a unit (this mode)."));
    const QCommandLineOption portOption(
        QStringLiteral("port"),
        QStringLiteral("Port 1 or 2 as in the window (KV310_COM1, KV310_COM2), or a device "
                       "such as /dev/ttyUSB0 or COM5. Default 1."),
        QStringLiteral("port"), QStringLiteral("1"));
    const QCommandLineOption rateOption(QStringLiteral("rate"),
                                        QStringLiteral("2400 or 9600 baud. Default 2400."),
                                        QStringLiteral("rate"), QStringLiteral("2400"));
    const QCommandLineOption unitOption(
        QStringLiteral("unit"),
        QStringLiteral("The unit's serial number or label, for the report."),
        QStringLiteral("text"));
    const QCommandLineOption reportOption(
        QStringLiteral("report"),
        QStringLiteral("Appends the result to file as one line of JSON (JSON Lines)."),
        QStringLiteral("file"));
    const QCommandLineOption keyTimeoutOption(
        QStringLiteral("key-timeout"), QStringLiteral("How long to wait for each key. Default 20."),
        QStringLiteral("seconds"), QStringLiteral("20"));
    const QCommandLineOption noConfirmOption(
        QStringLiteral("no-confirm"),
        QStringLiteral("Does not ask whether the display is right; that step is not judged."));
    parser.addOptions({helpOption, versionOption, checkOption, portOption, rateOption, unitOption,
                       reportOption, keyTimeoutOption, noConfirmOption});

    if (!parser.parse(QCoreApplication::arguments()))
        return usageError(parser.errorText());
    if (!parser.positionalArguments().isEmpty())
        return usageError(QStringLiteral("Unexpected argument '%1'.")
                              .arg(parser.positionalArguments().constFirst()));
    if (parser.isSet(helpOption)) {
        std::fputs(qPrintable(parser.helpText()), stdout);
        return PassStatus;
    }
    if (parser.isSet(versionOption)) {
        std::printf("kv310-test %s\n", KV310_VERSION);
        return PassStatus;
    }
    ParsedCommandLine parsed;
    parsed.options.port = parser.value(portOption);
    if (parsed.options.port.isEmpty())
        return usageError(QStringLiteral("--port needs a port number or a device."));
    const QString rate = parser.value(rateOption);
    if (rate != QLatin1String("2400") && rate != QLatin1String("9600"))
        return usageError(QStringLiteral("--rate takes 2400 or 9600, not '%1'.").arg(rate));
    parsed.options.rate = rate.toInt();
    bool isNumber = false;
    const double keyTimeout = parser.value(keyTimeoutOption).toDouble(&isNumber);
    if (!isNumber || !(keyTimeout > 0 && keyTimeout <= LongestKeyTimeout))
        return usageError(QStringLiteral("--key-timeout takes seconds, more than 0 and at most "
                                         "%1, not '%2'.")
                              .arg(LongestKeyTimeout)
                              .arg(parser.value(keyTimeoutOption)));
    parsed.options.keyTimeoutMs = int(keyTimeout * 1000);
    parsed.options.unit = parser.value(unitOption);
    parsed.options.confirmDisplay = !parser.isSet(noConfirmOption);
    parsed.reportPath = parser.value(reportOption);
    return parsed;
}

int exitStatus(const CheckRecord &record, int stopSignal)
{
    switch (record.verdict) {
    case Verdict::Pass:
        return PassStatus;
    case Verdict::Fail:
        return FailStatus;
    case Verdict::Aborted:
        return SignalStatusBase + stopSignal;
    case Verdict::Error:
        break;
    }
    return PortErrorStatus;
}

} // namespace

bool asksForCheck(int argc, char *argv[])
{
    for (int index = 1; index < argc; ++index) {
        if (std::strcmp(argv[index], "--check") == 0)
            return true;
    }
    return false;
}

int runCheckCommand(int argc, char *argv[])
{
#ifndef Q_OS_WIN
    // Before the application: the signals are then blocked in every thread Qt starts.
    SignalWatcher stopSignals;
#endif
    QCoreApplication application(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("kv310-test"));
    QCoreApplication::setApplicationVersion(QStringLiteral(KV310_VERSION));
    const auto parsed = parseCommandLine();
    if (const int *status = std::get_if<int>(&parsed))
        return *status;
    const auto &[options, reportPath] = std::get<ParsedCommandLine>(parsed);

    // Opened first: a check whose result cannot be kept is not started.
    QFile report(reportPath);
    if (!reportPath.isEmpty() && !report.open(QIODevice::WriteOnly | QIODevice::Append)) {
        std::fprintf(stderr, "kv310-test: cannot write the report %s: %s\n", qPrintable(reportPath),
                     qPrintable(report.errorString()));
        return UsageErrorStatus;
    }

    UnitCheck check(options, &application);
#ifdef Q_OS_WIN
    ::SetConsoleCtrlHandler(onConsoleControl, TRUE);
#else
    QObject::connect(&stopSignals, &SignalWatcher::terminationRequested, &check, &UnitCheck::stop);
    stopSignals.start();
#endif
    const CheckRecord record = check.run();
    const int status = exitStatus(record, check.stopSignal());
    if (report.isOpen() && (report.write(reportLine(record) + '\n') < 0 || !report.flush())) {
        std::fprintf(stderr, "kv310-test: cannot write the report %s: %s\n", qPrintable(reportPath),
                     qPrintable(report.errorString()));
        return status == PassStatus ? FailStatus : status;
    }
    return status;
}
