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

private:
    bool m_showing = false;
};
