#include "ui/PlatformChoice.h"

#include <QTest>

// The platform the utility asks Qt for, from the session and the user's choice.
class PlatformTest : public QObject
{
    Q_OBJECT

private slots:
    // Each setting: the arguments after the program's name, XDG_SESSION_TYPE, WAYLAND_DISPLAY,
    // DISPLAY and QT_QPA_PLATFORM, split by '|'.
    void choice_data()
    {
        QTest::addColumn<QString>("setting");
        QTest::addColumn<bool>("x11First");
        QTest::newRow("Wayland session with XWayland") << "|wayland|wayland-0|:0|" << true;
        QTest::newRow("session type alone says Wayland") << "|wayland||:0|" << true;
        QTest::newRow("Wayland display alone") << "||wayland-0|:1|" << true;
        QTest::newRow("no XWayland") << "|wayland|wayland-0||" << false;
        QTest::newRow("X11 session") << "|x11||:0|" << false;
        QTest::newRow("QT_QPA_PLATFORM wins") << "|wayland|wayland-0|:0|wayland" << false;
        QTest::newRow("-platform wins") << "-platform wayland|wayland|wayland-0|:0|" << false;
        QTest::newRow("--platform, after others") << "--trace t --platform x|wayland||:0|" << false;
        QTest::newRow("-platform without a value") << "-platform|wayland||:0|" << true;
        QTest::newRow("-platformtheme, -platform=")
            << "-platformtheme a -platform=b|wayland||:0|" << true;
    }
    void choice()
    {
        QFETCH(QString, setting);
        QFETCH(bool, x11First);
        const QStringList field = setting.split('|');
        const QStringList arguments =
            QStringList{"kv310-test"} + field[0].split(' ', Qt::SkipEmptyParts);
        QCOMPARE(platformToAskFor(arguments, {field[1], field[2], field[3], field[4]}),
                 x11First ? QByteArray("xcb;wayland") : QByteArray());
    }
};

QTEST_APPLESS_MAIN(PlatformTest)

#include "tst_platform.moc"
