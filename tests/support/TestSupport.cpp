#include "TestSupport.h"

#include "link/Transmit.h"

#include <QApplication>
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

SlaveProbe::~SlaveProbe()
{
    if (m_fd >= 0)
        ::close(m_fd);
}

bool SlaveProbe::waitForBytes(int timeoutMs) const
{
    pollfd descriptor{m_fd, POLLIN, 0};
    return m_fd >= 0 && ::poll(&descriptor, 1, timeoutMs) > 0 && (descriptor.revents & POLLIN);
}

QString logMismatch(const QString &log, const QByteArray &wire)
{
    const QString echo = hexEcho(wire);
    if (echo.endsWith(log) && log.size() >= qMin<qsizetype>(echo.size(), 383))
        return {};
    return QStringLiteral("log ...%1\nline ...%2").arg(log.right(90), echo.right(90));
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
    while (quiet.elapsed() < quietMs && total.elapsed() < 60000) {
        QTest::qWait(2);
        const QByteArray more = m_line->readWaiting();
        if (!more.isEmpty()) {
            bytes += more;
            quiet.restart();
        }
    }
    return bytes;
}
