#pragma once

#include <QObject>
#include <QTextStream>

class Simulator;
struct DeviceEvent;

// The simulator without a window: reports on standard output, takes commands on standard input.
// The line formats are described in README.md.
class HeadlessConsole : public QObject
{
    Q_OBJECT

public:
    // Monotonic: each line after the port's starts with the time it was written, in seconds of
    // the monotonic clock (CLOCK_MONOTONIC), for measuring from another process.
    enum class Stamps { None, Monotonic };

    HeadlessConsole(Simulator &simulator, Stamps stamps, QObject *parent = nullptr);

    void start();

signals:
    void quitRequested();

private:
    void runCommand(const QString &command);
    void printEvent(const DeviceEvent &event);
    void printScreen();
    void printLine(const QString &line);

    Simulator &m_simulator;
    const Stamps m_stamps;
    QTextStream m_out;
};
