#pragma once

#include "FdHandle.h"
#include "Indicators.h"
#include "LineProcess.h"
#include "link/MSComm.h"
#include "ui/ApplicationSetup.h"
#include "ui/MainWindow.h"

#include <QAbstractButton>
#include <QApplication>
#include <QElapsedTimer>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>

#include <memory>
#include <termios.h>

// A pseudo-terminal whose master side the test holds; the utility opens the slave as its port.
class PtyPair
{
public:
    PtyPair();

    QString slavePath() const { return m_slavePath; }
    int masterFd() const { return m_master.get(); }

    // Everything the utility writes until the line has been quiet for quietMs (3 s at most).
    QByteArray readAll(int quietMs = 100) { return collect(1 << 30, quietMs, 3000); }
    // Exactly count bytes, or fewer if ms milliseconds pass first.
    QByteArray read(int count, int ms = 3000) { return collect(count, ms, ms); }
    // Bytes already waiting (at most limit), without waiting for more.
    QByteArray readWaiting(qsizetype limit = 1 << 30);
    // Writes to the utility, as the unit would.
    bool write(const QByteArray &bytes);

    // Hangs up the line: the unit is gone.
    void closeMaster() { m_master.reset(); }

private:
    QByteArray collect(qsizetype count, int quietMs, int timeoutMs);

    FdHandle m_master;
    QString m_slavePath;
};

// What a modal message box showed before the watcher closed it.
struct SeenMessage {
    QString title;
    QString text;
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    QList<QString> buttons;
};

// Closes every modal message box as soon as it shows, remembering what it said.
class ModalWatcher : public QObject
{
public:
    ModalWatcher();
    QList<SeenMessage> messages;

private:
    QTimer m_timer;
};

// A second reader on a port's device, opened before the utility opens it: tells when bytes from
// the unit have reached the port without running the window's events.
struct SlaveProbe : FdHandle {
    explicit SlaveProbe(const QString &path);
    bool waitForBytes(int timeoutMs = 2000) const;
};

// Two upper-case digits and a space per byte, as the sent-data log shows them.
QString hexEcho(const QByteArray &bytes);

// Empty when the sent-data log is the end of the hex echo of wire, everything that reached the
// line: all of it, or cut to its last 380 characters (which may split a byte's digits) and added
// to since.
QString logMismatch(const QString &log, const QByteArray &wire);

// The real window in a child process, driven through its standard input, with its port 1 at
// com1; wrapper is a program, with its arguments, to run it under. The build under test is
// tests/driver or what KV310_TEST_DRIVER names; the native one is always tests/driver.
class DriverProcess : public LineProcess
{
public:
    enum class Build { UnderTest, Native };
    explicit DriverProcess(const QString &com1 = {}, const QStringList &wrapper = {},
                           Build build = Build::UnderTest);

    // Sends a command and waits for its answer, passing over "ready" and the failure boxes told.
    std::optional<QByteArray> ask(const QByteArray &command, int timeoutMs = 8000);
    // Whether a command's answer starts with answer.
    bool expect(const QByteArray &command, const QByteArray &answer)
    {
        return ask(command).value_or(QByteArray()).startsWith(answer);
    }
};

// An environment variable set for as long as this lives, and unset after, however the test ends.
class ScopedEnv
{
public:
    ScopedEnv(const char *name, const QString &value) : m_name(name)
    {
        qputenv(name, value.toLocal8Bit());
    }
    ~ScopedEnv() { qunsetenv(m_name); }
    Q_DISABLE_COPY(ScopedEnv)

private:
    const char *m_name;
};

// The seed of a test's random choices: KV310_FAULT_SEED, or a fresh one. Printed, to replay a run.
quint32 chosenSeed();

// A main window whose port 1 is the slave of a pseudo-terminal (through KV310_COM1, unset again
// when the harness goes).
class WindowHarness
{
public:
    WindowHarness();

    MainWindow &window() { return *m_window; }
    PtyPair &line() { return *m_line; }
    ModalWatcher &modals() { return m_modals; }

    template <typename Control = QAbstractButton> Control *control(const QString &name) const
    {
        return m_window->findChild<Control *>(name);
    }
    MSComm &port() const { return *control<MSComm>(QStringLiteral("MSComm1")); }
    QString logText() const
    {
        return control<QPlainTextEdit>(QStringLiteral("txtSent"))->toPlainText();
    }

    // Clicks a button as the engineer would; false when it is disabled or missing.
    bool click(const QString &name);
    // Opens the chosen port through the toggle; true when the window is in the Open state after.
    bool openPort() { return click(QStringLiteral("cmdCom")) && port().PortOpen(); }
    // What the utility has written once count bytes or more have come, running its events
    // meanwhile; less if 10 s pass first.
    QByteArray wire(qsizetype count);

private:
    std::unique_ptr<PtyPair> m_line = std::make_unique<PtyPair>();
    const ScopedEnv m_com1{"KV310_COM1", m_line->slavePath()};
    // Closes the window's boxes until the window is gone.
    ModalWatcher m_modals;
    std::unique_ptr<MainWindow> m_window;
};

// main() of a test of the window: the application set up as the utility sets it up.
#define KV310_WINDOW_TEST_MAIN(TestObject)                                                         \
    int main(int argc, char *argv[])                                                               \
    {                                                                                              \
        QApplication application(argc, argv);                                                      \
        setUpApplication(application);                                                             \
        TestObject test;                                                                           \
        return QTest::qExec(&test, argc, argv);                                                    \
    }
