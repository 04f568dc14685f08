#include "HeadlessConsole.h"

#include "Guarded.h"
#include "Simulator.h"

#include <QSocketNotifier>

#include <array>
#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <unistd.h>

namespace
{

// A line this long is not a command; dropping it keeps junk on the input from piling up.
constexpr qsizetype MaxCommandLength = 1024;

QString byteHex(quint8 byte)
{
    return QStringLiteral("%1").arg(byte, 2, 16, QLatin1Char('0')).toUpper();
}

} // namespace

HeadlessConsole::HeadlessConsole(Simulator &simulator, QObject *parent)
    : QObject(parent), m_simulator(simulator), m_out(stdout)
{
    connect(&m_simulator, &Simulator::eventHandled, this, &HeadlessConsole::printEvent);
    connect(&m_simulator, &Simulator::replySent, this,
            [this](quint8 byte) { printLine(QStringLiteral("tx ") + byteHex(byte)); });
}

void HeadlessConsole::start()
{
    if (::fcntl(STDIN_FILENO, F_GETFD) < 0) {
        QMetaObject::invokeMethod(this, &HeadlessConsole::quitRequested, Qt::QueuedConnection);
        return;
    }
    m_inputNotifier = new QSocketNotifier(STDIN_FILENO, QSocketNotifier::Read, this);
    connect(m_inputNotifier, &QSocketNotifier::activated, this,
            [this] { runGuarded("reading commands", [this] { onInputReadable(); }); });
}

void HeadlessConsole::onInputReadable()
{
    std::array<char, 4096> buffer{};
    const ssize_t count = ::read(STDIN_FILENO, buffer.data(), buffer.size());
    if (count < 0 && (errno == EAGAIN || errno == EINTR))
        return;
    if (count <= 0) {
        m_inputNotifier->setEnabled(false);
        emit quitRequested();
        return;
    }
    m_pendingInput.append(buffer.data(), count);
    qsizetype end = 0;
    while ((end = m_pendingInput.indexOf('\n')) >= 0) {
        const QByteArray command = m_pendingInput.left(end);
        m_pendingInput.remove(0, end + 1);
        runCommand(QString::fromUtf8(command).trimmed());
    }
    if (m_pendingInput.size() > MaxCommandLength) {
        std::fprintf(stderr, "error: command too long, ignored\n");
        m_pendingInput.clear();
    }
}

void HeadlessConsole::runCommand(const QString &command)
{
    const QStringList words = command.split(QLatin1Char(' '), Qt::SkipEmptyParts);
    if (words.isEmpty())
        return;
    const QString &verb = words.constFirst();
    if (verb == QLatin1String("quit") && words.size() == 1) {
        emit quitRequested();
    } else if (verb == QLatin1String("show") && words.size() == 1) {
        printScreen();
    } else if (verb == QLatin1String("keys") && words.size() == 2) {
        bool ok = false;
        const uint keys = words.at(1).toUInt(&ok, 16);
        if (!ok || keys > 0xFF) {
            std::fprintf(stderr, "error: keys takes a hex byte, e.g. keys 05\n");
            return;
        }
        m_simulator.setKeys(static_cast<quint8>(keys));
        printLine(QStringLiteral("keys ") + byteHex(m_simulator.model().keys()));
    } else {
        std::fprintf(stderr, "error: unknown command: %s\n", qPrintable(command));
    }
}

void HeadlessConsole::printEvent(const DeviceEvent &event)
{
    printLine(QStringLiteral("rx %1 %2").arg(hexBytes(event.bytes), event.description()));
    if (event.screenChanged)
        printScreen();
}

void HeadlessConsole::printScreen()
{
    for (const QString &line : m_simulator.model().lines())
        printLine(QLatin1Char('|') + line + QLatin1Char('|'));
}

void HeadlessConsole::printLine(const QString &line)
{
    m_out << line << Qt::endl;
}
