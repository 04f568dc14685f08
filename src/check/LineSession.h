#pragma once

#include <QObject>
#include <QString>

#include <optional>

class CheckOperator;
class MSComm;

// Thrown out of a wait once the session has been stopped (Ctrl+C, SIGTERM), or when the
// operator's input ends where it must not; caught where the check or the shift ends.
struct Stopped {
};

// Whether an answer is the operator's yes (y or yes, in any case); no answer is no.
bool isYes(const std::optional<QString> &answer);

// What a check and a station share while they talk to a unit: the open port, the operator, and
// waits that bytes, answers and a stop cut short.
class LineSession : public QObject
{
    Q_OBJECT

public:
    LineSession(MSComm &port, CheckOperator &checkOperator, QObject *parent = nullptr);

    MSComm &port() const { return m_port; }
    CheckOperator &checkOperator() const { return m_operator; }

    // Ends the session at its next wait.
    void stop(int signalNumber);
    // The signal that stopped the session; 0 when none did.
    int stopSignal() const { return m_stopSignal; }

    // Runs events for up to ms milliseconds, less when bytes come, the operator answers or the
    // session is stopped; throws Stopped once it has been.
    void waitFor(qint64 ms);

    // The operator's next answer, waiting for it as long as it takes; nothing once the input
    // has ended. Throws Stopped as waitFor() does.
    std::optional<QString> nextAnswer();

signals:
    void woken();

private:
    MSComm &m_port;
    CheckOperator &m_operator;
    int m_stopSignal = 0;
};
