#include "DeviceModel.h"
#include "LineClock.h"

#include <QTest>

namespace
{

const QString Blank(DeviceModel::ColumnCount, QLatin1Char(' '));

QString padded(const QString &text)
{
    return text.leftJustified(DeviceModel::ColumnCount, QLatin1Char(' '), true);
}

QByteArray hex(const char *digits)
{
    return QByteArray::fromHex(digits);
}

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
        QTest::addColumn<QString>("line0");
        QTest::addColumn<QString>("line1");
        QTest::addColumn<int>("cursorLine");
        QTest::addColumn<int>("cursorColumn");

        const QByteArray sixteen("0123456789ABCDEF");
        const QString shown = QString::fromLatin1(sixteen);
        QTest::newRow("text") << QByteArray("Hello") << padded("Hello") << Blank << 0 << 5;
        QTest::newRow("clear") << QByteArray("Hi\nyo\x0c") << Blank << Blank << 0 << 0;
        QTest::newRow("new line") << QByteArray("ab\ncd") << padded("ab") << padded("cd") << 1 << 2;
        QTest::newRow("new line from last line goes to first")
            << QByteArray("ab\ncd\nX") << padded("Xb") << padded("cd") << 0 << 1;
        QTest::newRow("home") << QByteArray("ab\ncd") + hex("fe80") + "X" << padded("Xb")
                              << padded("cd") << 0 << 1;
        QTest::newRow("17th character on is invisible")
            << sixteen + "GHIJ" << shown << Blank << 0 << 20;
        QTest::newRow("unknown commands consume their code")
            << QByteArray("a") + hex("fe41fe0cfefe") + "b" << padded("ab") << Blank << 0 << 2;
        QTest::newRow("key-status request leaves the screen")
            << QByteArray("ab") + hex("fef0") + "c" << padded("abc") << Blank << 0 << 3;
        QTest::newRow("codes without prefix are glyphs")
            << hex("207d7e80f0ff01") << padded(QStringLiteral(" }\u00B7\u00B7\u00B7\u2588\u00B7"))
            << Blank << 0 << 7;
    }
    void screenAndCursor()
    {
        QFETCH(QByteArray, input);
        QFETCH(QString, line0);
        QFETCH(QString, line1);
        QFETCH(int, cursorLine);
        QFETCH(int, cursorColumn);

        DeviceModel whole;
        whole.feed(input);
        DeviceModel split;
        for (const char byte : input)
            split.feed(QByteArray(1, byte));
        for (const DeviceModel *model : {&whole, &split}) {
            QCOMPARE(model->lines(), QStringList({line0, line1}));
            QCOMPARE(model->cursorLine(), cursorLine);
            QCOMPARE(model->cursorColumn(), cursorColumn);
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
