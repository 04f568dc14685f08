#include "Indicators.h"

#include "commands/Keypad.h"
#include "ui/KeyLamp.h"

#include <QCoreApplication>
#include <QEvent>
#include <QLabel>
#include <QMessageBox>
#include <QStringList>
#include <QWidget>

QString indicators(const QWidget &window)
{
    QStringList shown;
    for (int index = 0; index < KeyCount; ++index) {
        const QString name = QStringLiteral("(%1)").arg(index);
        shown << window.findChild<QLabel *>("lblKey" + name)->text() + ' ' +
                     window.findChild<KeyLamp *>("shpKey" + name)->fillColor().name();
    }
    return shown.join(QLatin1String(", "));
}

QString showing(const QString &onKeys, bool replied)
{
    QStringList shown;
    for (const QChar digit : QStringLiteral("123456"))
        shown << QString(digit) + (!replied                 ? " ?? #000000"
                                   : onKeys.contains(digit) ? " on #ff0000"
                                                            : " off #00ff00");
    return shown.join(QLatin1String(", "));
}

MessageBoxWatcher::MessageBoxWatcher(std::function<void(QMessageBox &)> shown)
    : m_shown(std::move(shown))
{
    QCoreApplication::instance()->installEventFilter(this);
}

bool MessageBoxWatcher::eventFilter(QObject *watched, QEvent *event)
{
    if (auto *box = qobject_cast<QMessageBox *>(watched); box && event->type() == QEvent::Show)
        m_shown(*box);
    return false;
}
