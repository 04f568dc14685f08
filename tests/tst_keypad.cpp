#include "commands/Keypad.h"
#include "ui/WindowLayout.h"

#include <QApplication>
#include <QTest>
#include <QTimer>

#include <stdexcept>

class KeypadTest : public QObject
{
    Q_OBJECT

private slots:
    void requestIsPrefixAndStatusCode() { QCOMPARE(keyStatusRequest(), QByteArray("\xFE\xF0", 2)); }

    void decode_data()
    {
        QTest::addColumn<int>("status");
        QTest::addColumn<QStringList>("captions");

        const QStringList allOff{"1 off", "2 off", "3 off", "4 off", "5 off", "6 off"};
        const QStringList allOn{"1 on", "2 on", "3 on", "4 on", "5 on", "6 on"};
        QTest::newRow("00 all off") << 0x00 << allOff;
        QTest::newRow("3F all on") << 0x3F << allOn;
        QTest::newRow("05 keys 1 and 3")
            << 0x05 << QStringList{"1 on", "2 off", "3 on", "4 off", "5 off", "6 off"};
        QTest::newRow("20 key 6 only")
            << 0x20 << QStringList{"1 off", "2 off", "3 off", "4 off", "5 off", "6 on"};
        QTest::newRow("C0 high bits ignored") << 0xC0 << allOff;
        QTest::newRow("FF high bits ignored") << 0xFF << allOn;
    }

    void decode()
    {
        QFETCH(int, status);
        QFETCH(QStringList, captions);

        const auto looks = decodeKeyStatus(static_cast<quint8>(status));
        for (int index = 0; index < KeyCount; ++index) {
            QCOMPARE(looks[index].caption, captions[index]);
            const bool on = captions[index].endsWith(QLatin1String(" on"));
            // Exactly pure red and pure green, fully opaque.
            QCOMPARE(looks[index].fill.rgba(), on ? qRgb(255, 0, 0) : qRgb(0, 255, 0));
        }
    }

    void tick_data()
    {
        QTest::addColumn<bool>("polling");
        QTest::addColumn<bool>("sendFails");
        QTest::addColumn<int>("expectedSends");
        QTest::addColumn<bool>("pollingAfter");
        QTest::addColumn<bool>("timerActiveAfter");

        QTest::newRow("polling: asks again") << true << false << 1 << true << true;
        QTest::newRow("stopping: switches off, silent") << false << false << 0 << false << false;
        QTest::newRow("dead port: stops polling") << true << true << 1 << false << false;
    }

    void tick()
    {
        QFETCH(bool, polling);
        QFETCH(bool, sendFails);
        QFETCH(int, expectedSends);
        QFETCH(bool, pollingAfter);
        QFETCH(bool, timerActiveAfter);

        QTimer tmrPoll;
        tmrPoll.start(100);
        int sends = 0;
        const DeviceSender send = [&](const QByteArray &bytes) {
            ++sends;
            QCOMPARE(bytes, keyStatusRequest());
            if (sendFails)
                throw std::runtime_error("write failed");
        };

        bool thrown = false;
        try {
            pollTick(polling, tmrPoll, send);
        } catch (const std::runtime_error &) {
            thrown = true;
        }
        QCOMPARE(thrown, sendFails);
        QCOMPARE(sends, expectedSends);
        QCOMPARE(polling, pollingAfter);
        QCOMPARE(tmrPoll.isActive(), timerActiveAfter);
        if (timerActiveAfter)
            QCOMPARE(tmrPoll.interval(), 100);
    }
};

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    WindowLayout::setUpApplication(app);
    KeypadTest test;
    return QTest::qExec(&test, argc, argv);
}
#include "tst_keypad.moc"
