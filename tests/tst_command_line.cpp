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
    explicit Captured(std::FILE *stream) : m_stream(stream), m_fd(fileno(stream))
    {
        m_file.open();
        std::fflush(m_stream);
        m_saved = ::dup(m_fd);
        ::dup2(m_file.handle(), m_fd);
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
        ::dup2(m_saved, m_fd);
        ::close(m_saved);
        m_saved = -1;
    }

    QTemporaryFile m_file;
    std::FILE *const m_stream;
    const int m_fd;
    int m_saved = -1;
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
        QTest::addColumn<QStringList>("own");  // what takeOut leaves, the program's name first
        QTest::addColumn<int>("status");       // -1: the program goes on
        QTest::addColumn<QByteArray>("out");   // contained in standard output
        QTest::addColumn<QByteArray>("error"); // standard error, all of it
        const QStringList checkOnly{"prog", "--check"};
        QTest::newRow("-platform offscreen")
            << QStringList{"prog", "-platform", "offscreen", "--check"} << checkOnly << -1
            << QByteArray() << QByteArray();
        QTest::newRow("-style Fusion") << QStringList{"prog", "--check", "-style", "Fusion"}
                                       << checkOnly << -1 << QByteArray() << QByteArray();
        QTest::newRow("-style=Fusion") << QStringList{"prog", "-style=Fusion", "--check"}
                                       << checkOnly << -1 << QByteArray() << QByteArray();
        QTest::newRow("-qwindowgeometry 1x1")
            << QStringList{"prog", "-qwindowgeometry", "1x1", "--check"} << checkOnly << -1
            << QByteArray() << QByteArray();
        QTest::newRow("--platform x") << QStringList{"prog", "--platform", "x", "--check"}
                                      << checkOnly << -1 << QByteArray() << QByteArray();
        QTest::newRow("a flag of Qt's") << QStringList{"prog", "-reverse", "--check"} << checkOnly
                                        << -1 << QByteArray() << QByteArray();
        QTest::newRow("the program's value that reads like Qt's option")
            << QStringList{"prog", "--port", "style", "--check"}
            << QStringList{"prog", "--port", "style", "--check"} << -1 << QByteArray()
            << QByteArray();
        QTest::newRow("a Qt option without its value")
            << QStringList{"prog", "--check", "-platform"} << QStringList() << 2 << QByteArray()
            << "kv310-test: Missing value after '-platform'.\n" + TryLine;
        QTest::newRow("unknown option")
            << QStringList{"prog", "--bogus"} << QStringList{"prog", "--bogus"} << 2 << QByteArray()
            << "kv310-test: Unknown option 'bogus'.\n" + TryLine;
        QTest::newRow("stray argument")
            << QStringList{"prog", "--check", "stray"} << QStringList{"prog", "--check", "stray"}
            << 2 << QByteArray() << "kv310-test: Unexpected argument 'stray'.\n" + TryLine;
        QTest::newRow("--help") << QStringList{"prog", "-platform", "offscreen", "--help"}
                                << QStringList{"prog", "--help"} << 0 << QByteArray("--port <port>")
                                << QByteArray();
        QTest::newRow("--version")
            << QStringList{"prog", "--version"} << QStringList{"prog", "--version"} << 0
            << QByteArray("kv310-test 9.8.7\n") << QByteArray();
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
        if (own.isEmpty())
            QVERIFY(!refused.isEmpty());
        else
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
