#include "CommandLine.h"

#include "QtOptions.h"

#include <QCommandLineParser>
#include <QCoreApplication>

#include <cstdio>

namespace CommandLine
{

void addHelpAndVersion(QCommandLineParser &parser)
{
    parser.addOption(
        {{QStringLiteral("h"), QStringLiteral("help")}, QStringLiteral("Displays this help.")});
    parser.addVersionOption();
}

std::optional<int> read(QCommandLineParser &parser, const QStringList &arguments,
                        const Program &program)
{
    QStringList own;
    QString error = QtOptions::takeOut(arguments, own);
    if (error.isEmpty() && !parser.parse(own))
        error = parser.errorText();
    else if (error.isEmpty() && parser.positionalArguments().size() > program.positionals)
        error = QStringLiteral("Unexpected argument '%1'.")
                    .arg(parser.positionalArguments().at(program.positionals));
    if (!error.isEmpty())
        return usageError(program, error);
    // Printed rather than shown through the parser, which on Windows puts it in a message box
    // when the one who asked has no console of ours.
    const QStringList names = parser.optionNames();
    if (names.contains(QLatin1String("help")) || names.contains(QLatin1String("h")) ||
        names.contains(QLatin1String("help-all"))) {
        QString text = parser.helpText();
        // Without an application object Qt cannot name the program in its usage line.
        if (!QCoreApplication::instance())
            text.replace(QLatin1String("<executable_name>"), program.name);
        std::fputs(qPrintable(text), stdout);
        return 0;
    }
    if (names.contains(QLatin1String("version")) || names.contains(QLatin1String("v"))) {
        printLine(program.name + QLatin1Char(' ') + program.version);
        return 0;
    }
    return std::nullopt;
}

int usageError(const Program &program, const QString &error)
{
    std::fprintf(stderr, "%s: %s\nTry '%s' for more information.\n", qPrintable(program.name),
                 qPrintable(error), qPrintable(program.helpCommand));
    return UsageErrorStatus;
}

void printLine(const QString &line)
{
    std::fputs(qPrintable(line + QLatin1Char('\n')), stdout);
    std::fflush(stdout);
}

} // namespace CommandLine
