#pragma once

#include <QByteArray>
#include <QObject>
#include <QTextStream>

class QSocketNotifier;
class Simulator;
struct DeviceEvent;

// The simulator without a window: reports on standard output, takes commands on standard input.
// The line formats are described in main.cpp.
class HeadlessConsole : public QObject
{
    Q_OBJECT

public:
    explicit HeadlessConsole(Simulator &simulator, QObject *parent = nullptr);

    void start();

signals:
    void quitRequested();

private:
    void onInputReadable();
    void runCommand(const QString &command);
    void printEvent(const DeviceEvent &event);
    void printScreen();
    void printLine(const QString &line);

    Simulator &m_simulator;
    QTextStream m_out;
    QSocketNotifier *m_inputNotifier = nullptr;
    QByteArray m_pendingInput;
};
