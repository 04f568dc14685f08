#pragma once

#include "UnitCheck.h"
#include "common/CommandLine.h"
#include "link/PortConnection.h"

#include <QCommandLineOption>
#include <QString>

#include <optional>

class MSComm;
class QCommandLineParser;

// What the arguments ask for: the window, or one of the modes without it.
enum class CommandMode { Window, Check, Station, Summary };
CommandMode commandMode(int argc, char *argv[]);

// The exit statuses of the modes without a window.
namespace ExitStatus
{
constexpr int Passed = 0;
constexpr int Failed = 1;
constexpr int UsageError = 2;
constexpr int PortError = 3;
constexpr int ResultsError = 4;
constexpr int SignalBase = 128;
} // namespace ExitStatus

// The options the check and the station share: the line and how the steps run.
struct LineOptions {
    QString port = QStringLiteral("1"); // as given: 1, 2, or a device's name
    PortChoice choice;
    CheckSettings settings;
    QString traceFile; // --trace, or KV310_TRACE
};

// Adds --port, --rate, --key-timeout, --no-confirm and --trace to parser.
class LineOptionSet
{
public:
    void addTo(QCommandLineParser &parser) const;
    // The options' values, or the usage error's status (told already).
    std::optional<LineOptions> read(const QCommandLineParser &parser, const QString &mode) const;

private:
    const QCommandLineOption m_port{
        QStringLiteral("port"),
        QStringLiteral("Port 1 or 2 as in the window (KV310_COM1, KV310_COM2), or a device "
                       "such as /dev/ttyUSB0 or COM5. Default 1."),
        QStringLiteral("port"), QStringLiteral("1")};
    const QCommandLineOption m_rate{QStringLiteral("rate"),
                                    QStringLiteral("2400 or 9600 baud. Default 2400."),
                                    QStringLiteral("rate"), QStringLiteral("2400")};
    const QCommandLineOption m_keyTimeout{
        QStringLiteral("key-timeout"), QStringLiteral("How long to wait for each key. Default 20."),
        QStringLiteral("seconds"), QStringLiteral("20")};
    const QCommandLineOption m_noConfirm{
        QStringLiteral("no-confirm"),
        QStringLiteral("Does not ask whether the display is right; that step is not judged.")};
    const QCommandLineOption m_trace{
        QStringLiteral("trace"),
        QStringLiteral("Appends a timestamped trace of every byte on the line to file "
                       "(also KV310_TRACE)."),
        QStringLiteral("file")};
};

// A mode as the command-line helper names it: kv310-test, and where its help is.
CommandLine::Program modeProgram(const QString &mode);
// The usage error of a mode: "kv310-test: ERROR" and where its help is; returns 2.
int modeUsageError(const QString &mode, const QString &error);

// Starts the trace the options ask for; on failure tells why on standard error and returns
// false, before the port is touched.
bool traceLine(MSComm &port, const LineOptions &options);

// Opens the port for a check or a station; on failure tells why on standard output (the
// window's words where it has them) and returns false.
bool openLine(MSComm &port, const LineOptions &options);

// kv310-test --check [options]: checks one unit without a window and returns the exit status:
// 0 passed, 1 failed a step, 2 usage error, 3 port not opened, 128 + the signal when stopped.
int runCheckCommand(int argc, char *argv[]);

// Runs the mode without a window that the arguments ask for and returns its exit status.
int runConsoleCommand(CommandMode mode, int argc, char *argv[]);
