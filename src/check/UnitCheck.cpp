#include "UnitCheck.h"

#include "InputLines.h"
#include "commands/DisplayCommands.h"
#include "commands/Keypad.h"
#include "link/PortConnection.h"

#include <QElapsedTimer>
#include <QEventLoop>
#include <QTimer>

#include <algorithm>
#include <cstdio>

namespace
{

constexpr int ReplyTimeoutMs = 500;
constexpr int PollIntervalMs = 100;
constexpr int DrainTimeoutMs = 2000;
constexpr char Line1[] = "0123456789ABCDEF";
constexpr char Line2[] = "GHIJKLMNOPQRSTUV";

// Thrown out of a wait once the check has been stopped; caught where the check ends.
struct Stopped {
};

// The first key other than key that a status byte shows down; 0 when none is.
int otherKeyDown(quint8 status, int key)
{
    const auto down = keysDown(status);
    for (int index = 0; index < KeyCount; ++index) {
        if (down[index] && index + 1 != key)
            return index + 1;
    }
    return 0;
}

QByteArray displayText(const QString &line1, const QString &line2 = {})
{
    QByteArray text = clearCommand() + homeCommand() + line1.left(16).toLatin1();
    if (!line2.isEmpty())
        text += newLineCommand() + line2.left(16).toLatin1();
    return text;
}

} // namespace

void say(const QString &line)
{
    std::fputs(qPrintable(line + QLatin1Char('\n')), stdout);
    std::fflush(stdout);
}

UnitCheck::UnitCheck(const CheckOptions &options, QObject *parent)
    : QObject(parent), m_options(options)
{
    auto *input = new InputLines(1024, this);
    connect(input, &InputLines::lineRead, this, [this](const QByteArray &line) {
        m_answers.append(line.trimmed());
        emit woken();
    });
    connect(input, &InputLines::ended, this, [this] {
        m_inputEnded = true;
        emit woken();
    });
}

void UnitCheck::stop(int signalNumber)
{
    if (m_stopSignal == 0)
        m_stopSignal = signalNumber;
    emit woken();
}

void UnitCheck::waitFor(qint64 ms)
{
    if (m_stopSignal == 0 && ms > 0) {
        QEventLoop loop;
        connect(&m_port, &MSComm::OnComm, &loop, &QEventLoop::quit);
        connect(this, &UnitCheck::woken, &loop, &QEventLoop::quit);
        QTimer::singleShot(int(ms), Qt::PreciseTimer, &loop, &QEventLoop::quit);
        loop.exec();
    }
    if (m_stopSignal != 0)
        throw Stopped{};
}

void UnitCheck::openPort()
{
    bool isNumber = false;
    const int number = m_options.port.toInt(&isNumber);
    const bool numbered = isNumber && (number == 1 || number == 2);
    ::openPort(m_port, {qint16(numbered ? number : 1), numbered ? QString() : m_options.port,
                        m_options.rate});
}

CheckRecord UnitCheck::run()
{
    CheckRecord record;
    record.unit = m_options.unit;
    record.port = m_options.port;
    record.rate = m_options.rate;
    record.started = QDateTime::currentDateTimeUtc();
    record.steps = unstartedSteps();
    try {
        openPort();
    } catch (const CommError &error) {
        QString message = connectionFailureMessage(error.code(), m_options.port);
        if (message.isEmpty())
            message =
                QStringLiteral("Port %1 cannot be opened: %2").arg(m_options.port, error.reason());
        say(message);
        record.device = m_port.deviceName();
        record.verdict = Verdict::Error;
        record.finished = QDateTime::currentDateTimeUtc();
        return record;
    }
    record.device = m_port.deviceName();
    say(QStringLiteral("Checking unit %1 on %2 at %3 baud")
            .arg(m_options.unit.isEmpty() ? QStringLiteral("(unnamed)") : m_options.unit,
                 record.device)
            .arg(m_options.rate));
    record.verdict = Verdict::Pass;
    try {
        for (int index = 0; index < record.steps.size(); ++index) {
            CheckStep &step = record.steps[index];
            QElapsedTimer clock;
            clock.start();
            const Outcome outcome = runStep(index);
            step.ms = clock.elapsed();
            step.result = outcome.result;
            step.detail = outcome.detail;
            say(QStringLiteral("%1: %2%3")
                    .arg(step.name, resultName(step.result),
                         step.detail.isEmpty() ? QString() : QStringLiteral(", ") + step.detail));
            if (step.result == CheckStep::Result::Fail) {
                record.verdict = Verdict::Fail;
                break;
            }
        }
        showResult(record);
        // Closing drops what the line has not sent yet.
        QElapsedTimer clock;
        clock.start();
        while (m_port.OutBufferCount() > 0 && clock.elapsed() < DrainTimeoutMs)
            waitFor(10);
    } catch (const Stopped &) {
        record.verdict = Verdict::Aborted;
        say(QStringLiteral("ABORTED"));
    }
    m_port.setPortOpen(false);
    record.finished = QDateTime::currentDateTimeUtc();
    return record;
}

UnitCheck::Outcome UnitCheck::runStep(int index)
{
    try {
        switch (index) {
        case 0:
            return checkReply();
        case 1:
            return checkRest();
        case 2:
            return checkDisplay();
        default:
            return checkKey(index - 2);
        }
    } catch (const CommError &error) {
        return {CheckStep::Result::Fail, error.reason()};
    }
}

UnitCheck::Outcome UnitCheck::checkReply()
{
    m_port.setInBufferCount(0);
    m_port.setOutput(keyStatusRequest());
    QElapsedTimer clock;
    clock.start();
    while (m_port.InBufferCount() == 0 && clock.elapsed() < ReplyTimeoutMs)
        waitFor(ReplyTimeoutMs - clock.elapsed());
    const QByteArray reply = m_port.Input();
    if (reply.isEmpty())
        return {CheckStep::Result::Fail,
                QStringLiteral("no reply from the unit (port, rate or cable)")};
    if (reply.size() != 1)
        return {CheckStep::Result::Fail,
                QStringLiteral("%1 bytes in reply, 1 expected").arg(reply.size())};
    m_firstStatus = quint8(reply.front());
    return {CheckStep::Result::Pass, {}};
}

UnitCheck::Outcome UnitCheck::checkRest() const
{
    if (const int key = otherKeyDown(m_firstStatus, 0))
        return {CheckStep::Result::Fail,
                QStringLiteral("key %1 is down before any was pressed").arg(key)};
    return {CheckStep::Result::Pass, {}};
}

UnitCheck::Outcome UnitCheck::checkDisplay()
{
    m_port.setOutput(displayText(QLatin1String(Line1), QLatin1String(Line2)));
    if (!m_options.confirmDisplay)
        return {CheckStep::Result::NotJudged, {}};
    say(QStringLiteral("Do both lines show %1 / %2? [y/n]").arg(Line1, Line2));
    for (;;) {
        while (m_answers.isEmpty() && !m_inputEnded)
            waitFor(60000);
        if (m_answers.isEmpty())
            return {CheckStep::Result::Fail, QStringLiteral("no answer")};
        const QString answer = QString::fromLocal8Bit(m_answers.takeFirst()).toLower();
        if (answer == QLatin1String("y") || answer == QLatin1String("yes"))
            return {CheckStep::Result::Pass, {}};
        if (answer == QLatin1String("n") || answer == QLatin1String("no"))
            return {CheckStep::Result::Fail, QStringLiteral("the operator saw otherwise")};
        say(QStringLiteral("Please answer y or n."));
    }
}

UnitCheck::Outcome UnitCheck::checkKey(int key)
{
    const QString prompt = QStringLiteral("Press key %1").arg(key);
    m_port.setOutput(displayText(prompt));
    say(prompt);
    m_port.setInBufferCount(0);
    QElapsedTimer clock;
    clock.start();
    qint64 nextRequest = 0;
    qint64 seenMs = -1;
    for (;;) {
        for (const char byte : m_port.Input()) {
            const auto status = quint8(byte);
            if (const int other = otherKeyDown(status, key))
                return {CheckStep::Result::Fail,
                        QStringLiteral("key %1 went down, not key %2").arg(other).arg(key)};
            const bool down = keysDown(status)[key - 1];
            if (down && seenMs < 0) {
                seenMs = clock.elapsed();
                say(QStringLiteral("Key %1 down").arg(key));
            } else if (!down && seenMs >= 0) {
                return {CheckStep::Result::Pass, QStringLiteral("seen after %1 ms").arg(seenMs)};
            }
        }
        if (clock.elapsed() >= m_options.keyTimeoutMs)
            return {CheckStep::Result::Fail,
                    seenMs < 0 ? QStringLiteral("key %1 not seen within %2 s")
                                     .arg(key)
                                     .arg(m_options.keyTimeoutMs / 1000.0)
                               : QStringLiteral("key %1 did not come up").arg(key)};
        if (clock.elapsed() >= nextRequest) {
            m_port.setOutput(keyStatusRequest());
            nextRequest = std::max(nextRequest + PollIntervalMs, clock.elapsed());
        }
        waitFor(std::min<qint64>(nextRequest, m_options.keyTimeoutMs) - clock.elapsed());
    }
}

void UnitCheck::showResult(const CheckRecord &record)
{
    const auto failed =
        std::find_if(record.steps.cbegin(), record.steps.cend(),
                     [](const CheckStep &step) { return step.result == CheckStep::Result::Fail; });
    const bool passed = failed == record.steps.cend();
    try {
        m_port.setOutput(passed ? displayText(QStringLiteral("PASS"))
                                : displayText(QStringLiteral("FAIL"), failed->name));
    } catch (const CommError &) {
        // A unit that has gone shows nothing; the terminal still does.
    }
    say(passed ? QStringLiteral("PASS")
               : QStringLiteral("FAIL %1: %2").arg(failed->name, failed->detail));
}
