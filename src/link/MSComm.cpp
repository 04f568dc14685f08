#include "MSComm.h"

#include <QFileInfo>
#include <QSocketNotifier>
#include <QTimer>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>
#include <utility>

#ifdef Q_OS_UNIX
#include <poll.h>
#include <sys/ioctl.h>
#include <unistd.h>
#endif
#ifdef Q_OS_WIN
#include <qt_windows.h>
#endif

namespace
{

constexpr qint64 ReceiveBufferSize = 1024;

constexpr std::array<qint32, 12> StandardRates{110,  300,   600,   1200,  2400,  4800,
                                               9600, 14400, 19200, 38400, 57600, 115200};

QString defaultDeviceForPort(int port)
{
#ifdef Q_OS_WIN
    return QStringLiteral("COM%1").arg(port);
#else
    return QStringLiteral("/dev/ttyS%1").arg(port - 1);
#endif
}

// QSerialPort's handle: a descriptor on Unix, a HANDLE on Windows.
using PortHandle = decltype(std::declval<const QSerialPort &>().handle());

// The system's own code for the last failure: Windows tells more with it than QSerialPort does.
unsigned long lastSystemError()
{
#ifdef Q_OS_WIN
    return ::GetLastError();
#else
    return 0;
#endif
}

// Maps a failed open onto the component's codes: a missing device, a port somebody else holds.
int openErrorCode(QSerialPort::SerialPortError error, const QString &reason,
                  unsigned long systemError)
{
#ifdef Q_OS_WIN
    // Workaround (Qt Serial Port 6.4.3 for Windows, Wine 8.0 too): these come as UnknownError.
    switch (systemError) {
    case ERROR_INVALID_FUNCTION: // the name leads to something that is no serial port
    case ERROR_GEN_FAILURE:      // a USB adapter that has been unplugged
    case ERROR_DEV_NOT_EXIST:
    case ERROR_BAD_UNIT:
        return CommErrorCode::InvalidPortNumber;
    case ERROR_SHARING_VIOLATION:
    case ERROR_BUSY:
    case ERROR_LOCK_VIOLATION: // Wine: a terminal that another program holds exclusively
        return CommErrorCode::PortInUse;
    default:
        break;
    }
#else
    Q_UNUSED(systemError);
#endif
    switch (error) {
    case QSerialPort::DeviceNotFoundError:
    case QSerialPort::ResourceError: // a node with no hardware behind it answers EIO
        return CommErrorCode::InvalidPortNumber;
    case QSerialPort::PermissionError:
    case QSerialPort::OpenError:
        return CommErrorCode::PortInUse;
    default:
        if (reason == QString::fromLocal8Bit(std::strerror(ENXIO)))
            return CommErrorCode::InvalidPortNumber;
        return CommErrorCode::CannotSetCommState;
    }
}

// What a command on a line that hung up is told, whichever way the hang-up was noticed.
QString hangUpReason()
{
    return MSComm::tr("The device is no longer connected");
}

// Workaround (Qt Serial Port 6.4.3 for Windows; 109 under Wine 8.0): only their text is kept.
// The Windows error codes that, on a port that was open and working, mean its device has gone:
// what USB adapters' drivers (5, 31) and the system (21, 22, 995, 1167, 1617) report then, and
// what Wine reports when the terminal behind the port hangs up (109, a broken pipe).
constexpr std::array<int, 8> DeviceGoneErrors{5, 21, 22, 31, 109, 995, 1167, 1617};

// Why a port that was in use failed, in the same words whichever way the device went. On
// Windows QSerialPort keeps no code of a failure that it is told of asynchronously, only the
// system's text for it: the code is found by that text.
QString failureReason(const QSerialPort &serial)
{
    const QString reason = serial.errorString();
#ifdef Q_OS_WIN
    if (std::any_of(DeviceGoneErrors.begin(), DeviceGoneErrors.end(),
                    [&reason](int code) { return reason == qt_error_string(code); }))
        return hangUpReason();
#endif
    return reason;
}

// True once the device has hung up or its handle is no longer usable.
bool lineHasGone(PortHandle handle)
{
#ifdef Q_OS_UNIX
    pollfd descriptor{int(handle), POLLIN, 0};
    return ::poll(&descriptor, 1, 0) < 0 || (descriptor.revents & (POLLHUP | POLLERR | POLLNVAL));
#else
    Q_UNUSED(handle);
    return true;
#endif
}

} // namespace

MSComm::MSComm(QObject *parent) : QObject(parent)
{
    m_serial.setReadBufferSize(ReceiveBufferSize);
    connect(&m_serial, &QSerialPort::readyRead, this, &MSComm::onReadyRead);
    connect(&m_serial, &QSerialPort::errorOccurred, this, &MSComm::onErrorOccurred);
}

MSComm::~MSComm() = default;

QString MSComm::devicePathForPort(int port)
{
    const QString configured = qEnvironmentVariable(port == 1 ? "KV310_COM1" : "KV310_COM2");
    return configured.isEmpty() ? defaultDeviceForPort(port) : configured;
}

void MSComm::setPortOpen(bool open)
{
    if (!open) {
        qint64 dropped = 0;
        if (m_serial.isOpen()) {
            traceArrivals();
            // After a failure the loss has been told already.
            dropped = m_failure.isEmpty() ? unsentOutput() : 0;
            // Unsent bytes are dropped: closing a real port with output pending can block in
            // the driver for many seconds.
            m_serial.clear(QSerialPort::Output);
            closeDevice();
        }
        const bool wasOpen = m_portOpen;
        m_portOpen = false;
        m_failure.clear();
        if (dropped > 0)
            dropOutput(dropped, tr("the port was closed"));
        if (wasOpen)
            note(QStringLiteral("close"));
        return;
    }
    if (m_portOpen)
        throw CommError(CommErrorCode::PortInUse, tr("Port already open"));

    const QString configuredPath = deviceName();
    const QString opening = QStringLiteral("open %1 %2,N,8,1").arg(configuredPath).arg(m_baudRate);
    QFileInfo info(configuredPath);
#ifndef Q_OS_WIN
    if (!info.exists()) {
        const QString reason = QString::fromLocal8Bit(std::strerror(ENOENT));
        note(opening + QStringLiteral(" failed: ") + reason);
        throw CommError(CommErrorCode::InvalidPortNumber, reason);
    }
#endif
    // One lock file per device, whichever link names it.
    const QString canonical = info.canonicalFilePath();
    m_serial.setPortName(canonical.isEmpty() ? configuredPath : canonical);
    m_serial.setBaudRate(m_baudRate);
    m_serial.setDataBits(QSerialPort::Data8);
    m_serial.setParity(QSerialPort::NoParity);
    m_serial.setStopBits(QSerialPort::OneStop);
    m_serial.setFlowControl(QSerialPort::NoFlowControl);
    m_serial.clearError();
    if (!m_serial.open(QIODevice::ReadWrite)) {
        const unsigned long systemError = lastSystemError();
        const QString reason = m_serial.errorString();
        const int code = openErrorCode(m_serial.error(), reason, systemError);
        m_serial.clearError();
        note(opening + QStringLiteral(" failed: ") + reason);
        throw CommError(code, reason);
    }
    m_portOpen = true;
    m_failure.clear();
    m_commEvent = 0;
    m_tracedWaiting = 0;
    // The device as named and, behind a link, as opened: /dev/serial/by-id/... and ttyUSB0.
    note(canonical.isEmpty() || canonical == configuredPath
             ? opening
             : opening + QStringLiteral(" (%1)").arg(canonical));
#ifdef Q_OS_UNIX
    // Workaround (Qt 6.4.2 and 6.8.2): no signal tells of a hang-up; 6.8 spins on the dead line.
    // A hung-up terminal polls as readable and in error for ever. Qt 6.4 reports the read of
    // nothing that follows as a read error; Qt 6.8's QSerialPort reads nothing, says nothing and
    // is woken again at once, taking a whole core. The exception notifier is woken by
    // the same hang-up (POLLHUP and POLLERR), never by data, and is the only one on the handle.
    m_hangUpWatch =
        std::make_unique<QSocketNotifier>(m_serial.handle(), QSocketNotifier::Exception);
    connect(m_hangUpWatch.get(), &QSocketNotifier::activated, this, &MSComm::onHangUp);
#endif
}

void MSComm::setCommPort(qint16 port)
{
    if (m_portOpen)
        throw CommError(CommErrorCode::PortInUse, tr("Port already open"));
    if (port != 1 && port != 2)
        throw CommError(CommErrorCode::InvalidPortNumber, tr("Invalid port number"));
    m_commPort = port;
}

void MSComm::setDeviceName(const QString &name)
{
    if (m_portOpen)
        throw CommError(CommErrorCode::PortInUse, tr("Port already open"));
    m_deviceName = name;
}

QString MSComm::deviceName() const
{
    return m_deviceName.isEmpty() ? devicePathForPort(m_commPort) : m_deviceName;
}

void MSComm::setSettings(const QString &settings)
{
    if (m_portOpen)
        throw CommError(CommErrorCode::PortInUse, tr("Port already open"));
    const QStringList fields = settings.split(QLatin1Char(','));
    bool rateIsNumber = false;
    const qint32 rate = fields.value(0).trimmed().toInt(&rateIsNumber);
    const bool valid =
        fields.size() == 4 && rateIsNumber &&
        std::find(StandardRates.begin(), StandardRates.end(), rate) != StandardRates.end() &&
        fields[1].trimmed().compare(QLatin1String("N"), Qt::CaseInsensitive) == 0 &&
        fields[2].trimmed() == QLatin1String("8") && fields[3].trimmed() == QLatin1String("1");
    if (!valid)
        throw CommError(CommErrorCode::InvalidPropertyValue, tr("Invalid property value"));
    m_baudRate = rate;
}

void MSComm::setRThreshold(qint16 threshold)
{
    if (threshold < 0)
        throw CommError(CommErrorCode::InvalidPropertyValue, tr("Invalid property value"));
    m_rThreshold = threshold;
}

void MSComm::throwIfUnusable() const
{
    if (!m_portOpen)
        throw CommError(CommErrorCode::PortNotOpen,
                        tr("Operation valid only when the port is open"));
    if (!m_failure.isEmpty())
        throw CommError(CommErrorCode::WriteFailed, m_failure);
}

void MSComm::setOutput(const QByteArray &bytes)
{
    try {
        throwIfUnusable();
    } catch (const CommError &error) {
        if (!bytes.isEmpty())
            note(QStringLiteral("%1 bytes not sent: %2").arg(bytes.size()).arg(error.reason()));
        throw;
    }
    if (bytes.isEmpty())
        return;
    if (m_trace)
        m_trace->sent(bytes);
    if (m_serial.write(bytes) != bytes.size()) {
        fail(failureReason(m_serial));
        throw CommError(CommErrorCode::WriteFailed, m_failure);
    }
    // Hand the bytes to the driver now, as far as it takes them; the rest drains in the
    // background without holding up the window.
    m_serial.flush();
    // A device that vanished is only noticed by this write: it must not pass for sent.
    if (!m_failure.isEmpty())
        throw CommError(CommErrorCode::WriteFailed, m_failure);
}

qint16 MSComm::InBufferCount() const
{
    if (!m_portOpen || !m_serial.isOpen())
        return 0;
    return static_cast<qint16>(qMin<qint64>(m_serial.bytesAvailable(), ReceiveBufferSize));
}

void MSComm::setInBufferCount(qint16 count)
{
    if (count != 0)
        throw CommError(CommErrorCode::InvalidPropertyValue, tr("Invalid property value"));
    if (!m_portOpen)
        throw CommError(CommErrorCode::PortNotOpen,
                        tr("Operation valid only when the port is open"));
    if (!m_serial.isOpen())
        return;
    if (!m_trace) {
        m_serial.clear(QSerialPort::Input);
        m_serial.readAll();
        return;
    }
    traceArrivals();
    const qint64 discarded = m_serial.readAll().size() + drainTraced();
    m_tracedWaiting = 0;
    if (discarded > 0)
        note(QStringLiteral("%1 bytes discarded").arg(discarded));
}

QByteArray MSComm::Input()
{
    if (!m_portOpen)
        throw CommError(CommErrorCode::PortNotOpen,
                        tr("Operation valid only when the port is open"));
    if (!m_serial.isOpen())
        return {};
    traceArrivals();
    const QByteArray bytes = m_serial.read(ReceiveBufferSize);
    m_tracedWaiting = std::max<qint64>(0, m_tracedWaiting - bytes.size());
#ifdef Q_OS_WIN
    // Workaround (Qt Serial Port 6.4.3 under Wine 8.0): reading stops after the first Input().
    // QSerialPort on Windows starts no new read from inside read() while its buffer is limited:
    // QIODevice has reserved room in that buffer for the read then, and the port takes it as
    // full. Its other way to read on, the wait for a received character, never ends under Wine,
    // and reading would stop there. Setting the size again starts a read.
    m_serial.setReadBufferSize(ReceiveBufferSize);
#endif
    return bytes;
}

qint64 MSComm::unsentOutput() const
{
    qint64 unsent = m_serial.isOpen() ? m_serial.bytesToWrite() : 0;
#ifdef Q_OS_UNIX
    // What the driver still holds; a pseudo-terminal's reader has it already and reports 0.
    int queued = 0;
    if (m_serial.isOpen() && ::ioctl(int(m_serial.handle()), TIOCOUTQ, &queued) == 0)
        unsent += queued;
#endif
    return unsent;
}

void MSComm::fail(const QString &reason)
{
    if (!m_failure.isEmpty())
        return;
    m_failure = reason;
    note(QStringLiteral("failed: ") + reason);
    const qint64 dropped = unsentOutput();
    stopListening();
    if (dropped > 0)
        dropOutput(dropped, reason);
}

void MSComm::dropOutput(qint64 count, const QString &reason)
{
    note(QStringLiteral("%1 bytes not sent: %2").arg(count).arg(reason));
    emit outputDropped(count);
}

void MSComm::note(const QString &text) const
{
    if (m_trace)
        m_trace->note(text);
}

void MSComm::traceArrivals()
{
    if (!m_trace || !m_serial.isOpen())
        return;
    const qint64 waiting = m_serial.bytesAvailable();
    if (waiting > m_tracedWaiting)
        m_trace->received(m_serial.peek(waiting).mid(m_tracedWaiting));
    m_tracedWaiting = waiting;
}

qint64 MSComm::drainTraced()
{
#ifdef Q_OS_UNIX
    // Read rather than flushed, so that no byte is discarded before the trace has it; the
    // descriptor is non-blocking, so this ends with what the driver holds now.
    qint64 drained = 0;
    std::array<char, ReceiveBufferSize> chunk;
    for (;;) {
        const ssize_t count = ::read(int(m_serial.handle()), chunk.data(), chunk.size());
        if (count <= 0)
            return drained;
        m_trace->received(QByteArray(chunk.data(), count));
        drained += count;
    }
#else
    m_serial.clear(QSerialPort::Input);
    return 0;
#endif
}

void MSComm::onReadyRead()
{
    traceArrivals();
    if (m_rThreshold < 1 || m_serial.bytesAvailable() < m_rThreshold)
        return;
    m_commEvent = ComEvReceive;
    emit OnComm();
}

void MSComm::onErrorOccurred(QSerialPort::SerialPortError error)
{
    if (error == QSerialPort::NoError || !m_portOpen || !m_failure.isEmpty())
        return;
    // Workaround (Qt 6.4.2 only): an emptied buffer gives a stale-errno read error; reading stops.
    // Open failures are reported by setPortOpen itself; these arrive while the port is in use.
    // Two of them come from a line that is fine, and must not end its use:
    // - a read of nothing, when the receive buffer was emptied (a click) between the notice that
    //   bytes had come and their reading: Qt 6.4 names it after a stale errno and stops reading
    //   (Qt 6.8 reads nothing and says nothing);
    // - a write that meets a full line (EAGAIN), as a command clicked while a long text drains
    //   does: a ResourceError on Qt 6.4 and 6.8 alike, though the rest goes out as the line
    //   empties.
    // A line that has not hung up is fine: listen on.
    const bool readFailed = error == QSerialPort::ReadError || error == QSerialPort::ResourceError;
    if (readFailed && !lineHasGone(m_serial.handle())) {
        m_serial.clearError();
        QTimer::singleShot(0, this, [this] {
            char next;
            if (m_portOpen && m_failure.isEmpty() && m_serial.isOpen())
                m_serial.peek(&next, 1); // wakes reading again on Qt 6.4
        });
        return;
    }
    const QString reason = failureReason(m_serial);
    if (readFailed || reason == hangUpReason())
        fail(hangUpReason());
    else if (error == QSerialPort::WriteError)
        fail(reason);
    else {
        m_failure = reason;
        note(QStringLiteral("failed: ") + reason);
    }
}

void MSComm::onHangUp()
{
    if (!lineHasGone(m_serial.handle()))
        return;
    m_hangUpWatch->setEnabled(false);
    if (m_portOpen && m_failure.isEmpty())
        fail(hangUpReason());
}

// The notifier goes before the descriptor it watches.
void MSComm::closeDevice()
{
    m_hangUpWatch.reset();
    if (m_serial.isOpen())
        m_serial.close();
}

// A device that has gone keeps signalling errors in a tight loop; close the handle, but leave
// PortOpen as it is: opening and closing belong to the connection toggle.
void MSComm::stopListening()
{
    // Closing from inside QSerialPort's notification, or the hang-up notifier's, would delete the
    // notifier that is signalling: let it return first.
    QTimer::singleShot(0, this, [this] {
        if (m_portOpen && !m_failure.isEmpty())
            closeDevice();
    });
}
