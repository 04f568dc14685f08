#pragma once

#include "FdHandle.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <QtGlobal>

// A pseudo-terminal whose master side the test holds; the utility opens the slave as its port.
class PtyPair
{
public:
    PtyPair();

    QString slavePath() const { return m_slavePath; }
    int masterFd() const { return m_master.get(); }

    // Everything the utility writes until the line has been quiet for quietMs (3 s at most).
    QByteArray readAll(int quietMs = 100) { return collect(1 << 30, quietMs, 3000); }
    // Exactly count bytes, or fewer if ms milliseconds pass first.
    QByteArray read(int count, int ms = 3000) { return collect(count, ms, ms); }
    // Bytes already waiting (at most limit), without waiting for more.
    QByteArray readWaiting(qsizetype limit = 1 << 30);
    // Writes to the utility, as the unit would.
    bool write(const QByteArray &bytes);

    // Hangs up the line: the unit is gone.
    void closeMaster() { m_master.reset(); }

private:
    QByteArray collect(qsizetype count, int quietMs, int timeoutMs);

    FdHandle m_master;
    QString m_slavePath;
};

// A second reader on a port's device, opened before the utility opens it: tells when bytes from
// the unit have reached the port without running the window's events.
struct SlaveProbe : FdHandle {
    explicit SlaveProbe(const QString &path);
    bool waitForBytes(int timeoutMs = 2000) const;
};

// The rate and framing a terminal is set to, e.g. "2400 8N1".
QString lineSettings(int fd);

// An environment variable set for as long as this lives, and unset after, however the test ends.
class ScopedEnv
{
public:
    ScopedEnv(const char *name, const QString &value) : m_name(name)
    {
        qputenv(name, value.toLocal8Bit());
    }
    ~ScopedEnv() { qunsetenv(m_name); }
    Q_DISABLE_COPY(ScopedEnv)

private:
    const char *m_name;
};

// Empty when the sent-data log is the end of the hex echo of wire, everything that reached the
// line: all of it, or cut to its last 380 characters (which may split a byte's digits) and added
// to since.
QString logMismatch(const QString &log, const QByteArray &wire);

// What the utility writes for its commands, as the unit receives them.
namespace Wire
{
inline const QByteArray KeyRequest("\xfe\xf0", 2);
inline const QByteArray Home("\xfe\x80", 2);
// A ripple's 69 writes: a clear, then four passes of 17 positions, each pass followed by a move.
QList<QByteArray> rippleWrites();
// Its first pass, as far as the move to the second line.
inline QByteArray rippleStart()
{
    return rippleWrites().mid(0, 19).join();
}
} // namespace Wire
