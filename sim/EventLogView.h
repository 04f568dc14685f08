#pragma once

#include <QPlainTextEdit>
#include <QStringList>
#include <QTimer>

// A read-only log that keeps only its most recent lines. Lines are shown in batches, so a
// flood of traffic costs one redraw per batch, not one per line.
class EventLogView : public QPlainTextEdit
{
    Q_OBJECT

public:
    static constexpr int MaxLines = 1000;

    explicit EventLogView(QWidget *parent = nullptr);

    void appendLine(const QString &line);

private:
    void flush();

    QStringList m_pending;
    int m_skipped = 0;
    QTimer m_flushTimer;
};
