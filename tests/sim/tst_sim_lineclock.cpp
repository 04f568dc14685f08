#include "LineClock.h"

#include <QTest>

namespace
{

constexpr qint64 Ms = 1'000'000;
constexpr qint64 Second = 1000 * Ms;

} // namespace

class TestLineClock : public QObject
{
    Q_OBJECT

private slots:
    void bytesDue_data();
    void bytesDue();
    void longFloodKeepsTheRate_data();
    void longFloodKeepsTheRate();
};

void TestLineClock::bytesDue_data()
{
    QTest::addColumn<int>("baud");
    QTest::addColumn<qint64>("elapsedNs");
    QTest::addColumn<qint64>("consumed");
    QTest::addColumn<qint64>("due");

    QTest::newRow("2400: nothing at start") << 2400 << qint64(0) << qint64(0) << qint64(0);
    QTest::newRow("2400: byte not complete") << 2400 << 4 * Ms << qint64(0) << qint64(0);
    QTest::newRow("2400: first byte") << 2400 << 5 * Ms << qint64(0) << qint64(1);
    QTest::newRow("2400: one second") << 2400 << Second << qint64(0) << qint64(240);
    QTest::newRow("9600: one second") << 9600 << Second << qint64(0) << qint64(960);
    QTest::newRow("9600: partly consumed") << 9600 << Second << qint64(900) << qint64(60);
    QTest::newRow("9600: all consumed") << 9600 << Second << qint64(960) << qint64(0);
}

void TestLineClock::bytesDue()
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

void TestLineClock::longFloodKeepsTheRate_data()
{
    QTest::addColumn<int>("baud");
    QTest::addColumn<qint64>("stepNs");

    QTest::newRow("2400, 7 ms reads") << 2400 << 7 * Ms;
    QTest::newRow("9600, 4 ms reads") << 9600 << 4 * Ms;
    QTest::newRow("115200, 1 ms reads") << 115200 << Ms;
}

// A reader consuming whatever is due, over minutes, ends up exactly at the line rate.
void TestLineClock::longFloodKeepsTheRate()
{
    QFETCH(int, baud);
    QFETCH(qint64, stepNs);

    const qint64 duration = 300 * Second;
    LineClock clock;
    clock.restart(0, baud);
    qint64 total = 0;
    for (qint64 now = 0; now <= duration; now += stepNs) {
        const qint64 due = clock.bytesDue(now);
        clock.consume(due);
        total += due;
    }
    const qint64 lastRead = duration - duration % stepNs;
    QCOMPARE(total, lastRead * baud / (LineClock::BitsPerByte * Second));
}

QTEST_APPLESS_MAIN(TestLineClock)
#include "tst_sim_lineclock.moc"
