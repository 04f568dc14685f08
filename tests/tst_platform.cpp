#include "ui/PlatformChoice.h"

#include <QTest>

// The platform the utility asks Qt for, from the session and the user's choice.
class PlatformTest : public QObject
{
    Q_OBJECT

private slots:
    void choice_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<QString>("session");
        QTest::addColumn<QString>("wayland");
        QTest::addColumn<QString>("display");
        QTest::addColumn<QString>("chosen");
        QTest::addColumn<QByteArray>("asked");
        const QByteArray x11First("xcb;wayland");
        QTest::newRow("Wayland session with XWayland") << QStringList() << "wayland"
                                                       << "wayland-0"
                                                       << ":0"
                                                       << "" << x11First;
        QTest::newRow("session type alone says Wayland") << QStringList() << "wayland"
                                                         << ""
                                                         << ":0"
                                                         << "" << x11First;
        QTest::newRow("Wayland display alone") << QStringList() << ""
                                               << "wayland-0"
                                               << ":1"
                                               << "" << x11First;
        QTest::newRow("no XWayland") << QStringList() << "wayland"
                                     << "wayland-0"
                                     << ""
                                     << "" << QByteArray();
        QTest::newRow("X11 session") << QStringList() << "x11"
                                     << ""
                                     << ":0"
                                     << "" << QByteArray();
        QTest::newRow("no display at all") << QStringList() << "tty"
                                           << ""
                                           << ""
                                           << "" << QByteArray();
        QTest::newRow("QT_QPA_PLATFORM wins") << QStringList() << "wayland"
                                              << "wayland-0"
                                              << ":0"
                                              << "wayland" << QByteArray();
        QTest::newRow("-platform wins") << QStringList{"-platform", "wayland"} << "wayland"
                                        << "wayland-0"
                                        << ":0"
                                        << "" << QByteArray();
        QTest::newRow("--platform wins")
            << QStringList{"--trace", "t", "--platform", "wayland"} << "wayland"
            << "wayland-0"
            << ":0"
            << "" << QByteArray();
        QTest::newRow("-platform without a value is no choice")
            << QStringList{"-platform"} << "wayland"
            << "wayland-0"
            << ":0"
            << "" << x11First;
        QTest::newRow("-platformtheme is no choice")
            << QStringList{"-platformtheme", "gtk3"} << "wayland"
            << "wayland-0"
            << ":0"
            << "" << x11First;
        QTest::newRow("-platform=wayland is no Qt spelling")
            << QStringList{"-platform=wayland"} << "wayland"
            << "wayland-0"
            << ":0"
            << "" << x11First;
    }
    void choice()
    {
        QFETCH(QStringList, arguments);
        QFETCH(QString, session);
        QFETCH(QString, wayland);
        QFETCH(QString, display);
        QFETCH(QString, chosen);
        QFETCH(QByteArray, asked);
        QCOMPARE(platformToAskFor(QStringList{"kv310-test"} + arguments,
                                  {session, wayland, display, chosen}),
                 asked);
    }
};

QTEST_APPLESS_MAIN(PlatformTest)

#include "tst_platform.moc"
