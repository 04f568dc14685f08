#include "TestSupport.h"
#include "common/AppInfo.h"
#include "link/MSComm.h"
#include "ui/WindowLayout.h"

#include <QAbstractButton>
#include <QApplication>
#include <QLineEdit>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTest>

using Writes = QList<QByteArray>;

namespace
{

// The bytes a log fragment stands for; fails the test unless it is whole "XX " groups.
QByteArray bytesFromEcho(const QString &echo)
{
    static const QRegularExpression groups(QStringLiteral("^([0-9A-F]{2} )*$"));
    if (!groups.match(echo).hasMatch())
        return QByteArrayLiteral("<malformed echo>");
    return QByteArray::fromHex(echo.toLatin1());
}

Writes writesOf(const QSignalSpy &spy)
{
    Writes writes;
    for (const QList<QVariant> &arguments : spy)
        writes.append(arguments.at(0).toByteArray());
    return writes;
}

} // namespace

class DisplayTest : public QObject
{
    Q_OBJECT

private slots:
    // Each command clicked while polling runs: it stops the polling, and what reached the line
    // is, write for write, what the log says.
    void command_data()
    {
        QTest::addColumn<QString>("button");
        QTest::addColumn<QString>("text");
        QTest::addColumn<Writes>("expected");
        QTest::newRow("Clear") << "cmdClear" << QString() << Writes{"\x0c"};
        QTest::newRow("Home") << "cmdHome" << QString() << Writes{"\xfe\x80"};
        QTest::newRow("NewLine") << "cmdNewLine" << QString() << Writes{"\x0a"};
        QTest::newRow("Banner") << "cmdBanner" << QString()
                                << Writes{"\x0cwww.veltorlcd.eu\x0a  Test utility"};
        QTest::newRow("Send empty") << "cmdSend" << QString() << Writes{};
        QTest::newRow("Send text")
            << "cmdSend" << QString(" Hello, KV310!  ") << Writes{" Hello, KV310!  "};
        QTest::newRow("Send codes")
            << "cmdSend" << QString::fromUtf16(u"\u00fe\u0080\u0001Z") << Writes{"\xfe\x80\x01Z"};
        QTest::newRow("Send beyond 8 bits")
            << "cmdSend" << QString::fromUtf16(u"\u00e9\u20acx") << Writes{"\xe9?x"};
        QTest::newRow("Send surrogate pair")
            << "cmdSend" << QString::fromUtf16(u"a\U0001F600b") << Writes{"a?b"};
    }
    void command()
    {
        QFETCH(QString, button);
        QFETCH(QString, text);
        QFETCH(Writes, expected);

        WindowHarness harness;
        QVERIFY(harness.openPort());
        harness.control<QLineEdit>("txtSend")->setText(text);
        QSignalSpy writes(&harness.port(), &MSComm::outputWritten);
        QVERIFY(harness.click("cmdPollKey"));
        QVERIFY(harness.window().isPolling());
        QVERIFY(harness.click(button));
        QVERIFY(!harness.window().isPolling());

        const QByteArray wire = harness.wire(250);
        const Writes all = writesOf(writes);
        QVERIFY(!all.isEmpty());
        QCOMPARE(all.first(), QByteArray("\xfe\xf0"));
        QCOMPARE(all.mid(1), expected);
        QCOMPARE(wire, all.join());
        QCOMPARE(bytesFromEcho(harness.logText()), wire);
        QVERIFY(!harness.window().findChild<QTimer *>("tmrPoll")->isActive());
        QCOMPARE(harness.control<QLineEdit>("txtSend")->text(), text);
        QVERIFY(harness.modals().messages.isEmpty());
    }

    void failedCommand_data() { command_data(); }
    void failedCommand()
    {
        QFETCH(QString, button);
        QFETCH(QString, text);
        QFETCH(Writes, expected);

        WindowHarness harness;
        QVERIFY(harness.openPort());
        QVERIFY(harness.click("cmdNewLine"));
        harness.control<QLineEdit>("txtSend")->setText(text);
        harness.port().setPortOpen(false);
        QVERIFY(harness.click(button));
        WindowHarness::runEvents(20);

        QCOMPARE(harness.logText(), QString("0A "));
        QCOMPARE(harness.modals().messages.size(), expected.isEmpty() ? 0 : 1);
        if (!expected.isEmpty())
            QVERIFY(harness.modals().messages[0].text.startsWith(
                harness.control<QAbstractButton>(button)->text() + " failed: "));
    }
};

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    WindowLayout::setUpApplication(app);
    DisplayTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_display.moc"
