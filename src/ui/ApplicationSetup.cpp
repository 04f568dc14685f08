#include "ApplicationSetup.h"

#include <QApplication>
#include <QFont>
#include <QIcon>
#include <QStyleFactory>

namespace
{

// A small sans-serif face whose captions fit the window's small controls.
QFont windowFont()
{
    QFont font(QStringLiteral("Liberation Sans"));
    font.setStyleHint(QFont::SansSerif);
    font.setPixelSize(11);
    return font;
}

} // namespace

void setUpApplication(QApplication &application)
{
    application.setApplicationName(QStringLiteral("kv310-test"));
    // Wayland compositors find the window's icon and menu entry through the desktop entry's name.
    QGuiApplication::setDesktopFileName(QStringLiteral("kv310-test"));
    // Fusion looks the same on every desktop, so the fixed layout fits everywhere.
    if (QStyle *style = QStyleFactory::create(QStringLiteral("Fusion")))
        application.setStyle(style);
    application.setFont(windowFont());
    // Frames carry their caption in the top border, as engineers know them from bench tools.
    application.setStyleSheet(QStringLiteral(
        "QGroupBox { border: 1px solid palette(mid); border-radius: 2px; margin-top: 6px; }"
        "QGroupBox::title { subcontrol-origin: margin; subcontrol-position: top left;"
        " left: 6px; padding: 0 2px; }"));
    QIcon icon;
    icon.addFile(QStringLiteral(":/icons/kv310-16.png"), QSize(16, 16));
    icon.addFile(QStringLiteral(":/icons/kv310-32.png"), QSize(32, 32));
    application.setWindowIcon(icon);
}
