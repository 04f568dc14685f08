#pragma once

#include "FdHandle.h"

#include <QByteArray>
#include <QString>

#include <termios.h>

// A pseudo-terminal whose master side the test holds; the utility opens the slave as its port.
class PtyPair
{
public:
    PtyPair();

    bool isValid() const { return m_master.isValid(); }
    QString slavePath() const { return m_slavePath; }
    int masterFd() const { return m_master.get(); }

    // Everything the utility writes until the line has been quiet for quietMs, or timeoutMs
    // have passed.
    QByteArray readAll(int quietMs = 100, int timeoutMs = 3000)
    {
        return collect(1 << 30, quietMs, timeoutMs);
    }
    // Exactly count bytes, or fewer if timeoutMs pass first.
    QByteArray read(int count, int timeoutMs = 3000)
    {
        return collect(count, timeoutMs, timeoutMs);
    }
    // Bytes already waiting (at most limit), without waiting for more.
    QByteArray readWaiting(qsizetype limit = 1 << 30);

    // Writes to the utility, as the unit would.
    bool write(const QByteArray &bytes);

    // The line settings the utility applied to its end.
    termios lineSettings() const
    {
        termios settings{};
        tcgetattr(m_master.get(), &settings);
        return settings;
    }

    // Hangs up the line: the unit is gone.
    void closeMaster() { m_master.reset(); }

private:
    QByteArray collect(qsizetype count, int quietMs, int timeoutMs);

    FdHandle m_master;
    QString m_slavePath;
};
