#pragma once

#include "CheckOperator.h"

#include <QStringList>

// The operator at a terminal: lines on standard output, answers from standard input.
class ConsoleOperator : public CheckOperator
{
    Q_OBJECT

public:
    enum class TypedAhead {
        Kept,    // a line typed before a prompt answers it
        Dropped, // only a line typed after a prompt answers it
    };

    explicit ConsoleOperator(TypedAhead typedAhead, QObject *parent = nullptr);

    void tell(const QString &line) override;
    void ask(const QString &question) override;
    void askForKey(int key) override;
    std::optional<QString> takeAnswer() override;
    bool inputEnded() const override { return m_inputEnded; }

private:
    const TypedAhead m_typedAhead;
    QStringList m_answers;
    bool m_inputEnded = false;
};
