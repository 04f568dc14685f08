#include "FailureReporter.h"

#include "common/AppInfo.h"

#include <QMessageBox>
#include <QPointer>

FailureReporter::FailureReporter(QWidget *parent) : QObject(parent), m_parent(parent) {}

void FailureReporter::report(const QString &what, const QString &reason)
{
    if (m_showing) {
        ++m_suppressed;
        return;
    }
    m_showing = true;
    ++m_shown;
    const QString message = QStringLiteral("%1 failed: %2").arg(what, reason);
    emit failureShown(message);
    QPointer<FailureReporter> self(this);
    QMessageBox box(QMessageBox::Warning, AppInfo::ApplicationTitle, message, QMessageBox::Ok,
                    m_parent);
    box.exec();
    if (self)
        m_showing = false;
}
