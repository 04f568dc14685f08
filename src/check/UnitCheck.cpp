#include "UnitCheck.h"

#include "CheckOperator.h"
#include "LineSession.h"
#include "commands/DisplayCommands.h"
#include "commands/Keypad.h"
#include "link/MSComm.h"

#include <QElapsedTimer>

#include <algorithm>

namespace
{

constexpr int ReplyTimeoutMs = 500;
constexpr int PollIntervalMs = 100;
// Requests in a row that a unit leaves unanswered before it counts as gone.
constexpr int UnansweredLimit = 3;
// A reply's second byte comes a byte's time after its first: 4 ms at 2400 baud.
constexpr int ReplySettleMs = 20;
constexpr int BitsPerByte = 10;
constexpr char Line1[] = "0123456789ABCDEF";
constexpr char Line2[] = "GHIJKLMNOPQRSTUV";

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

const std::vector<UnitCheck::Step> &UnitCheck::steps()
{
    static const std::vector<Step> table = [] {
        std::vector<Step> steps{
            {QStringLiteral("reply"),
             [](UnitCheck &check) {
                 return check.checkReply();
             }},
            {QStringLiteral("rest"),
             [](UnitCheck &check) {
                 return check.checkRest();
             }},
            {QStringLiteral("display"),
             [](UnitCheck &check) {
                 return check.checkDisplay();
             }},
        };
        for (int key = 1; key <= KeyCount; ++key)
            steps.push_back({QStringLiteral("key %1").arg(key), [key](UnitCheck &check) {
                                 return check.checkKey(key);
                             }});
        return steps;
    }();
    return table;
}

QList<CheckStep> unstartedSteps()
{
    QList<CheckStep> steps;
    for (const UnitCheck::Step &definition : UnitCheck::steps()) {
        CheckStep step;
        step.name = definition.name;
        steps.append(step);
    }
    return steps;
}

qint64 UnitCheck::resultLineTimeMs(int rate)
{
    const qsizetype longest = displayText(QStringLiteral("FAIL"), steps().back().name).size();
    return longest * BitsPerByte * 1000 / rate + 1;
}

UnitCheck::UnitCheck(LineSession &session, const CheckSettings &settings)
    : m_session(session), m_settings(settings)
{
}

Verdict UnitCheck::run(QList<CheckStep> &steps)
{
    m_lineFailed = false;
    Verdict verdict = Verdict::Pass;
    for (std::size_t index = 0; index < UnitCheck::steps().size(); ++index) {
        CheckStep &step = steps[qsizetype(index)];
        QElapsedTimer clock;
        clock.start();
        Outcome outcome;
        try {
            outcome = UnitCheck::steps()[index].run(*this);
        } catch (const CommError &error) {
            m_lineFailed = true;
            outcome = {CheckStep::Result::Fail, error.reason()};
        }
        step.ms = clock.elapsed();
        step.result = outcome.result;
        step.detail = outcome.detail;
        m_session.checkOperator().tell(
            QStringLiteral("%1: %2%3")
                .arg(step.name, resultName(step.result),
                     step.detail.isEmpty() ? QString() : QStringLiteral(", ") + step.detail));
        if (step.result == CheckStep::Result::Fail) {
            verdict = Verdict::Fail;
            break;
        }
    }
    showResult(steps);
    return verdict;
}

UnitCheck::Outcome UnitCheck::checkReply()
{
    MSComm &port = m_session.port();
    port.setInBufferCount(0);
    port.setOutput(keyStatusRequest());
    QElapsedTimer clock;
    clock.start();
    while (port.InBufferCount() == 0 && clock.elapsed() < ReplyTimeoutMs)
        m_session.waitFor(ReplyTimeoutMs - clock.elapsed());
    // A unit that answers with more than one byte must not pass because its first came alone.
    if (port.InBufferCount() > 0) {
        const qint64 settled = clock.elapsed() + ReplySettleMs;
        while (clock.elapsed() < settled)
            m_session.waitFor(settled - clock.elapsed());
    }
    const QByteArray reply = port.Input();
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
    m_session.port().setOutput(displayText(QLatin1String(Line1), QLatin1String(Line2)));
    if (!m_settings.confirmDisplay)
        return {CheckStep::Result::NotJudged, {}};
    CheckOperator &checkOperator = m_session.checkOperator();
    checkOperator.ask(QStringLiteral("Do both lines show %1 / %2? [y/n]").arg(Line1, Line2));
    for (;;) {
        const std::optional<QString> answer = m_session.nextAnswer();
        if (!answer) {
            if (m_settings.endOfInputStops)
                throw Stopped{};
            return {CheckStep::Result::Fail, QStringLiteral("no answer")};
        }
        if (isYes(answer))
            return {CheckStep::Result::Pass, {}};
        const QString word = answer->toLower();
        if (word == QLatin1String("n") || word == QLatin1String("no"))
            return {CheckStep::Result::Fail, QStringLiteral("the operator saw otherwise")};
        checkOperator.tell(QStringLiteral("Please answer y or n."));
    }
}

UnitCheck::Outcome UnitCheck::checkKey(int key)
{
    MSComm &port = m_session.port();
    port.setOutput(displayText(QStringLiteral("Press key %1").arg(key)));
    m_session.checkOperator().askForKey(key);
    port.setInBufferCount(0);
    QElapsedTimer clock;
    clock.start();
    qint64 nextRequest = 0;
    qint64 seenMs = -1;
    int unanswered = 0;
    for (;;) {
        const QByteArray replies = port.Input();
        if (!replies.isEmpty())
            unanswered = 0;
        for (const char byte : replies) {
            const auto status = quint8(byte);
            if (const int other = otherKeyDown(status, key))
                return {CheckStep::Result::Fail,
                        QStringLiteral("key %1 went down, not key %2").arg(other).arg(key)};
            const bool down = keysDown(status)[key - 1];
            if (down && seenMs < 0) {
                seenMs = clock.elapsed();
                m_session.checkOperator().tell(QStringLiteral("Key %1 down").arg(key));
            } else if (!down && seenMs >= 0) {
                return {CheckStep::Result::Pass, QStringLiteral("seen after %1 ms").arg(seenMs)};
            }
        }
        if (clock.elapsed() >= m_settings.keyTimeoutMs)
            return {CheckStep::Result::Fail,
                    seenMs < 0 ? QStringLiteral("key %1 not seen within %2 s")
                                     .arg(key)
                                     .arg(m_settings.keyTimeoutMs / 1000.0)
                               : QStringLiteral("key %1 did not come up").arg(key)};
        if (clock.elapsed() >= nextRequest) {
            // A unit that has gone quiet is not waiting for a key: no need to wait the time out.
            if (unanswered >= UnansweredLimit)
                return {CheckStep::Result::Fail, QStringLiteral("the unit stopped answering")};
            port.setOutput(keyStatusRequest());
            ++unanswered;
            nextRequest = std::max(nextRequest + PollIntervalMs, clock.elapsed());
        }
        m_session.waitFor(std::min<qint64>(nextRequest, m_settings.keyTimeoutMs) - clock.elapsed());
    }
}

void UnitCheck::showResult(const QList<CheckStep> &steps)
{
    const auto failed = std::find_if(steps.cbegin(), steps.cend(), [](const CheckStep &step) {
        return step.result == CheckStep::Result::Fail;
    });
    const bool passed = failed == steps.cend();
    try {
        m_session.port().setOutput(passed ? displayText(QStringLiteral("PASS"))
                                          : displayText(QStringLiteral("FAIL"), failed->name));
    } catch (const CommError &) {
        // A unit that has gone shows nothing; the operator is still told.
    }
    m_session.checkOperator().tell(
        passed ? QStringLiteral("PASS")
               : QStringLiteral("FAIL %1: %2").arg(failed->name, failed->detail));
}
