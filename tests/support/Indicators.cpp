#include "Indicators.h"

#include "commands/Keypad.h"
#include "common/Shape.h"

#include <QLabel>
#include <QStringList>
#include <QWidget>

QString indicators(const QWidget &window)
{
    QStringList shown;
    for (int index = 0; index < KeyCount; ++index) {
        const QString name = QStringLiteral("(%1)").arg(index);
        shown << window.findChild<QLabel *>("lblKey" + name)->text() + ' ' +
                     window.findChild<Shape *>("shpKey" + name)->fillColor().name();
    }
    return shown.join(QLatin1String(", "));
}

QString showing(const QString &onKeys)
{
    QStringList shown;
    for (const QChar digit : QStringLiteral("123456")) {
        shown << (onKeys == "?"            ? QString(digit) + " ?? #000000"
                  : onKeys.contains(digit) ? QString(digit) + " on #ff0000"
                                           : QString(digit) + " off #00ff00");
    }
    return shown.join(QLatin1String(", "));
}
