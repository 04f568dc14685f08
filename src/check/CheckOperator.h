#pragma once

#include <QObject>
#include <QString>

#include <optional>

// Whoever runs a check: told what happens, asked yes-or-no questions and to press keys. Answers
// come later, as lines; woken() tells a check that is waiting that one has come, or that no
// more will.
class CheckOperator : public QObject
{
    Q_OBJECT

public:
    using QObject::QObject;

    virtual void tell(const QString &line) = 0;
    // A prompt whose answer is taken with takeAnswer().
    virtual void ask(const QString &question) = 0;
    virtual void askForKey(int key) = 0;
    // The oldest answer not yet taken.
    virtual std::optional<QString> takeAnswer() = 0;
    // No answer will come any more.
    virtual bool inputEnded() const = 0;

signals:
    void woken();
};
