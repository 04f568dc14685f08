#include "QtOptions.h"

namespace QtOptions
{

namespace
{

// As QGuiApplication and QApplication document them; each may also start with two dashes.
const QStringList WithValue = {
    QStringLiteral("platform"),        QStringLiteral("platformpluginpath"),
    QStringLiteral("platformtheme"),   QStringLiteral("plugin"),
    QStringLiteral("qwindowgeometry"), QStringLiteral("qwindowicon"),
    QStringLiteral("qwindowtitle"),    QStringLiteral("session"),
    QStringLiteral("display"),         QStringLiteral("style"),
    QStringLiteral("stylesheet")};
const QStringList Flags = {QStringLiteral("reverse"), QStringLiteral("widgetcount"),
                           QStringLiteral("nograb"), QStringLiteral("dograb"),
                           QStringLiteral("sync")};
// QApplication also reads these as -style=Fusion.
const QStringList Joined = {QStringLiteral("style"), QStringLiteral("stylesheet")};

} // namespace

QString takeOut(const QStringList &arguments, QStringList &own)
{
    for (qsizetype index = 0; index < arguments.size(); ++index) {
        const QString &argument = arguments.at(index);
        const QString name = argument.mid(argument.startsWith(QLatin1String("--")) ? 2 : 1);
        const QString joinedName = name.section(QLatin1Char('='), 0, 0);
        const bool qtOption = WithValue.contains(name) || Flags.contains(name) ||
                              (joinedName != name && Joined.contains(joinedName));
        if (index == 0 || !argument.startsWith(QLatin1Char('-')) || !qtOption) {
            own.append(argument);
        } else if (WithValue.contains(name) && ++index == arguments.size()) {
            return QStringLiteral("Missing value after '%1'.").arg(argument);
        }
    }
    return {};
}

} // namespace QtOptions
