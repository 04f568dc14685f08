// kv310-sim: a simulated KV310 unit on a pseudo-terminal, for testing the utility without the
// hardware. The first line of standard output is the port path for the utility to open; the
// headless line formats and commands, which other tests parse, are described in README.md here.

#include "HeadlessConsole.h"
#include "PtyEndpoint.h"
#include "SignalWatcher.h"
#include "SimWindow.h"
#include "Simulator.h"
#include "SymlinkGuard.h"
#include "common/CommandLine.h"
#include "common/QtOptions.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QCoreApplication>

#include <cstdio>
#include <memory>
#include <optional>

namespace
{

QStringList argumentList(int argc, char **argv)
{
    QStringList arguments;
    for (int index = 0; index < argc; ++index)
        arguments.append(QString::fromLocal8Bit(argv[index]));
    return arguments;
}

} // namespace

int main(int argc, char *argv[])
{
    SignalWatcher signalWatcher;
    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Simulated KV310 display unit on a pseudo-terminal. Prints the port path "
                       "on the first line of standard output.\n") +
        QtOptions::HelpLine);
    parser.addHelpOption();
    parser.addVersionOption();
    const QCommandLineOption headlessOption(
        QStringLiteral("headless"),
        QStringLiteral("No window: report on standard output, read commands on standard input."));
    const QCommandLineOption linkOption(
        QStringLiteral("link"), QStringLiteral("Also make a symbolic link <path> to the port."),
        QStringLiteral("path"));
    const QCommandLineOption noPaceOption(
        QStringLiteral("no-pace"),
        QStringLiteral("Take and send bytes as fast as possible instead of at the line speed."));
    const QCommandLineOption timestampsOption(
        QStringLiteral("timestamps"),
        QStringLiteral("With --headless: start each line after the port path with the time it was "
                       "written, in seconds of the monotonic clock."));
    parser.addOptions({headlessOption, linkOption, noPaceOption, timestampsOption});

    // Read before the application exists: help, version, mistakes and --headless need no display.
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    const CommandLine::Program program{QStringLiteral("kv310-sim"), QStringLiteral(KV310_VERSION),
                                       QStringLiteral("kv310-sim --help")};
    if (const auto status = CommandLine::read(parser, argumentList(argc, argv), program))
        return *status;
    // QApplication takes Qt's standard options from the command line itself.
    const std::unique_ptr<QCoreApplication> app =
        parser.isSet(headlessOption) ? std::make_unique<QCoreApplication>(argc, argv)
                                     : std::make_unique<QApplication>(argc, argv);
    QCoreApplication::setApplicationName(program.name);
    QCoreApplication::setApplicationVersion(program.version);

    PtyEndpoint endpoint(parser.isSet(noPaceOption) ? PtyEndpoint::Pacing::Off
                                                    : PtyEndpoint::Pacing::LineRate);
    if (!endpoint.open()) {
        std::fprintf(stderr, "kv310-sim: %s\n", qPrintable(endpoint.errorString()));
        return 1;
    }
    SymlinkGuard link;
    const QString linkPath = parser.value(linkOption);
    if (!linkPath.isEmpty() && !link.create(linkPath, endpoint.slavePath())) {
        std::fprintf(stderr, "kv310-sim: %s\n", qPrintable(link.errorString()));
        return 1;
    }
    CommandLine::printLine(endpoint.slavePath());

    QObject::connect(&signalWatcher, &SignalWatcher::terminationRequested, app.get(),
                     &QCoreApplication::quit);
    signalWatcher.start();

    Simulator simulator(endpoint);
    std::optional<HeadlessConsole> console;
    std::optional<SimWindow> window;
    if (parser.isSet(headlessOption)) {
        console.emplace(simulator, parser.isSet(timestampsOption)
                                       ? HeadlessConsole::Stamps::Monotonic
                                       : HeadlessConsole::Stamps::None);
        QObject::connect(&*console, &HeadlessConsole::quitRequested, app.get(),
                         &QCoreApplication::quit);
        console->start();
    } else {
        window.emplace(simulator, endpoint, linkPath);
        window->show();
    }
    return app->exec();
}
