#include "common/CommandLine.h"
#include "common/QtOptions.h"

#include <QCommandLineParser>
#include <QTemporaryFile>
#include <QTest>

#include <cstdio>
#include <unistd.h>

namespace
{

const CommandLine::Program Program{QStringLiteral("kv310-test"), QStringLiteral("9.8.7"),
                                   QStringLiteral("kv310-test --check --help")};
const QByteArray TryLine = "Try 'kv310-test --check --help' for more information.\n";

// What a call writes on one of the standard streams, read back from a file put in its place.
class Captured
{
public:
    explicit Captured(std::FILE *stream) : m_stream(stream), m_saved(::dup(fileno(stream)))
    {
        m_file.open();
        std::fflush(m_stream);
        ::dup2(m_file.handle(), fileno(m_stream));
    }
    ~Captured() { restore(); }
    Q_DISABLE_COPY(Captured)

    QByteArray text()
    {
        restore();
        m_file.seek(0);
        return m_file.readAll();
    }

private:
    void restore()
    {
        if (m_saved < 0)
            return;
        std::fflush(m_stream);
        ::dup2(m_saved, fileno(m_stream));
        ::close(std::exchange(m_saved, -1));
    }

    QTemporaryFile m_file;
    std::FILE *const m_stream;
    int m_saved;
};

} // namespace

// The command line every program reads alike: Qt's options taken out with their values before
// the program's own are parsed, mistakes refused with 2 and where help is, help and version
// answered with 0.
class CommandLineTest : public QObject
{
    Q_OBJECT

private slots:
    void read_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<QStringList>("own");  // what takeOut leaves; empty: it refuses
        QTest::addColumn<int>("status");       // -1: the program goes on
        QTest::addColumn<QByteArray>("out");   // contained in standard output
        QTest::addColumn<QByteArray>("error"); // standard error, all of it
        const auto row = [](const char *name, const QStringList &arguments, const QStringList &own,
                            int status, const QByteArray &out = {}, const QByteArray &error = {}) {
            QTest::newRow(name) << arguments << own << status << out << error;
        };
        // A flag of Qt's takes no value; a value of the program's own that reads like Qt's stays.
        row("Qt's options with their values",
            {"prog", "-platform", "offscreen", "-reverse", "--port", "style", "--check", "-style",
             "Fusion", "--platform", "x", "-qwindowgeometry", "1x1"},
            {"prog", "--port", "style", "--check"}, -1);
        row("-style=Fusion", {"prog", "-style=Fusion", "--check"}, {"prog", "--check"}, -1);
        row("a Qt option without its value", {"prog", "--check", "-platform"}, {}, 2, {},
            "kv310-test: Missing value after '-platform'.\n" + TryLine);
        row("unknown option", {"prog", "--bogus"}, {"prog", "--bogus"}, 2, {},
            "kv310-test: Unknown option 'bogus'.\n" + TryLine);
        row("stray argument", {"prog", "--check", "stray"}, {"prog", "--check", "stray"}, 2, {},
            "kv310-test: Unexpected argument 'stray'.\n" + TryLine);
        row("--help", {"prog", "-platform", "offscreen", "--help"}, {"prog", "--help"}, 0,
            "--port <port>");
        row("--version", {"prog", "--version"}, {"prog", "--version"}, 0, "kv310-test 9.8.7\n");
    }
    void read()
    {
        QFETCH(QStringList, arguments);
        QFETCH(QStringList, own);
        QFETCH(int, status);
        QFETCH(QByteArray, out);
        QFETCH(QByteArray, error);

        QStringList taken;
        const QString refused = QtOptions::takeOut(arguments, taken);
        QCOMPARE(refused.isEmpty(), !own.isEmpty());
        if (!own.isEmpty())
            QCOMPARE(taken, own);

        QCommandLineParser parser;
        const QCommandLineOption check(QStringLiteral("check"), QStringLiteral("Checks a unit."));
        const QCommandLineOption port(QStringLiteral("port"), QStringLiteral("The port."),
                                      QStringLiteral("port"), QStringLiteral("1"));
        parser.addOptions({{{"h", "help"}, "Displays this help."},
                           {{"v", "version"}, "Displays version information."},
                           check,
                           port});
        Captured standardOutput(stdout);
        Captured standardError(stderr);
        const std::optional<int> answered = CommandLine::read(parser, arguments, Program);
        const QByteArray errorText = standardError.text();
        const QByteArray outText = standardOutput.text();
        QCOMPARE(answered.value_or(-1), status);
        QCOMPARE(errorText, error);
        QVERIFY2(outText.contains(out), outText.constData());
        if (status == -1) {
            QVERIFY(outText.isEmpty());
            QVERIFY(parser.isSet(check));
            const qsizetype given = own.indexOf("--port");
            QCOMPARE(parser.value(port), given < 0 ? QStringLiteral("1") : own.at(given + 1));
        }
    }
};

QTEST_GUILESS_MAIN(CommandLineTest)

#include "tst_command_line.moc"
