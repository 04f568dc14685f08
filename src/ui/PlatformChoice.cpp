#include "PlatformChoice.h"

QByteArray platformToAskFor(const QStringList &arguments, const PlatformSetting &setting)
{
    // Qt takes -platform NAME with one dash or two, and no other spelling.
    for (qsizetype index = 1; index + 1 < arguments.size(); ++index) {
        const QString &argument = arguments.at(index);
        if (argument == QLatin1String("-platform") || argument == QLatin1String("--platform"))
            return {};
    }
    if (!setting.qpaPlatform.isEmpty())
        return {};
    const bool wayland =
        setting.sessionType == QLatin1String("wayland") || !setting.waylandDisplay.isEmpty();
    if (!wayland || setting.x11Display.isEmpty())
        return {};
    // Wayland second: where the X11 plugin cannot connect, the window still opens.
    return QByteArrayLiteral("xcb;wayland");
}

void askForPlatform(int argc, char *argv[])
{
    QStringList arguments;
    for (int index = 0; index < argc; ++index)
        arguments.append(QString::fromLocal8Bit(argv[index]));
    const PlatformSetting setting{
        qEnvironmentVariable("XDG_SESSION_TYPE"), qEnvironmentVariable("WAYLAND_DISPLAY"),
        qEnvironmentVariable("DISPLAY"), qEnvironmentVariable("QT_QPA_PLATFORM")};
    const QByteArray platform = platformToAskFor(arguments, setting);
    if (!platform.isEmpty())
        qputenv("QT_QPA_PLATFORM", platform);
}
