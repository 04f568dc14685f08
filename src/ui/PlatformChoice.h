#pragma once

#include <QByteArray>
#include <QStringList>

// What decides the windowing platform that Qt is asked for.
struct PlatformSetting {
    QString sessionType;    // XDG_SESSION_TYPE
    QString waylandDisplay; // WAYLAND_DISPLAY
    QString x11Display;     // DISPLAY
    QString qpaPlatform;    // QT_QPA_PLATFORM: the user's choice
};

// The QT_QPA_PLATFORM the utility asks for, or empty to leave Qt's choice alone. On a Wayland
// session with XWayland at hand it asks for X11 first: Qt's own title bar on Wayland shows
// minimise and maximise buttons on this fixed-size window and cuts its caption, while the
// desktop's X11 title bar honours both. A platform the user chose (-platform or QT_QPA_PLATFORM)
// always wins. arguments are the command line, the program's name first.
QByteArray platformToAskFor(const QStringList &arguments, const PlatformSetting &setting);

// Sets QT_QPA_PLATFORM as platformToAskFor() says for this process; before the application
// object exists, which reads it.
void askForPlatform(int argc, char *argv[]);
