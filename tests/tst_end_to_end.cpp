#include "common/AppInfo.h"
#include "common/Shape.h"
#include "ui/MainWindow.h"
#include "ui/WindowLayout.h"

#include <QApplication>
#include <QLabel>
#include <QProcess>
#include <QPushButton>
#include <QTest>

// The utility and the simulated unit on one line, as run.sh wires them.
class EndToEndTest : public QObject
{
    Q_OBJECT

private slots:
    void bannerAndKeysThroughTheSimulatedUnit()
    {
        QProcess sim;
        QStringList lines;
        connect(&sim, &QProcess::readyReadStandardOutput, &sim, [&] {
            while (sim.canReadLine())
                lines.append(QString::fromUtf8(sim.readLine()).chopped(1));
        });
        sim.start(QStringLiteral(KV310_SIM_PATH), {QStringLiteral("--headless")});
        QTRY_VERIFY_WITH_TIMEOUT(!lines.isEmpty(), 10000);
        qputenv("KV310_COM1", lines.first().toLocal8Bit());

        MainWindow window;
        window.show();
        const auto click = [&window](const char *name) {
            window.findChild<QPushButton *>(QLatin1String(name))->click();
        };
        click("cmdCom");
        click("cmdBanner");
        QTRY_VERIFY_WITH_TIMEOUT(lines.contains(QStringLiteral("|%1|").arg(AppInfo::WebAddress)) &&
                                     lines.contains(QStringLiteral("|  Test utility  |")),
                                 10000);

        sim.write("keys 05\n");
        QTRY_VERIFY_WITH_TIMEOUT(lines.contains(QStringLiteral("keys 05")), 10000);
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

        sim.write("quit\n");
        QVERIFY(sim.waitForFinished(10000));
        QCOMPARE(sim.exitCode(), 0);
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
