#include "PtyPair.h"

#include <QElapsedTimer>

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <unistd.h>

PtyPair::PtyPair()
{
    m_master = posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK);
    if (m_master < 0)
        return;
    if (grantpt(m_master) != 0 || unlockpt(m_master) != 0) {
        closeMaster();
        return;
    }
    m_slavePath = QString::fromLocal8Bit(ptsname(m_master));
}

PtyPair::~PtyPair()
{
    closeMaster();
}

void PtyPair::closeMaster()
{
    if (m_master >= 0)
        ::close(m_master);
    m_master = -1;
}

QByteArray PtyPair::readWaiting()
{
    QByteArray bytes;
    char buffer[4096];
    for (;;) {
        const ssize_t count = ::read(m_master, buffer, sizeof buffer);
        if (count <= 0)
            break;
        bytes.append(buffer, count);
    }
    return bytes;
}

QByteArray PtyPair::readAll(int quietMs, int timeoutMs)
{
    QByteArray bytes;
    QElapsedTimer clock;
    clock.start();
    while (m_master >= 0 && clock.elapsed() < timeoutMs) {
        pollfd descriptor{m_master, POLLIN, 0};
        const int ready = ::poll(&descriptor, 1, quietMs);
        if (ready <= 0 || !(descriptor.revents & POLLIN))
            break;
        const QByteArray more = readWaiting();
        if (more.isEmpty())
            break;
        bytes += more;
    }
    return bytes;
}

QByteArray PtyPair::read(int count, int timeoutMs)
{
    QByteArray bytes;
    QElapsedTimer clock;
    clock.start();
    while (m_master >= 0 && bytes.size() < count && clock.elapsed() < timeoutMs) {
        pollfd descriptor{m_master, POLLIN, 0};
        if (::poll(&descriptor, 1, 10) > 0 && (descriptor.revents & POLLIN)) {
            char buffer[4096];
            const ssize_t got =
                ::read(m_master, buffer, std::min<size_t>(sizeof buffer, count - bytes.size()));
            if (got > 0)
                bytes.append(buffer, got);
        }
    }
    return bytes;
}

bool PtyPair::write(const QByteArray &bytes)
{
    qsizetype done = 0;
    QElapsedTimer clock;
    clock.start();
    while (m_master >= 0 && done < bytes.size() && clock.elapsed() < 5000) {
        const ssize_t count = ::write(m_master, bytes.constData() + done, bytes.size() - done);
        if (count > 0) {
            done += count;
        } else if (count < 0 && errno != EAGAIN) {
            return false;
        } else {
            pollfd descriptor{m_master, POLLOUT, 0};
            ::poll(&descriptor, 1, 10);
        }
    }
    return done == bytes.size();
}

termios PtyPair::lineSettings() const
{
    termios settings{};
    if (m_master >= 0)
        tcgetattr(m_master, &settings);
    return settings;
}

int PtyPair::lineSpeed() const
{
    const termios settings = lineSettings();
    switch (cfgetospeed(&settings)) {
    case B2400:
        return 2400;
    case B9600:
        return 9600;
    case B19200:
        return 19200;
    default:
        return 0;
    }
}
