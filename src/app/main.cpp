#include "ui/ApplicationSetup.h"
#include "ui/MainWindow.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QCoreApplication>

#include <cstdio>

namespace
{

constexpr int UsageErrorStatus = 2;

// The utility has no options of its own: --help and --version are answered and anything else is
// refused, all without a display, so that they work over ssh and in scripts.
int answerCommandLine(int argc, char *argv[])
{
    // Decodes the arguments and names the program in the help, without loading a platform.
    const QCoreApplication application(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("kv310-test"));
    QCoreApplication::setApplicationVersion(QStringLiteral(KV310_VERSION));

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "Test utility for the KV310 serial LCD with keypad. It has no options of its own:\n"
        "without arguments it opens its window.\n\n"
        "Port 1 (com1) is the device in KV310_COM1, /dev/ttyS0 when unset or empty.\n"
        "Port 2 (com2) is the device in KV310_COM2, /dev/ttyS1 when unset or empty.\n"
        "See kv310-test(1)."));
    // Qt's own --help-all would list Qt's options, which the utility does not take.
    const QCommandLineOption helpOption({QStringLiteral("h"), QStringLiteral("help")},
                                        QStringLiteral("Displays this help."));
    parser.addOption(helpOption);
    const QCommandLineOption versionOption = parser.addVersionOption();

    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    const bool parsed = parser.parse(QCoreApplication::arguments());
    if (!parsed || !parser.positionalArguments().isEmpty()) {
        const QString error = parsed ? QStringLiteral("Unexpected argument '%1'.")
                                           .arg(parser.positionalArguments().constFirst())
                                     : parser.errorText();
        std::fprintf(stderr, "kv310-test: %s\nTry 'kv310-test --help' for more information.\n",
                     qPrintable(error));
        return UsageErrorStatus;
    }
    if (parser.isSet(versionOption))
        parser.showVersion();
    std::fputs(qPrintable(parser.helpText()), stdout);
    return 0;
}

} // namespace

int main(int argc, char *argv[])
{
    if (argc > 1)
        return answerCommandLine(argc, argv);
    QApplication application(argc, argv);
    setUpApplication(application);
    MainWindow window;
    window.show();
    return application.exec();
}
