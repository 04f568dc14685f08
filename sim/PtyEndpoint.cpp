#include "PtyEndpoint.h"

#include "Guarded.h"

#include <QSocketNotifier>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <stdlib.h>
#include <termios.h>
#include <unistd.h>
#include <utility>

namespace
{

// One read's worth: keeps each turn of the event loop short during a flood.
constexpr qint64 MaxChunk = 4096;
// Replies beyond this are dropped; a real line has nowhere to keep them either.
constexpr qsizetype MaxSendQueue = 4096;
// Batches several bytes per wake-up at 9600 baud without making replies noticeably late.
constexpr int MinReceiveTickMs = 4;
constexpr int MinSendTickMs = 1;
constexpr int HangUpRetryMs = 200;
constexpr int SpeedPollMs = 500;

int baudFromSpeed(speed_t speed)
{
    static constexpr std::array<std::pair<speed_t, int>, 18> rates{{
        {B50, 50},
        {B75, 75},
        {B110, 110},
        {B134, 134},
        {B150, 150},
        {B200, 200},
        {B300, 300},
        {B600, 600},
        {B1200, 1200},
        {B1800, 1800},
        {B2400, 2400},
        {B4800, 4800},
        {B9600, 9600},
        {B19200, 19200},
        {B38400, 38400},
        {B57600, 57600},
        {B115200, 115200},
        {B230400, 230400},
    }};
    const auto found = std::find_if(rates.cbegin(), rates.cend(),
                                    [speed](const auto &rate) { return rate.first == speed; });
    return found == rates.cend() ? 0 : found->second;
}

int msCeil(qint64 ns)
{
    return static_cast<int>((ns + 999'999) / 1'000'000);
}

QString systemError(const QString &what)
{
    return QStringLiteral("%1: %2").arg(what, QString::fromLocal8Bit(std::strerror(errno)));
}

} // namespace

PtyEndpoint::PtyEndpoint(Pacing pacing, QObject *parent) : QObject(parent), m_pacing(pacing)
{
    m_monotonic.start();
    for (QTimer *timer : {&m_receiveTimer, &m_sendTimer, &m_hangUpRetryTimer}) {
        timer->setSingleShot(true);
        timer->setTimerType(Qt::PreciseTimer);
    }
    m_speedPollTimer.setInterval(SpeedPollMs);

    connect(&m_receiveTimer, &QTimer::timeout, this,
            [this] { runGuarded("receiving", [this] { onReceiveTick(); }); });
    connect(&m_sendTimer, &QTimer::timeout, this,
            [this] { runGuarded("sending", [this] { onSendTick(); }); });
    connect(&m_hangUpRetryTimer, &QTimer::timeout, this, [this] {
        if (m_readNotifier)
            m_readNotifier->setEnabled(true);
    });
    connect(&m_speedPollTimer, &QTimer::timeout, this,
            [this] { runGuarded("reading the line speed", [this] { refreshLineSpeed(); }); });
}

bool PtyEndpoint::open()
{
    FdHandle master(::posix_openpt(O_RDWR | O_NOCTTY));
    if (!master.isValid())
        return fail(QStringLiteral("cannot create a pseudo-terminal"));
    if (::grantpt(master.get()) != 0 || ::unlockpt(master.get()) != 0)
        return fail(QStringLiteral("cannot unlock the pseudo-terminal"));
    const int flags = ::fcntl(master.get(), F_GETFL);
    if (flags < 0 || ::fcntl(master.get(), F_SETFL, flags | O_NONBLOCK) != 0 ||
        ::fcntl(master.get(), F_SETFD, FD_CLOEXEC) != 0)
        return fail(QStringLiteral("cannot configure the pseudo-terminal"));

    std::array<char, 128> name{};
    if (::ptsname_r(master.get(), name.data(), name.size()) != 0)
        return fail(QStringLiteral("cannot name the pseudo-terminal"));

    FdHandle slave(::open(name.data(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC));
    if (!slave.isValid())
        return fail(QStringLiteral("cannot open %1").arg(QString::fromLocal8Bit(name.data())));
    termios settings{};
    if (::tcgetattr(slave.get(), &settings) != 0)
        return fail(QStringLiteral("cannot read the line settings"));
    ::cfmakeraw(&settings);
    settings.c_cflag |= CLOCAL | CREAD;
    ::cfsetspeed(&settings, B9600);
    if (::tcsetattr(slave.get(), TCSANOW, &settings) != 0)
        return fail(QStringLiteral("cannot set the line settings"));

    m_master = std::move(master);
    m_slave = std::move(slave);
    m_slavePath = QString::fromLocal8Bit(name.data());

    m_readNotifier = new QSocketNotifier(m_master.get(), QSocketNotifier::Read, this);
    connect(m_readNotifier, &QSocketNotifier::activated, this,
            [this] { runGuarded("reading the line", [this] { onReadable(); }); });
    refreshLineSpeed();
    m_speedPollTimer.start();
    return true;
}

void PtyEndpoint::send(const QByteArray &bytes)
{
    if (!m_master.isValid() || bytes.isEmpty())
        return;
    if (m_pacing == Pacing::Off) {
        writeNow(bytes);
        return;
    }
    const qsizetype room = MaxSendQueue - m_sendQueue.size();
    if (bytes.size() > room)
        qWarning("send queue full, dropping %lld bytes",
                 static_cast<long long>(bytes.size() - room));
    m_sendQueue.append(bytes.left(room));
    if (!m_sendTimer.isActive()) {
        m_sendClock.restart(nowNs(), pacingBaud());
        scheduleSend();
    }
}

bool PtyEndpoint::fail(const QString &what)
{
    m_errorString = systemError(what);
    return false;
}

void PtyEndpoint::onReadable()
{
    if (m_pacing == Pacing::Off) {
        if (readUpTo(MaxChunk) < 0)
            waitAfterHangUp();
        return;
    }
    // From here the clock decides when bytes have crossed the line.
    m_readNotifier->setEnabled(false);
    refreshLineSpeed();
    m_receiveClock.restart(nowNs(), pacingBaud());
    scheduleReceive();
}

void PtyEndpoint::onReceiveTick()
{
    refreshLineSpeed();
    if (pacingBaud() != m_receiveClock.baud())
        m_receiveClock.restart(nowNs(), pacingBaud());

    const qint64 due = std::min(m_receiveClock.bytesDue(nowNs()), MaxChunk);
    if (due > 0) {
        const qint64 got = readUpTo(due);
        if (got < 0) {
            waitAfterHangUp();
            return;
        }
        m_receiveClock.consume(got);
        if (got < due) {
            // The writer has nothing more queued: the line idles until it writes again.
            m_readNotifier->setEnabled(true);
            return;
        }
    }
    scheduleReceive();
}

void PtyEndpoint::onSendTick()
{
    const qint64 due = std::min<qint64>(m_sendClock.bytesDue(nowNs()), m_sendQueue.size());
    if (due > 0) {
        writeNow(m_sendQueue.left(due));
        m_sendQueue.remove(0, due);
        m_sendClock.consume(due);
    }
    if (!m_sendQueue.isEmpty())
        scheduleSend();
}

void PtyEndpoint::scheduleReceive()
{
    const int ms = msCeil(m_receiveClock.nsUntilNextByte(nowNs()));
    m_receiveTimer.start(std::max(ms, MinReceiveTickMs));
}

void PtyEndpoint::scheduleSend()
{
    const int ms = msCeil(m_sendClock.nsUntilNextByte(nowNs()));
    m_sendTimer.start(std::max(ms, MinSendTickMs));
}

qint64 PtyEndpoint::readUpTo(qint64 maxBytes)
{
    QByteArray buffer(maxBytes, Qt::Uninitialized);
    const ssize_t count = ::read(m_master.get(), buffer.data(), static_cast<size_t>(maxBytes));
    if (count < 0)
        return errno == EAGAIN || errno == EINTR ? 0 : -1;
    if (count == 0)
        return -1;
    buffer.truncate(count);
    emit received(buffer);
    return count;
}

void PtyEndpoint::writeNow(const QByteArray &bytes)
{
    const ssize_t count = ::write(m_master.get(), bytes.constData(), bytes.size());
    // Bytes the utility's side cannot take are lost, as on a wire without flow control.
    if (count > 0)
        emit sent(bytes.left(count));
}

void PtyEndpoint::waitAfterHangUp()
{
    m_receiveTimer.stop();
    m_readNotifier->setEnabled(false);
    m_hangUpRetryTimer.start(HangUpRetryMs);
}

void PtyEndpoint::refreshLineSpeed()
{
    // On Linux the master reports the termios the utility set on the slave.
    termios settings{};
    const int baud =
        ::tcgetattr(m_master.get(), &settings) == 0 ? baudFromSpeed(::cfgetospeed(&settings)) : 0;
    if (baud != m_lineSpeed) {
        m_lineSpeed = baud;
        emit lineSpeedChanged(baud);
    }
}
