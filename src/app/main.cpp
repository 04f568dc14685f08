#include "check/CheckCommandLine.h"
#include "common/CommandLine.h"
#include "common/QtOptions.h"
#include "ui/ApplicationSetup.h"
#include "ui/MainWindow.h"
#include "ui/PlatformChoice.h"
#include "ui/WindowTrace.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QCoreApplication>

#include <cstdio>
#include <optional>

#ifdef Q_OS_WIN
#include <qt_windows.h>
#endif

namespace
{

#ifdef Q_OS_WIN
constexpr char DefaultPorts[2][5] = {"COM1", "COM2"};

// A windowed program has no console of its own: answer in the one it was started from, unless
// the output goes to a file or a pipe already.
void answerInParentConsole()
{
    const auto unconnected = [](DWORD which) {
        const HANDLE handle = ::GetStdHandle(which);
        return !handle || handle == INVALID_HANDLE_VALUE ||
               ::GetFileType(handle) == FILE_TYPE_UNKNOWN;
    };
    const bool output = unconnected(STD_OUTPUT_HANDLE);
    const bool error = unconnected(STD_ERROR_HANDLE);
    if ((!output && !error) || !::AttachConsole(ATTACH_PARENT_PROCESS))
        return;
    if (output)
        std::freopen("CONOUT$", "w", stdout);
    if (error)
        std::freopen("CONOUT$", "w", stderr);
}
#else
constexpr char DefaultPorts[2][11] = {"/dev/ttyS0", "/dev/ttyS1"};
#endif

// --help and --version are answered and anything but --trace and Qt's standard options is
// refused, all without a display, so that they work over ssh and in scripts. Returns the exit
// status when answered here, nothing when the window is to open (with traceFile from --trace).
std::optional<int> answerCommandLine(int argc, char *argv[], QString &traceFile)
{
    // Decodes the arguments and names the program in the help, without loading a platform.
    const QCoreApplication application(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("kv310-test"));
    QCoreApplication::setApplicationVersion(QStringLiteral(KV310_VERSION));

    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral(
            "Test utility for the KV310 serial LCD with keypad. Apart from --check, --station,\n"
            "--summary and --trace it has no options of its own: without arguments it opens its\n"
            "window.\n%1\n\n"
            "Port 1 (com1) is the device in KV310_COM1, %2 when unset or empty.\n"
            "Port 2 (com2) is the device in KV310_COM2, %3 when unset or empty.\n\n"
            "kv310-test --check checks a unit without the window, kv310-test --station checks\n"
            "unit after unit for a shift, and kv310-test --summary FILE sums up a station's\n"
            "results; each lists its options with --help.\n\n"
            "--trace FILE (or KV310_TRACE=FILE) appends every byte on the line to FILE, one\n"
            "timestamped line per event: > sent, < received, # open, close and failures:\n"
            "  2026-12-08T09:14:03.441Z > FE F0\n"
            "  2026-12-08T09:14:03.447Z < 05\n"
            "See kv310-test(1).")
            .arg(QtOptions::HelpLine, QLatin1String(DefaultPorts[0]),
                 QLatin1String(DefaultPorts[1])));
    CommandLine::addHelpAndVersion(parser);
    const QCommandLineOption traceOption(QStringLiteral("trace"),
                                         QStringLiteral("Appends a trace of the line to <file>."),
                                         QStringLiteral("file"));
    parser.addOption(traceOption);
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    if (const auto status =
            CommandLine::read(parser, QCoreApplication::arguments(),
                              {QStringLiteral("kv310-test"), QStringLiteral(KV310_VERSION),
                               QStringLiteral("kv310-test --help")}))
        return status;
    traceFile = parser.value(traceOption);
    return std::nullopt;
}

} // namespace

int main(int argc, char *argv[])
{
    QString traceFile;
    if (argc > 1) {
#ifdef Q_OS_WIN
        answerInParentConsole();
#endif
        const CommandMode mode = commandMode(argc, argv);
        if (mode != CommandMode::Window)
            return runConsoleCommand(mode, argc, argv);
        if (const std::optional<int> status = answerCommandLine(argc, argv, traceFile))
            return *status;
    }
    askForPlatform(argc, argv);
    QApplication application(argc, argv);
    setUpApplication(application);
    MainWindow window;
    traceWindowLine(window, traceFile);
    window.show();
    return application.exec();
}
