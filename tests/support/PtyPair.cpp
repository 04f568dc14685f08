#include "PtyPair.h"

#include <QElapsedTimer>

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <unistd.h>

namespace
{

bool ready(int fd, short events, int timeoutMs)
{
    pollfd descriptor{fd, events, 0};
    return ::poll(&descriptor, 1, timeoutMs) > 0 && (descriptor.revents & events);
}

} // namespace

PtyPair::PtyPair() : m_master(posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK))
{
    if (grantpt(masterFd()) == 0 && unlockpt(masterFd()) == 0)
        m_slavePath = QString::fromLocal8Bit(ptsname(masterFd()));
    else
        closeMaster();
}

QByteArray PtyPair::readWaiting(qsizetype limit)
{
    QByteArray bytes;
    char buffer[4096];
    for (ssize_t count = 1; count > 0 && bytes.size() < limit;) {
        count =
            ::read(masterFd(), buffer, std::min<qsizetype>(sizeof buffer, limit - bytes.size()));
        if (count > 0)
            bytes.append(buffer, count);
    }
    return bytes;
}

QByteArray PtyPair::collect(qsizetype count, int quietMs, int timeoutMs)
{
    QByteArray bytes;
    QElapsedTimer clock;
    clock.start();
    for (qint64 left = timeoutMs; bytes.size() < count && left > 0;
         left = timeoutMs - clock.elapsed()) {
        const QByteArray more = ready(masterFd(), POLLIN, int(qMin<qint64>(quietMs, left)))
                                    ? readWaiting(count - bytes.size())
                                    : "";
        if (more.isEmpty())
            break;
        bytes += more;
    }
    return bytes;
}

bool PtyPair::write(const QByteArray &bytes)
{
    qsizetype done = 0;
    QElapsedTimer clock;
    clock.start();
    while (isValid() && done < bytes.size() && clock.elapsed() < 5000) {
        const ssize_t count = ::write(masterFd(), bytes.constData() + done, bytes.size() - done);
        if (count > 0)
            done += count;
        else if (errno == EAGAIN)
            ready(masterFd(), POLLOUT, 10);
        else
            return false;
    }
    return done == bytes.size();
}
