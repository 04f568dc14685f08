#include "InputLines.h"

#include <QSocketNotifier>

#include <array>

#ifdef Q_OS_WIN
#include <mutex>
#include <qt_windows.h>
#include <thread>
#else
#include <cerrno>
#include <fcntl.h>
#include <unistd.h>
#endif

#ifdef Q_OS_WIN
// Windows has no notifier for a pipe: a thread of its own blocks in the reads and hands what
// comes to the event loop. It may outlive the object, which it then leaves alone.
struct InputLines::Reader {
    std::mutex mutex;
    InputLines *owner;
};

InputLines::InputLines(qsizetype maxLength, QObject *parent)
    : QObject(parent), m_maxLength(maxLength), m_reader(std::make_shared<Reader>())
{
    m_reader->owner = this;
    std::thread([reader = m_reader] {
        const HANDLE input = ::GetStdHandle(STD_INPUT_HANDLE);
        std::array<char, 4096> buffer{};
        for (bool open = true; open;) {
            DWORD count = 0;
            open = input && input != INVALID_HANDLE_VALUE &&
                   ::ReadFile(input, buffer.data(), DWORD(buffer.size()), &count, nullptr) &&
                   count > 0;
            const QByteArray bytes(buffer.data(), open ? qsizetype(count) : 0);
            const std::lock_guard<std::mutex> lock(reader->mutex);
            if (!reader->owner)
                return;
            InputLines *owner = reader->owner;
            QMetaObject::invokeMethod(
                owner, [owner, bytes] { owner->take(bytes); }, Qt::QueuedConnection);
        }
    }).detach();
}

InputLines::~InputLines()
{
    const std::lock_guard<std::mutex> lock(m_reader->mutex);
    m_reader->owner = nullptr;
}

#else
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

InputLines::~InputLines() = default;

void InputLines::read()
{
    std::array<char, 4096> buffer{};
    const ssize_t count = ::read(STDIN_FILENO, buffer.data(), buffer.size());
    if (count < 0 && (errno == EAGAIN || errno == EINTR))
        return;
    if (count <= 0)
        m_notifier->setEnabled(false);
    take(QByteArray(buffer.data(), qMax<ssize_t>(count, 0)));
}
#endif

void InputLines::take(const QByteArray &bytes)
{
    if (bytes.isEmpty()) {
        emit ended();
        return;
    }
    m_pending.append(bytes);
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
