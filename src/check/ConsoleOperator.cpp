#include "ConsoleOperator.h"

#include "InputLines.h"
#include "common/CommandLine.h"

namespace
{
// Longer lines are no answer and no serial number; dropping them keeps junk from piling up.
constexpr qsizetype LongestLine = 1024;
} // namespace

ConsoleOperator::ConsoleOperator(TypedAhead typedAhead, QObject *parent)
    : CheckOperator(parent), m_typedAhead(typedAhead)
{
    auto *input = new InputLines(LongestLine, this);
    connect(input, &InputLines::lineRead, this, [this](const QByteArray &line) {
        m_answers.append(QString::fromLocal8Bit(line.trimmed()));
        emit woken();
    });
    connect(input, &InputLines::ended, this, [this] {
        m_inputEnded = true;
        emit woken();
    });
}

void ConsoleOperator::tell(const QString &line)
{
    CommandLine::printLine(line);
}

void ConsoleOperator::ask(const QString &question)
{
    // A scanner's line made while a unit was being tested must not answer what comes next.
    if (m_typedAhead == TypedAhead::Dropped)
        m_answers.clear();
    CommandLine::printLine(question);
}

void ConsoleOperator::askForKey(int key)
{
    ask(QStringLiteral("Press key %1").arg(key));
}

std::optional<QString> ConsoleOperator::takeAnswer()
{
    if (m_answers.isEmpty())
        return std::nullopt;
    return m_answers.takeFirst();
}
