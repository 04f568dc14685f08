#include "DeviceModel.h"
#include "LineClock.h"

#include <QPoint>
#include <QTest>

namespace
{

constexpr qint64 Second = 1'000'000'000;

} // namespace

class DeviceAndClockTest : public QObject
{
    Q_OBJECT

private slots:
    // Fed whole and one byte at a time, so every command also arrives split across reads.
    void screenAndCursor_data()
    {
        QTest::addColumn<QByteArray>("input");
        QTest::addColumn<QStringList>("screen");
        QTest::addColumn<QPoint>("cursor"); // column, line
        QTest::newRow("clear") << QByteArray("Hi\nyo\x0c") << QStringList{"", ""} << QPoint(0, 0);
        QTest::newRow("new line, from the last line to the first")
            << QByteArray("ab\ncd\nX") << QStringList{"Xb", "cd"} << QPoint(1, 0);
        QTest::newRow("home") << QByteArray::fromHex("61620a6364fe8058") << QStringList{"Xb", "cd"}
                              << QPoint(1, 0);
        QTest::newRow("17th character on is invisible")
            << QByteArray("0123456789ABCDEFGHIJ") << QStringList{"0123456789ABCDEF", ""}
            << QPoint(20, 0);
        QTest::newRow("unknown commands consume their code")
            << QByteArray::fromHex("61fe41fe0cfefe62") << QStringList{"ab", ""} << QPoint(2, 0);
        QTest::newRow("key-status request leaves the screen")
            << QByteArray::fromHex("6162fef063") << QStringList{"abc", ""} << QPoint(3, 0);
        QTest::newRow("codes without prefix are glyphs")
            << QByteArray::fromHex("207d7e80f0ff01")
            << QStringList{QStringLiteral(" }\u00B7\u00B7\u00B7\u2588\u00B7"), ""} << QPoint(7, 0);
    }
    void screenAndCursor()
    {
        QFETCH(QByteArray, input);
        QFETCH(QStringList, screen);
        QFETCH(QPoint, cursor);
        for (QString &line : screen)
            line = line.leftJustified(DeviceModel::ColumnCount);
        DeviceModel whole;
        whole.feed(input);
        DeviceModel split;
        for (const char byte : input)
            split.feed(QByteArray(1, byte));
        for (const DeviceModel *model : {&whole, &split}) {
            QCOMPARE(model->lines(), screen);
            QCOMPARE(model->cursorLine(), cursor.y());
            QCOMPARE(model->cursorColumn(), cursor.x());
        }
    }

    void lineClock_data()
    {
        QTest::addColumn<int>("baud");
        QTest::addColumn<qint64>("elapsedNs");
        QTest::addColumn<qint64>("consumed");
        QTest::addColumn<qint64>("due");
        QTest::newRow("2400: byte not complete") << 2400 << 4'000'000LL << 0LL << 0LL;
        QTest::newRow("2400: first byte") << 2400 << 5'000'000LL << 0LL << 1LL;
        QTest::newRow("9600: partly consumed") << 9600 << Second << 900LL << 60LL;
        QTest::newRow("2400: after a rebase") << 2400 << 11 * Second << 2400LL << 240LL;
    }
    void lineClock()
    {
        QFETCH(int, baud);
        QFETCH(qint64, elapsedNs);
        QFETCH(qint64, consumed);
        QFETCH(qint64, due);
        const qint64 start = 123 * Second;
        LineClock clock;
        clock.restart(start, baud);
        clock.consume(consumed);
        QCOMPARE(clock.bytesDue(start + elapsedNs), due);
    }
};

QTEST_APPLESS_MAIN(DeviceAndClockTest)
#include "tst_sim_device_and_clock.moc"
