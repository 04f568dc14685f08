#pragma once

#include <QByteArray>
#include <QObject>

#include <limits>
#include <memory>

class QSocketNotifier;

// Standard input read line by line as the event loop runs, for programs driven through it.
class InputLines : public QObject
{
    Q_OBJECT

public:
    // A partial line longer than maxLength is dropped, so junk on the input cannot pile up.
    explicit InputLines(qsizetype maxLength = std::numeric_limits<qsizetype>::max(),
                        QObject *parent = nullptr);
    ~InputLines() override;

signals:
    void lineRead(const QByteArray &line);
    void lineTooLong();
    // The input ended, or there was none: queued, so it comes once the event loop runs.
    void ended();

private:
    // Bytes that have come; none when the input has ended.
    void take(const QByteArray &bytes);

    const qsizetype m_maxLength;
    QByteArray m_pending;
#ifdef Q_OS_WIN
    struct Reader;
    std::shared_ptr<Reader> m_reader;
#else
    void read();
    QSocketNotifier *m_notifier = nullptr;
#endif
};
