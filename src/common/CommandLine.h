#pragma once

#include <QString>
#include <QStringList>

#include <optional>

class QCommandLineParser;

// What the three programs do alike with their command lines: Qt's standard options are taken
// out, a mistake is told on standard error with status 2, help and version are printed, all
// before anything needs a display.
namespace CommandLine
{

constexpr int UsageErrorStatus = 2;

struct Program {
    QString name;        // as the messages name it: kv310-test
    QString version;     // printed by --version after the name
    QString helpCommand; // what the user is told to try: kv310-test --check --help
    int positionals = 0; // how many arguments that are no option it takes
};

// -h/--help and -v/--version. Not Qt's --help-all, which would list Qt's options for the
// console's QCoreApplication rather than those a program takes.
void addHelpAndVersion(QCommandLineParser &parser);

// Parses arguments (the program's name first) for the program's own options. Returns the exit
// status when the command line has been answered (--help or --version, 0) or refused (2), and
// nothing when the program is to go on. --help-all counts as --help.
std::optional<int> read(QCommandLineParser &parser, const QStringList &arguments,
                        const Program &program);

// Tells a mistake the parser could not see (a value out of range) and returns 2.
int usageError(const Program &program, const QString &error);

// A line on standard output, flushed at once: whoever reads it may be waiting for it.
void printLine(const QString &line);

} // namespace CommandLine
