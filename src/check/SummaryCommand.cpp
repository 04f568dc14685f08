#include "SummaryCommand.h"

#include "CheckCommandLine.h"
#include "ResultsFile.h"
#include "ShiftSummary.h"
#include "common/CommandLine.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QFile>
#include <QJsonDocument>

#include <cstdio>

int runSummaryCommand(int argc, char *argv[])
{
    const QCoreApplication application(argc, argv);
    const QString mode = QStringLiteral("summary");

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "kv310-test --summary: sums up a station's results file, every shift in it: units,\n"
        "passed, failed, yield, first-pass yield, retests, aborted and incomplete tests,\n"
        "failures by step, the median cycle time, the first and last times, and the lines\n"
        "that cannot be read. It reads the file while a station may be writing to it.\n\n"
        "Exit status: 0 done, 2 usage error, 4 the file cannot be read. See kv310-test(1)."));
    const QCommandLineOption summaryOption(QStringLiteral("summary"),
                                           QStringLiteral("Sums up a results file (this mode)."));
    const QCommandLineOption jsonOption(QStringLiteral("json"),
                                        QStringLiteral("Prints the summary as one JSON object."));
    CommandLine::addHelpAndVersion(parser);
    parser.addOptions({summaryOption, jsonOption});
    parser.addPositionalArgument(QStringLiteral("file"),
                                 QStringLiteral("The results file (JSON Lines) to sum up."));

    CommandLine::Program program = modeProgram(mode);
    program.positionals = 1;
    if (const auto status = CommandLine::read(parser, QCoreApplication::arguments(), program))
        return *status;
    const QString path = parser.positionalArguments().value(0);
    if (path.isEmpty())
        return modeUsageError(mode, QStringLiteral("--summary needs a results file."));

    // No lock: a station holds it for the whole shift, and reading leaves the file as it is.
    QFile file(path);
    QString error;
    std::optional<ResultLines> lines;
    if (file.open(QIODevice::ReadOnly))
        lines = readResultLines(file, &error);
    else
        error = file.errorString();
    if (!lines) {
        std::fprintf(stderr, "kv310-test: cannot read the results %s: %s\n", qPrintable(path),
                     qPrintable(error));
        return ExitStatus::ResultsError;
    }
    const ShiftSummary summary = summarize(lines->records(), lines->unreadableCount());
    if (parser.isSet(jsonOption))
        std::printf("%s\n",
                    QJsonDocument(summaryJson(summary)).toJson(QJsonDocument::Compact).constData());
    else
        std::fputs(qPrintable(summaryText(summary)), stdout);
    return ExitStatus::Passed;
}
