#pragma once

#include <QByteArray>
#include <QObject>

#include <limits>

class QSocketNotifier;

// Standard input read line by line as the event loop runs, for programs driven through it.
class InputLines : public QObject
{
    Q_OBJECT

public:
    // A partial line longer than maxLength is dropped, so junk on the input cannot pile up.
    explicit InputLines(qsizetype maxLength = std::numeric_limits<qsizetype>::max(),
                        QObject *parent = nullptr);

signals:
    void lineRead(const QByteArray &line);
    void lineTooLong();
    // The input ended, or there was none: queued, so it comes once the event loop runs.
    void ended();

private:
    void read();

    const qsizetype m_maxLength;
    QSocketNotifier *m_notifier = nullptr;
    QByteArray m_pending;
};
