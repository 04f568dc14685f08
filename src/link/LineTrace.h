#pragma once

#include <QByteArray>
#include <QFile>
#include <QString>

#include <memory>

// A timestamped record of everything that crosses the serial line, one line per event, appended
// to a file and flushed at each line so that a crash or a kill loses nothing:
//   2026-12-08T09:14:03.441Z > FE F0      one write to the port
//   2026-12-08T09:14:03.447Z < 05         bytes as they arrived from the port
//   2026-12-08T09:14:04.003Z # close      what happened to the line
// A trace whose file fails later writes nothing more; the line goes on regardless.
class LineTrace
{
public:
    // The trace appending to path, or nothing with the reason in error ("cannot open FILE for
    // the trace: REASON").
    static std::shared_ptr<LineTrace> open(const QString &path, QString &error);
    // The file a program traces to: the one its --trace option names, else KV310_TRACE's; empty
    // for none.
    static QString chosenFile(const QString &option);

    void sent(const QByteArray &bytes) { writeBytes('>', bytes); }
    void received(const QByteArray &bytes) { writeBytes('<', bytes); }
    void note(const QString &text);

private:
    // Only open() makes a trace, so that every trace has its file open at first.
    struct Opening {
        explicit Opening() = default;
    };

public:
    LineTrace(Opening, const QString &path) : m_file(path) {}

private:
    void writeBytes(char kind, const QByteArray &bytes);
    void write(char kind, const QByteArray &text);

    QFile m_file;
};
