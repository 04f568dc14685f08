#pragma once

#include "Indicators.h"
#include "PseudoTerminal.h"
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
#include <QSocketNotifier>
#include <QTest>
#include <QTimer>

#include <memory>

// What a modal message box showed before the watcher closed it: its text, and its title, icon
// and buttons, e.g. "KV310, icon 0, OK".
struct SeenMessage {
    QString text;
    QString frame;
};

// Closes every message box as soon as it shows, remembering what it said.
struct ModalWatcher {
    QList<SeenMessage> messages;
    const MessageBoxWatcher watcher{[this](QMessageBox &box) {
        QStringList frame{box.windowTitle(), "icon " + QString::number(box.icon())};
        for (const QAbstractButton *button : box.buttons())
            frame << button->text().remove('&');
        messages.append({box.text(), frame.join(", ")});
        // Once its own event loop runs.
        QTimer::singleShot(0, &box, [&box] { box.done(QMessageBox::Ok); });
    }};
};

// Ends the test run, naming what, if it is still alive after ms milliseconds of event loops: a
// wait that never returns fails on its own instead of at ctest's timeout.
class Deadline
{
public:
    Deadline(const char *what, int ms = 30000);

private:
    QTimer m_timer;
};

// Reads what reaches the line whenever events run, while this lives; once count bytes have
// come, runs then.
class LineTap
{
public:
    LineTap(PtyPair &line, qsizetype count, const std::function<void()> &then);
    QByteArray bytes;

private:
    QSocketNotifier m_notifier;
};

// A main window whose port 1 is the slave of a pseudo-terminal (through KV310_COM1, unset again
// when the harness goes).
class WindowHarness
{
public:
    MainWindow &window() { return m_window; }
    PtyPair &line() { return m_line; }
    ModalWatcher &modals() { return m_modals; }

    template <typename Control = QAbstractButton> Control *control(const QString &name) const
    {
        return m_window.findChild<Control *>(name);
    }
    MSComm &port() const { return *control<MSComm>(QStringLiteral("MSComm1")); }
    QString logText() const
    {
        return control<QPlainTextEdit>(QStringLiteral("txtSent"))->toPlainText();
    }

    // Clicks a button as the engineer would; false when it is disabled or missing. A handler
    // that has not returned within 30 s ends the run.
    bool click(const QString &name);
    // Opens the chosen port through the toggle; true when the window is in the Open state after.
    bool openPort() { return click(QStringLiteral("cmdCom")) && port().PortOpen(); }
    // What the utility has written once count bytes or more have come, running its events
    // meanwhile; less if 10 s pass first.
    QByteArray wire(qsizetype count);

private:
    PtyPair m_line;
    const ScopedEnv m_com1{"KV310_COM1", m_line.slavePath()};
    // Closes the window's boxes until the window is gone.
    ModalWatcher m_modals;
    MainWindow m_window;
};

// The fixture of every test of the window: a harness of its own for each test function, its
// window shown and active.
class WindowTestCase : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup() { m_harness.reset(); }

protected:
    std::unique_ptr<WindowHarness> m_harness;
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
