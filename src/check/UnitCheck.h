#pragma once

#include "CheckReport.h"
#include "link/MSComm.h"

#include <QByteArrayList>
#include <QObject>

// How one unit is to be checked, from the command line.
struct CheckOptions {
    QString port = QStringLiteral("1"); // 1, 2, or a device's name
    int rate = 2400;
    QString unit;
    int keyTimeoutMs = 20000;
    bool confirmDisplay = true;
};

// The guided check of one unit: the steps in order, each timed, stopping at the first that
// fails. Talks to the operator on standard output and reads the answers from standard input.
class UnitCheck : public QObject
{
    Q_OBJECT

public:
    explicit UnitCheck(const CheckOptions &options, QObject *parent = nullptr);

    // The whole check; the port is closed when it returns.
    CheckRecord run();

    // Ends the check at its next wait, with the verdict aborted.
    void stop(int signalNumber);
    // The signal that stopped the check; 0 when none did.
    int stopSignal() const { return m_stopSignal; }

signals:
    // Something a wait may be waiting for: an answer, the end of the input, a stop.
    void woken();

private:
    struct Outcome {
        CheckStep::Result result;
        QString detail;
    };

    void openPort();
    Outcome runStep(int index);
    Outcome checkReply();
    Outcome checkRest() const;
    Outcome checkDisplay();
    Outcome checkKey(int key);
    void showResult(const CheckRecord &record);
    // Runs events for up to ms milliseconds, less when bytes or an answer come; throws Stopped
    // once the check has been stopped.
    void waitFor(qint64 ms);

    const CheckOptions m_options;
    MSComm m_port{this};
    QByteArrayList m_answers;
    bool m_inputEnded = false;
    quint8 m_firstStatus = 0;
    int m_stopSignal = 0;
};

// What the operator sees: a line on standard output, at once.
void say(const QString &line);
