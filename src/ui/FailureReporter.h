#pragma once

#include <QObject>
#include <QString>

class QWidget;

// Tells the engineer about a failure that ended a command, in one modal box at a time: failures
// that arrive while a box is open (a dead port fails every command) are not stacked.
class FailureReporter : public QObject
{
    Q_OBJECT

public:
    explicit FailureReporter(QWidget *parent);

    void report(const QString &what, const QString &reason);

    // How many failures were told, and how many were passed over while a box was open.
    int shownCount() const { return m_shown; }
    int suppressedCount() const { return m_suppressed; }

signals:
    void failureShown(const QString &message);

private:
    QWidget *m_parent;
    bool m_showing = false;
    int m_shown = 0;
    int m_suppressed = 0;
};
