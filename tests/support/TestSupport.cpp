#include "TestSupport.h"

#include <QApplication>
#include <QDeadlineTimer>
#include <QRandomGenerator>

#include <cerrno>
#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>

static bool ready(int fd, short events, int timeoutMs)
{
    pollfd descriptor{fd, events, 0};
    return ::poll(&descriptor, 1, timeoutMs) > 0 && (descriptor.revents & events);
}

PtyPair::PtyPair() : m_master(posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK))
{
    // A child process must not hold the line open: closing the master must hang it up.
    ::fcntl(masterFd(), F_SETFD, FD_CLOEXEC);
    if (grantpt(masterFd()) == 0 && unlockpt(masterFd()) == 0)
        m_slavePath = QString::fromLocal8Bit(ptsname(masterFd()));
}

QByteArray PtyPair::readWaiting(qsizetype limit)
{
    QByteArray bytes;
    char buffer[4096];
    for (ssize_t count = 1; count > 0 && bytes.size() < limit;) {
        count =
            ::read(masterFd(), buffer, std::min<qsizetype>(sizeof buffer, limit - bytes.size()));
        bytes.append(buffer, qMax<ssize_t>(count, 0));
    }
    return bytes;
}

QByteArray PtyPair::collect(qsizetype count, int quietMs, int timeoutMs)
{
    QByteArray bytes;
    const QDeadlineTimer deadline(timeoutMs);
    while (bytes.size() < count && !deadline.hasExpired() &&
           ready(masterFd(), POLLIN, int(qMin<qint64>(quietMs, deadline.remainingTime())))) {
        const QByteArray more = readWaiting(count - bytes.size());
        if (more.isEmpty())
            break;
        bytes += more;
    }
    return bytes;
}

bool PtyPair::write(const QByteArray &bytes)
{
    qsizetype done = 0;
    const QDeadlineTimer deadline(5000);
    while (masterFd() >= 0 && done < bytes.size() &&
           ready(masterFd(), POLLOUT, int(deadline.remainingTime()))) {
        const ssize_t count = ::write(masterFd(), bytes.constData() + done, bytes.size() - done);
        if (count < 0 && errno != EAGAIN)
            return false;
        done += qMax<ssize_t>(count, 0);
    }
    return done == bytes.size();
}

ModalWatcher::ModalWatcher()
{
    connect(&m_timer, &QTimer::timeout, this, [this] {
        auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
        if (!box || !box->isVisible())
            return;
        SeenMessage seen{box->windowTitle(), box->text(), box->icon(), {}};
        for (const QAbstractButton *button : box->buttons())
            seen.buttons.append(button->text());
        messages.append(seen);
        box->done(QMessageBox::Ok);
    });
    m_timer.start(5);
}

SlaveProbe::SlaveProbe(const QString &path)
    : FdHandle(::open(path.toLocal8Bit().constData(), O_RDONLY | O_NOCTTY | O_NONBLOCK))
{
}

bool SlaveProbe::waitForBytes(int timeoutMs) const
{
    return ready(get(), POLLIN, timeoutMs);
}

QString hexEcho(const QByteArray &bytes)
{
    return QString::fromLatin1(bytes.toHex(' ').toUpper()) +
           (bytes.isEmpty() ? QString() : QStringLiteral(" "));
}

QString logMismatch(const QString &log, const QByteArray &wire)
{
    const QString echo = hexEcho(wire);
    if (echo.right(log.size()) == log && log.size() >= qMin<qsizetype>(echo.size(), 383))
        return {};
    return QStringLiteral("log ...%1\nline ...%2").arg(log.right(90), echo.right(90));
}

// env sets the variables and becomes the driver, so the process id is the driver's.
// KV310_TEST_DRIVER, when set, is a program that starts another build of the driver (the Windows
// one under Wine) and takes the same variables.
DriverProcess::DriverProcess(const QString &com1, const QStringList &wrapper, Build build)
    : LineProcess(
          QStringLiteral("env"),
          QStringList{"KV310_COM1=" + com1,
                      "QT_QPA_PLATFORM=" + qEnvironmentVariable("QT_QPA_PLATFORM", "offscreen")}
              << wrapper
              << (build == Build::Native ? QStringLiteral(KV310_DRIVER_PATH)
                                         : qEnvironmentVariable("KV310_TEST_DRIVER",
                                                                QStringLiteral(KV310_DRIVER_PATH))))
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

quint32 chosenSeed()
{
    const QString chosen = qEnvironmentVariable("KV310_FAULT_SEED");
    const quint32 seed =
        chosen.isEmpty() ? QRandomGenerator::global()->generate() : chosen.toUInt();
    qInfo("random seed %u (KV310_FAULT_SEED)", seed);
    return seed;
}

WindowHarness::WindowHarness()
{
    m_window = std::make_unique<MainWindow>();
    m_window->show();
}

bool WindowHarness::click(const QString &name)
{
    auto *button = control(name);
    if (!button || !button->isEnabled())
        return false;
    QTest::mouseClick(button, Qt::LeftButton);
    return true;
}

QByteArray WindowHarness::wire(qsizetype count)
{
    QByteArray bytes = m_line->readWaiting();
    for (const QDeadlineTimer deadline(10000); bytes.size() < count && !deadline.hasExpired();) {
        QTest::qWait(2);
        bytes += m_line->readWaiting();
    }
    return bytes;
}
