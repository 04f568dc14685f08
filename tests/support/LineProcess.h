#pragma once

#include <QByteArrayList>
#include <QProcess>

#include <optional>

// A program with its standard input and output on pipes. Its output lines are read and kept
// whenever an event loop runs (the waits here run one, so other processes are read meanwhile).
// Standard error passes through.
class LineProcess
{
public:
    LineProcess(const QString &program, const QStringList &arguments);
    // Closes its input, which ends the programs used here; kills it if that takes over 3 s.
    ~LineProcess();
    Q_DISABLE_COPY(LineProcess)

    QProcess &process() { return m_process; }
    const QByteArrayList &lines() const { return m_lines; }

    // Writes line; with an answer, waits until a line starts with it.
    bool send(const QByteArray &line, const QByteArray &answer = {}, int timeoutMs = 8000);
    // The next line not yet taken, waiting up to timeoutMs for it.
    std::optional<QByteArray> nextLine(int timeoutMs);
    // The next line that starts with prefix; the lines before it are taken too.
    std::optional<QByteArray> waitForLine(const QByteArray &prefix, int timeoutMs = 8000);
    // Every line not yet taken, without waiting.
    QByteArrayList takeLines();
    // Ended by itself with status 0 within timeoutMs.
    bool endsCleanly(int timeoutMs);

private:
    void readLines();

    QProcess m_process;
    QByteArrayList m_lines;
    qsizetype m_next = 0;
};
