#include "LineTrace.h"

#include <QDateTime>

std::shared_ptr<LineTrace> LineTrace::open(const QString &path, QString &error)
{
    const auto trace = std::make_shared<LineTrace>(Opening(), path);
    // Unbuffered: every line reaches the file in one write, so the trace is whole at any moment.
    if (!trace->m_file.open(QIODevice::WriteOnly | QIODevice::Append | QIODevice::Unbuffered)) {
        error = QStringLiteral("cannot open %1 for the trace: %2")
                    .arg(path, trace->m_file.errorString());
        return nullptr;
    }
    error.clear();
    return trace;
}

QString LineTrace::chosenFile(const QString &option)
{
    return option.isEmpty() ? qEnvironmentVariable("KV310_TRACE") : option;
}

void LineTrace::note(const QString &text)
{
    write('#', text.toUtf8());
}

void LineTrace::writeBytes(char kind, const QByteArray &bytes)
{
    if (!bytes.isEmpty())
        write(kind, bytes.toHex(' ').toUpper());
}

void LineTrace::write(char kind, const QByteArray &text)
{
    const QByteArray stamp = QDateTime::currentDateTimeUtc().toString(Qt::ISODateWithMs).toLatin1();
    if (m_file.isOpen() && m_file.write(stamp + ' ' + kind + ' ' + text + '\n') < 0)
        m_file.close();
}
