#include "LineProcess.h"
#include "common/AppInfo.h"
#include "common/Shape.h"
#include "ui/MainWindow.h"
#include "ui/WindowLayout.h"

#include <QApplication>
#include <QLabel>
#include <QPushButton>
#include <QTest>

// The utility and the simulated unit on one line, as run.sh wires them.
class EndToEndTest : public QObject
{
    Q_OBJECT

private slots:
    void bannerAndKeysThroughTheSimulatedUnit()
    {
        LineProcess sim(QStringLiteral(KV310_SIM_PATH), {QStringLiteral("--headless")});
        const auto port = sim.nextLine(8000);
        QVERIFY(port);
        qputenv("KV310_COM1", *port);

        MainWindow window;
        window.show();
        const auto click = [&window](const char *name) {
            window.findChild<QPushButton *>(QLatin1String(name))->click();
        };
        click("cmdCom");
        click("cmdBanner");
        // The waits run the event loop, so the window sends meanwhile.
        QVERIFY(sim.waitForLine('|' + AppInfo::WebAddress.toUtf8() + '|'));
        QVERIFY(sim.waitForLine("|  Test utility  |"));
        QVERIFY(sim.send("keys 05", "keys 05"));
        click("cmdGetKey");
        const QStringList expected{"1 on", "2 off", "3 on", "4 off", "5 off", "6 off"};
        for (int index = 0; index < 6; ++index) {
            const QString name = QStringLiteral("(%1)").arg(index);
            const auto *label = window.findChild<QLabel *>(QStringLiteral("lblKey") + name);
            const auto *circle = window.findChild<Shape *>(QStringLiteral("shpKey") + name);
            QTRY_COMPARE_WITH_TIMEOUT(label->text(), expected[index], 10000);
            QCOMPARE(circle->fillColor(),
                     index == 0 || index == 2 ? QColor(255, 0, 0) : QColor(0, 255, 0));
        }

        sim.send("quit");
        QVERIFY(sim.endsCleanly(5000));
        qunsetenv("KV310_COM1");
    }
};

int main(int argc, char *argv[])
{
    QApplication application(argc, argv);
    WindowLayout::setUpApplication(application);
    EndToEndTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_end_to_end.moc"
