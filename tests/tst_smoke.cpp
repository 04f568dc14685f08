#include "TestSupport.h"
#include "ui/WindowLayout.h"

#include <QApplication>
#include <QTest>

class SmokeTest : public QObject
{
    Q_OBJECT
private slots:
    void clearWritesOneByte()
    {
        WindowHarness harness;
        QVERIFY(harness.openPort());
        QCOMPARE(harness.line().lineSpeed(), 2400);
        QVERIFY(harness.click("cmdClear"));
        QCOMPARE(harness.wire(), QByteArray("\x0c"));
        QCOMPARE(harness.logText(), QString("0C "));
    }
};

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    WindowLayout::setUpApplication(app);
    SmokeTest test;
    return QTest::qExec(&test, argc, argv);
}
#include "tst_smoke.moc"
