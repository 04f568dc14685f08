#include "TestSupport.h"

#include <QApplication>
#include <QDeadlineTimer>
#include <QElapsedTimer>

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

ModalWatcher::ModalWatcher(QObject *parent) : QObject(parent)
{
    connect(&m_timer, &QTimer::timeout, this, &ModalWatcher::check);
    m_timer.start(5);
}

void ModalWatcher::check()
{
    auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
    if (!box || !box->isVisible())
        return;
    SeenMessage seen{box->windowTitle(), box->text(), box->icon(), {}};
    for (const QAbstractButton *button : box->buttons())
        seen.buttons.append(button->text());
    messages.append(seen);
    box->done(QMessageBox::Ok);
}

SlaveProbe::SlaveProbe(const QString &path)
    : m_fd(::open(path.toLocal8Bit().constData(), O_RDONLY | O_NOCTTY | O_NONBLOCK))
{
}

bool SlaveProbe::waitForBytes(int timeoutMs) const
{
    pollfd descriptor{m_fd.get(), POLLIN, 0};
    return ::poll(&descriptor, 1, timeoutMs) > 0 && (descriptor.revents & POLLIN);
}

QString logMismatch(const QString &log, const QByteArray &wire)
{
    // Two upper-case digits and a space per byte, as the log shows them.
    const QString echo = QString::fromLatin1(wire.toHex(' ').toUpper()) +
                         (wire.isEmpty() ? QString() : QStringLiteral(" "));
    if (echo.right(log.size()) == log && log.size() >= qMin<qsizetype>(echo.size(), 383))
        return {};
    return QStringLiteral("log ...%1\nline ...%2").arg(log.right(90), echo.right(90));
}

namespace
{

QStringList driverCommand(QStringList wrapper)
{
    return wrapper << QStringLiteral(KV310_DRIVER_PATH);
}

} // namespace

DriverProcess::DriverProcess(const QString &com1, const QStringList &wrapper)
    : LineProcess(driverCommand(wrapper).constFirst(), driverCommand(wrapper).mid(1),
                  {QStringLiteral("KV310_COM1=") + com1,
                   QStringLiteral("QT_QPA_PLATFORM=") +
                       qEnvironmentVariable("QT_QPA_PLATFORM", QStringLiteral("offscreen"))})
{
}

std::optional<QByteArray> DriverProcess::ask(const QByteArray &command, int timeoutMs)
{
    send(command);
    const QDeadlineTimer deadline(timeoutMs);
    auto answer = nextLine(timeoutMs);
    while (answer && (answer->startsWith("box ") || *answer == "ready"))
        answer = nextLine(int(deadline.remainingTime()));
    return answer;
}

WindowHarness::WindowHarness() : m_line(std::make_unique<PtyPair>())
{
    qputenv("KV310_COM1", m_line->slavePath().toLocal8Bit());
    m_window = std::make_unique<MainWindow>();
    m_window->show();
}

WindowHarness::~WindowHarness()
{
    m_window.reset();
    qunsetenv("KV310_COM1");
}

bool WindowHarness::click(const QString &name)
{
    auto *button = control(name);
    if (!button || !button->isEnabled())
        return false;
    QTest::mouseClick(button, Qt::LeftButton);
    return true;
}

QByteArray WindowHarness::wire(int quietMs)
{
    QByteArray bytes;
    QElapsedTimer quiet;
    QElapsedTimer total;
    quiet.start();
    total.start();
    // Output that never ends is a fault, and must not stall the test.
    while (quiet.elapsed() < quietMs && total.elapsed() < 10000) {
        QTest::qWait(2);
        const QByteArray more = m_line->readWaiting();
        if (!more.isEmpty()) {
            bytes += more;
            quiet.restart();
        }
    }
    return bytes;
}
