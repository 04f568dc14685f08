#include "InputLines.h"

#include <QSocketNotifier>

#include <array>
#include <cerrno>
#include <fcntl.h>
#include <unistd.h>

InputLines::InputLines(qsizetype maxLength, QObject *parent)
    : QObject(parent), m_maxLength(maxLength)
{
    if (::fcntl(STDIN_FILENO, F_GETFD) < 0) {
        QMetaObject::invokeMethod(this, &InputLines::ended, Qt::QueuedConnection);
        return;
    }
    m_notifier = new QSocketNotifier(STDIN_FILENO, QSocketNotifier::Read, this);
    connect(m_notifier, &QSocketNotifier::activated, this, &InputLines::read);
}

void InputLines::read()
{
    std::array<char, 4096> buffer{};
    const ssize_t count = ::read(STDIN_FILENO, buffer.data(), buffer.size());
    if (count < 0 && (errno == EAGAIN || errno == EINTR))
        return;
    if (count <= 0) {
        m_notifier->setEnabled(false);
        emit ended();
        return;
    }
    m_pending.append(buffer.data(), count);
    for (qsizetype end; (end = m_pending.indexOf('\n')) >= 0;) {
        const QByteArray line = m_pending.left(end);
        m_pending.remove(0, end + 1);
        emit lineRead(line);
    }
    if (m_pending.size() > m_maxLength) {
        m_pending.clear();
        emit lineTooLong();
    }
}
