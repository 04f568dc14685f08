#include "FailureReporter.h"

#include "common/AppInfo.h"

#include <QMessageBox>
#include <QPointer>

FailureReporter::FailureReporter(QWidget *parent) : QObject(parent) {}

void FailureReporter::report(const QString &what, const QString &reason)
{
    if (m_showing)
        return;
    m_showing = true;
    const QString message = QStringLiteral("%1 failed: %2").arg(what, reason);
    QPointer<FailureReporter> self(this);
    QMessageBox box(QMessageBox::Warning, AppInfo::ApplicationTitle, message, QMessageBox::Ok,
                    qobject_cast<QWidget *>(parent()));
    box.exec();
    if (self)
        m_showing = false;
}
