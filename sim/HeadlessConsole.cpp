#include "HeadlessConsole.h"

#include "Guarded.h"
#include "InputLines.h"
#include "Simulator.h"

#include <chrono>
#include <cstdio>

namespace
{

// A line this long is not a command.
constexpr qsizetype MaxCommandLength = 1024;

QString byteHex(quint8 byte)
{
    return hexBytes(QByteArray(1, char(byte)));
}

} // namespace

HeadlessConsole::HeadlessConsole(Simulator &simulator, Stamps stamps, QObject *parent)
    : QObject(parent), m_simulator(simulator), m_stamps(stamps), m_out(stdout)
{
    connect(&m_simulator, &Simulator::eventHandled, this, &HeadlessConsole::printEvent);
    connect(&m_simulator, &Simulator::replySent, this,
            [this](quint8 byte) { printLine(QStringLiteral("tx ") + byteHex(byte)); });
}

void HeadlessConsole::start()
{
    auto *input = new InputLines(MaxCommandLength, this);
    connect(input, &InputLines::ended, this, &HeadlessConsole::quitRequested);
    connect(input, &InputLines::lineTooLong, this,
            [] { std::fprintf(stderr, "error: command too long, ignored\n"); });
    connect(input, &InputLines::lineRead, this, [this](const QByteArray &line) {
        runGuarded("reading commands", [&] { runCommand(QString::fromUtf8(line).trimmed()); });
    });
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
    } else if ((verb == QLatin1String("keys") || verb == QLatin1String("stuck")) &&
               words.size() == 2) {
        bool ok = false;
        const uint keys = words.at(1).toUInt(&ok, 16);
        if (!ok || keys > 0xFF) {
            std::fprintf(stderr, "error: %s takes a hex byte, e.g. %s 05\n", qPrintable(verb),
                         qPrintable(verb));
            return;
        }
        // Answered with the bits in effect: 6 and 7 are ignored.
        if (verb == QLatin1String("keys"))
            m_simulator.setKeys(static_cast<quint8>(keys));
        else
            m_simulator.setStuckKeys(static_cast<quint8>(keys));
        printLine(verb + QLatin1Char(' ') + byteHex(keys & DeviceModel::KeyMask));
    } else if (verb == QLatin1String("mute") && words.size() == 2 &&
               (words.at(1) == QLatin1String("on") || words.at(1) == QLatin1String("off"))) {
        m_simulator.setMuted(words.at(1) == QLatin1String("on"));
        printLine(command);
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
    if (m_stamps == Stamps::Monotonic) {
        const auto now = std::chrono::duration_cast<std::chrono::microseconds>(
            std::chrono::steady_clock::now().time_since_epoch());
        m_out << QStringLiteral("%1.%2 ")
                     .arg(now.count() / 1000000)
                     .arg(now.count() % 1000000, 6, 10, QLatin1Char('0'));
    }
    m_out << line << Qt::endl;
}
