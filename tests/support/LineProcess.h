#pragma once

#include <QByteArrayList>
#include <QProcess>
#include <QStringList>

#include <optional>

// A program with its standard input and output on pipes. Its output is read line by line whenever
// an event loop runs (the waits here run one, so other processes are read meanwhile), and every
// line is kept. Standard error passes through.
class LineProcess
{
public:
    // environment: NAME=value entries that replace the inherited ones.
    LineProcess(const QString &program, const QStringList &arguments,
                const QStringList &environment = {});
    // Closes its input, which ends the programs used here; kills it if that takes over 3 s.
    ~LineProcess();
    LineProcess(const LineProcess &) = delete;
    LineProcess &operator=(const LineProcess &) = delete;

    QProcess &process() { return m_process; }
    const QByteArrayList &lines() const { return m_lines; }

    // Writes line and waits until it is written; with an answer, until a line starts with it.
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
