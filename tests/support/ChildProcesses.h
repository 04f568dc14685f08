#pragma once

#include "LineProcess.h"

#include <QStringList>

// The real window in a child process, driven through its standard input, with its port 1 at
// com1; wrapper is a program, with its arguments, to run it under. The build under test is
// tests/driver or what KV310_TEST_DRIVER names; the native one is always tests/driver.
class DriverProcess : public LineProcess
{
public:
    enum class Build { UnderTest, Native };
    explicit DriverProcess(const QString &com1 = {}, const QStringList &wrapper = {},
                           Build build = Build::UnderTest);

    // The window is shown and its event loop runs: under Wine that takes seconds.
    bool started() { return waitForLine("ready", 60000).has_value(); }
    // Sends a command and waits for its answer, passing over "ready" and the failure boxes told.
    std::optional<QByteArray> ask(const QByteArray &command, int timeoutMs = 8000);
    // Whether a command's answer starts with answer.
    bool expect(const QByteArray &command, const QByteArray &answer)
    {
        return ask(command).value_or(QByteArray()).startsWith(answer);
    }
    // Clicks a button; true once its handler has returned.
    bool click(const QByteArray &button)
    {
        return ask("click " + button, 20000) == "clicked " + button;
    }
    // Port 1 opened at rate through the window's own controls.
    bool openPort(int rate)
    {
        return click(rate == 9600 ? "optBaud(1)" : "optBaud(0)") && click("cmdCom") &&
               expect("state", "state open=1");
    }
};

// The simulated unit without its window, with options besides --headless. Its first line names
// its port; isValid() tells whether it came.
class Sim : public LineProcess
{
public:
    explicit Sim(const QStringList &options = {});

    bool isValid() const { return !m_portPath.isEmpty(); }
    const QString &portPath() const { return m_portPath; }

    void setKeys(unsigned keys) { send("keys " + QByteArray::number(keys & 0xFFu, 16)); }

private:
    QString m_portPath;
};
