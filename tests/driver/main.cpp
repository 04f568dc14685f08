// The real main window in a real event loop, driven by commands on standard input, one a line.
// Every command is answered with one line on standard output:
//   click NAME    clicks a button; answered once its handler has returned
//   text STRING   sets the text of txtSend
//   close         closes the window, as its title bar would
//   state         whether the port is open and the poll timer runs
//   indicators    what the key indicators show
//   log           the sent-data log's text
// Every message box shown is announced as a "box <text>" line.

#include "Indicators.h"
#include "InputLines.h"
#include "link/MSComm.h"
#include "ui/ApplicationSetup.h"
#include "ui/MainWindow.h"
#include "ui/WindowTrace.h"

#include <QAbstractButton>
#include <QApplication>
#include <QLineEdit>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QTimer>

#include <cstdio>

static void reply(const QString &line)
{
    std::puts(qUtf8Printable(line));
    std::fflush(stdout);
}

class Driver : public QObject
{
public:
    explicit Driver(MainWindow &window) : m_window(window)
    {
        // Queued, so that a command that pauses lets the later ones run in its pauses.
        connect(
            &m_input, &InputLines::lineRead, this,
            [this](const QByteArray &line) { run(QString::fromUtf8(line)); }, Qt::QueuedConnection);
        // Whoever drove us is gone: end as the title bar would.
        connect(&m_input, &InputLines::ended, &window, &QWidget::close);
    }

private:
    void run(const QString &line)
    {
        const QString command = line.section(' ', 0, 0);
        const QString argument = line.section(' ', 1);
        if (command == "click") {
            auto *button = m_window.findChild<QAbstractButton *>(argument);
            if (!button || !button->isEnabled())
                return reply((button ? "disabled " : "error no button ") + argument);
            button->click();
            reply("clicked " + argument);
        } else if (command == "text") {
            m_window.findChild<QLineEdit *>("txtSend")->setText(argument);
            reply("text set");
        } else if (command == "close") {
            m_window.close();
            reply("closed");
        } else if (command == "state") {
            reply(QString("state open=%1 polling=%2")
                      .arg(int(m_window.findChild<MSComm *>("MSComm1")->PortOpen()))
                      .arg(int(m_window.findChild<QTimer *>("tmrPoll")->isActive())));
        } else if (command == "indicators") {
            reply("indicators " + indicators(m_window));
        } else if (command == "log") {
            reply("log " + m_window.findChild<QPlainTextEdit *>("txtSent")->toPlainText());
        } else {
            reply("error unknown command " + command);
        }
    }

    MainWindow &m_window;
    InputLines m_input;
    const MessageBoxWatcher m_boxes{[](const QMessageBox &box) {
        reply("box " + box.text());
    }};
};

int main(int argc, char *argv[])
{
    QApplication application(argc, argv);
    setUpApplication(application);
    MainWindow window;
    // KV310_TRACE traces the line as the utility would, for the benchmarks with a trace.
    traceWindowLine(window, {});
    window.show();
    Driver driver(window);
    QTimer::singleShot(0, &driver, [] { reply("ready"); });
    return application.exec();
}
