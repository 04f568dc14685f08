#include "TestSupport.h"
#include "common/AppInfo.h"
#include "link/MSComm.h"
#include "link/PortConnection.h"
#include "ui/FailureReporter.h"
#include "ui/WindowLayout.h"

#include <QApplication>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <memory>
#include <poll.h>

namespace
{

const char *const Options[] = {"optPort(0)", "optPort(1)", "optBaud(0)", "optBaud(1)"};
const char *const Commands[] = {"cmdClear",  "cmdBanner", "cmdHome",   "cmdNewLine",
                                "cmdRipple", "cmdSend",   "cmdGetKey", "cmdPollKey"};

} // namespace

class ConnectionTest : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void opensChosenPortAndRate_data();
    void opensChosenPortAndRate();
    void statesFollowThePort();
    void toggleStopsPolling();
    void openFailures_data();
    void openFailures();
    void exitClosesPort();

private:
    QString caption(const char *name) const;
    void verifyState(bool open) const;
    void select(const char *name) { QVERIFY(m_harness->click(QString::fromUtf8(name))); }

    std::unique_ptr<WindowHarness> m_harness;
    std::unique_ptr<PtyPair> m_line2;
};

void ConnectionTest::init()
{
    m_harness = std::make_unique<WindowHarness>();
    m_line2 = std::make_unique<PtyPair>();
    QVERIFY(m_harness->line().isValid() && m_line2->isValid());
    qputenv("KV310_COM2", m_line2->slavePath().toLocal8Bit());
}

void ConnectionTest::cleanup()
{
    m_harness.reset();
    m_line2.reset();
}

QString ConnectionTest::caption(const char *name) const
{
    const QString objectName = QString::fromUtf8(name);
    if (auto *label = m_harness->control<QLabel>(objectName))
        return label->text();
    return m_harness->control<QAbstractButton>(objectName)->text();
}

void ConnectionTest::verifyState(bool open) const
{
    struct State {
        const char *comCaption;
        const char *status;
    };
    const State states[] = {{"Open com port", "Com port closed"},
                            {"Close com port", "Com port open"}};
    QCOMPARE(m_harness->port().PortOpen(), open);
    QCOMPARE(caption("cmdCom"), QString::fromUtf8(states[open].comCaption));
    QCOMPARE(caption("lblComStatus"), QString::fromUtf8(states[open].status));
    for (const char *name : Options)
        QVERIFY2(m_harness->control(QString::fromUtf8(name))->isEnabled() != open, name);
    for (const char *name : Commands)
        QVERIFY2(m_harness->control(QString::fromUtf8(name))->isEnabled() == open, name);
    for (const char *name : {"cmdCom", "cmdExit", "txtSend", "txtSent"})
        QVERIFY2(m_harness->control<QWidget>(QString::fromUtf8(name))->isEnabled(), name);
    QVERIFY(!m_harness->window().isPolling());
}

void ConnectionTest::opensChosenPortAndRate_data()
{
    QTest::addColumn<int>("port");
    QTest::addColumn<int>("rate");
    QTest::newRow("com1 2400") << 1 << 2400;
    QTest::newRow("com1 9600") << 1 << 9600;
    QTest::newRow("com2 2400") << 2 << 2400;
    QTest::newRow("com2 9600") << 2 << 9600;
}

void ConnectionTest::opensChosenPortAndRate()
{
    QFETCH(int, port);
    QFETCH(int, rate);
    if (port == 2)
        select("optPort(1)");
    if (rate == 9600)
        select("optBaud(1)");
    QVERIFY(m_harness->click(QStringLiteral("cmdCom")));
    verifyState(true);
    QCOMPARE(m_harness->port().CommPort(), port);
    QCOMPARE(m_harness->port().RThreshold(), 1);

    PtyPair &chosen = port == 1 ? m_harness->line() : *m_line2;
    PtyPair &other = port == 1 ? *m_line2 : m_harness->line();
    QCOMPARE(chosen.lineSpeed(), rate);
    const termios line = chosen.lineSettings();
    QCOMPARE(line.c_cflag & CSIZE, tcflag_t(CS8));
    QVERIFY(!(line.c_cflag & PARENB));
    QVERIFY(!(line.c_cflag & CSTOPB));

    QVERIFY(m_harness->click(QStringLiteral("cmdClear")));
    QCOMPARE(chosen.readAll(), QByteArray("\x0c"));
    QCOMPARE(m_harness->logText(), QStringLiteral("0C "));
    QCOMPARE(other.readAll(), QByteArray());
    QVERIFY(m_harness->modals().messages.isEmpty());
}

void ConnectionTest::statesFollowThePort()
{
    auto *send = m_harness->control<QLineEdit>(QStringLiteral("txtSend"));
    send->setText(QStringLiteral("keep me"));
    select("optBaud(1)");
    verifyState(false);

    QVERIFY(m_harness->openPort());
    QCOMPARE(m_harness->line().lineSpeed(), 9600);
    QVERIFY(m_harness->click(QStringLiteral("cmdHome")));
    QCOMPARE(m_harness->wire(), QByteArray("\xfe\x80"));
    const QString log = m_harness->logText();

    // The toggle touches neither the text boxes nor the choices.
    for (const bool open : {false, true, false}) {
        QVERIFY(m_harness->click(QStringLiteral("cmdCom")));
        verifyState(open);
        if (open)
            QCOMPARE(m_harness->line().lineSpeed(), 9600);
        QCOMPARE(send->text(), QStringLiteral("keep me"));
        QCOMPARE(m_harness->logText(), log);
        QVERIFY(m_harness->control<QRadioButton>(QStringLiteral("optPort(0)"))->isChecked());
        QVERIFY(m_harness->control<QRadioButton>(QStringLiteral("optBaud(1)"))->isChecked());
    }
    QCOMPARE(m_harness->wire(), QByteArray());
    QVERIFY(m_harness->modals().messages.isEmpty());
}

void ConnectionTest::toggleStopsPolling()
{
    QVERIFY(m_harness->openPort());
    QVERIFY(m_harness->click(QStringLiteral("cmdPollKey")));
    QVERIFY(m_harness->window().isPolling());
    QVERIFY(m_harness->click(QStringLiteral("cmdCom")));
    verifyState(false);

    // The poll timer stops at its next tick without writing to the closed port.
    m_harness->line().readWaiting();
    auto *timer = m_harness->window().findChild<QTimer *>(QStringLiteral("tmrPoll"));
    QTRY_VERIFY_WITH_TIMEOUT(!timer->isActive(), 5000);
    QTest::qWait(300);
    QVERIFY(m_harness->modals().messages.isEmpty());
    QCOMPARE(m_harness->window().failureReporter()->shownCount(), 0);
}

void ConnectionTest::openFailures_data()
{
    QTest::addColumn<QString>("kind");
    QTest::addColumn<int>("port");
    QTest::addColumn<QString>("message");
    QTest::newRow("missing 1") << "missing" << 1 << "Port 1 doesn't exist!";
    QTest::newRow("missing 2") << "missing" << 2 << "Port 2 doesn't exist!";
    QTest::newRow("held 1") << "held" << 1 << "Port 1 already in use!";
    QTest::newRow("held 2") << "held" << 2 << "Port 2 already in use!";
    QTest::newRow("regular file") << "file" << 1 << "";
    QTest::newRow("directory") << "directory" << 2 << "";
}

void ConnectionTest::openFailures()
{
    QFETCH(QString, kind);
    QFETCH(int, port);
    QFETCH(QString, message);
    QTemporaryDir scratch;
    QVERIFY(scratch.isValid());
    const char *variable = port == 1 ? "KV310_COM1" : "KV310_COM2";
    QString path = MSComm::devicePathForPort(port);
    if (kind == "missing") {
        path = scratch.filePath(QStringLiteral("no-such-port"));
    } else if (kind == "file") {
        path = scratch.filePath(QStringLiteral("plain"));
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
    } else if (kind == "directory") {
        path = scratch.path();
    }
    qputenv(variable, path.toLocal8Bit());
    MSComm holder;
    if (kind == "held") {
        holder.setCommPort(static_cast<qint16>(port));
        holder.setPortOpen(true);
    }
    if (port == 2)
        select("optPort(1)");
    select("optBaud(1)");

    QVERIFY(m_harness->click(QStringLiteral("cmdCom")));
    verifyState(false);
    QVERIFY(m_harness->control<QRadioButton>(QStringLiteral("optBaud(1)"))->isChecked());
    QVERIFY(m_harness->control<QRadioButton>(QStringLiteral("optPort(1)"))->isChecked() ==
            (port == 2));
    const QList<SeenMessage> &seen = m_harness->modals().messages;
    if (message.isEmpty()) {
        QCOMPARE(seen.size(), 0);
    } else {
        QCOMPARE(seen.size(), 1);
        QCOMPARE(seen.first().text, message);
        QCOMPARE(seen.first().title, AppInfo::ApplicationTitle);
        QCOMPARE(seen.first().icon, QMessageBox::NoIcon);
        QCOMPARE(seen.first().buttons.size(), 1);
        QCOMPARE(QString(seen.first().buttons.first()).remove(QLatin1Char('&')),
                 QStringLiteral("OK"));
    }
    QCOMPARE(m_harness->window().failureReporter()->shownCount(), 0);

    // A failed open clears the polling flag like any other toggle.
    ConnectionControls controls;
    controls.cmdCom = m_harness->control(QStringLiteral("cmdCom"));
    controls.lblComStatus = m_harness->control<QLabel>(QStringLiteral("lblComStatus"));
    for (std::size_t index = 0; index < controls.options.size(); ++index)
        controls.options[index] = m_harness->control(QString::fromUtf8(Options[index]));
    for (std::size_t index = 0; index < controls.commands.size(); ++index)
        controls.commands[index] = m_harness->control(QString::fromUtf8(Commands[index]));
    controls.optPort0 = controls.options[0];
    controls.optBaud0 = controls.options[2];
    bool polling = true;
    QString told;
    toggleConnection(m_harness->port(), polling, controls,
                     [&told](const QString &text) { told = text; });
    QVERIFY(!polling);
    QCOMPARE(told, message);
    verifyState(false);

    if (kind == "held") {
        holder.setPortOpen(false);
        QVERIFY(m_harness->click(QStringLiteral("cmdCom")));
        verifyState(true);
        QCOMPARE(seen.size(), 1);
    }
}

void ConnectionTest::exitClosesPort()
{
    QVERIFY(m_harness->openPort());
    QVERIFY(m_harness->click(QStringLiteral("cmdExit")));
    QVERIFY(!m_harness->port().PortOpen());
    QVERIFY(m_harness->modals().messages.isEmpty());
    QCOMPARE(m_harness->window().failureReporter()->shownCount(), 0);
    QCOMPARE(m_harness->wire(), QByteArray());

    // The far end sees the line hang up.
    pollfd master{m_harness->line().masterFd(), POLLIN, 0};
    QCOMPARE(::poll(&master, 1, 2000), 1);
    QVERIFY(master.revents & POLLHUP);
}

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    WindowLayout::setUpApplication(app);
    ConnectionTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_connection.moc"
