#include "PseudoTerminal.h"

#include <QDeadlineTimer>

#include <cerrno>
#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <termios.h>

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

SlaveProbe::SlaveProbe(const QString &path)
    : FdHandle(::open(path.toLocal8Bit().constData(), O_RDONLY | O_NOCTTY | O_NONBLOCK))
{
}

bool SlaveProbe::waitForBytes(int timeoutMs) const
{
    return ready(get(), POLLIN, timeoutMs);
}

QString lineSettings(int fd)
{
    termios settings{};
    if (::tcgetattr(fd, &settings) != 0)
        return QStringLiteral("unreadable");
    const speed_t speed = cfgetospeed(&settings);
    const int rate = speed == B2400 ? 2400 : speed == B9600 ? 9600 : 0;
    const bool eightN1 = (settings.c_cflag & (CSIZE | PARENB | CSTOPB)) == CS8;
    return QStringLiteral("%1 %2").arg(rate).arg(eightN1 ? "8N1" : "other");
}

QString logMismatch(const QString &log, const QByteArray &wire)
{
    QString echo;
    for (const char byte : wire)
        echo += QStringLiteral("%1 ").arg(quint8(byte), 2, 16, QLatin1Char('0')).toUpper();
    if (echo.right(log.size()) == log && log.size() >= qMin<qsizetype>(echo.size(), 383))
        return {};
    return QStringLiteral("log ...%1\nline ...%2").arg(log.right(90), echo.right(90));
}

QList<QByteArray> Wire::rippleWrites()
{
    const QByteArray afterPass[] = {"\x0a", Home, "\x0a", Home};
    QList<QByteArray> writes{"\x0c"};
    for (int pass = 0; pass < 4; ++pass) {
        for (int position = 0; position < 17; ++position)
            writes.append(QByteArray(1, pass < 2 ? '\xff' : ' '));
        writes.append(afterPass[pass]);
    }
    return writes;
}
