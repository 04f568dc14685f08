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

namespace
{

void reply(const QString &line)
{
    std::puts(qUtf8Printable(line));
    std::fflush(stdout);
}

QString run(MainWindow &window, const QString &line)
{
    const QString command = line.section(' ', 0, 0);
    const QString argument = line.section(' ', 1);
    if (command == "click") {
        auto *button = window.findChild<QAbstractButton *>(argument);
        if (!button || !button->isEnabled())
            return (button ? "disabled " : "error no button ") + argument;
        button->click();
        return "clicked " + argument;
    }
    if (command == "text") {
        window.findChild<QLineEdit *>("txtSend")->setText(argument);
        return "text set";
    }
    if (command == "close") {
        window.close();
        return "closed";
    }
    if (command == "state")
        return QString("state open=%1 polling=%2")
            .arg(int(window.findChild<MSComm *>("MSComm1")->PortOpen()))
            .arg(int(window.findChild<QTimer *>("tmrPoll")->isActive()));
    if (command == "indicators")
        return "indicators " + indicators(window);
    if (command == "log")
        return "log " + window.findChild<QPlainTextEdit *>("txtSent")->toPlainText();
    return "error unknown command " + command;
}

} // namespace

int main(int argc, char *argv[])
{
    QApplication application(argc, argv);
    setUpApplication(application);
    MainWindow window;
    // KV310_TRACE traces the line as the utility would, for the benchmarks with a trace.
    traceWindowLine(window, {});
    window.show();
    const MessageBoxWatcher boxes([](const QMessageBox &box) { reply("box " + box.text()); });
    InputLines input;
    // Queued, so that a command that pauses lets the later ones run in its pauses.
    QObject::connect(
        &input, &InputLines::lineRead, &window,
        [&window](const QByteArray &line) { reply(run(window, QString::fromUtf8(line))); },
        Qt::QueuedConnection);
    // Whoever drove us is gone: end as the title bar would.
    QObject::connect(&input, &InputLines::ended, &window, &QWidget::close);
    QTimer::singleShot(0, &window, [] { reply("ready"); });
    return application.exec();
}
