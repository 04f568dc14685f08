#include "DeviceModel.h"

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

} // namespace

class TestDeviceModel : public QObject
{
    Q_OBJECT

private slots:
    void screenAndCursor_data();
    void screenAndCursor();
    void events_data();
    void events();
    void keyStatusReply_data();
    void keyStatusReply();
    void anySplitGivesTheSameResult();
};

void TestDeviceModel::screenAndCursor_data()
{
    QTest::addColumn<QByteArray>("input");
    QTest::addColumn<QString>("line0");
    QTest::addColumn<QString>("line1");
    QTest::addColumn<int>("cursorLine");
    QTest::addColumn<int>("cursorColumn");

    const QByteArray sixteen("0123456789ABCDEF");
    const QString shown = QString::fromLatin1(sixteen);
    QTest::newRow("starts blank") << QByteArray() << Blank << Blank << 0 << 0;
    QTest::newRow("text") << QByteArray("Hello") << padded("Hello") << Blank << 0 << 5;
    QTest::newRow("clear") << QByteArray("Hi\nyo\x0C") << Blank << Blank << 0 << 0;
    QTest::newRow("text after clear") << QByteArray("Hi\x0Cyo") << padded("yo") << Blank << 0 << 2;
    QTest::newRow("new line") << QByteArray("ab\ncd") << padded("ab") << padded("cd") << 1 << 2;
    QTest::newRow("new line from last line goes to first")
        << QByteArray("ab\ncd\nX") << padded("Xb") << padded("cd") << 0 << 1;
    QTest::newRow("home") << QByteArray("ab\ncd") + hex("fe80") + "X" << padded("Xb")
                          << padded("cd") << 0 << 1;
    QTest::newRow("16 characters fill a line") << sixteen << shown << Blank << 0 << 16;
    QTest::newRow("17th character is invisible") << sixteen + "G" << shown << Blank << 0 << 17;
    QTest::newRow("no wrap past the end")
        << sixteen + "GHIJKLMNOPQRSTUVWXYZ" << shown << Blank << 0 << 36;
    QTest::newRow("new line after the 17th character")
        << sixteen + "G\nx" << shown << padded("x") << 1 << 1;
    QTest::newRow("unknown command consumes its code")
        << QByteArray("a") + hex("fe41") + "b" << padded("ab") << Blank << 0 << 2;
    QTest::newRow("prefixed clear code is an unknown command")
        << QByteArray("ab") + hex("fe0c") << padded("ab") << Blank << 0 << 2;
    QTest::newRow("prefixed prefix is an unknown command")
        << QByteArray("a") + hex("fefe") + "b" << padded("ab") << Blank << 0 << 2;
    QTest::newRow("key-status request leaves the screen")
        << QByteArray("ab") + hex("fef0") + "c" << padded("abc") << Blank << 0 << 3;
    QTest::newRow("glyphs, command codes without prefix are characters")
        << hex("207d7e80f0ff01") << padded(QStringLiteral(" }\u00B7\u00B7\u00B7\u2588\u00B7"))
        << Blank << 0 << 7;
}

void TestDeviceModel::screenAndCursor()
{
    QFETCH(QByteArray, input);
    QFETCH(QString, line0);
    QFETCH(QString, line1);
    QFETCH(int, cursorLine);
    QFETCH(int, cursorColumn);

    DeviceModel model;
    model.feed(input);
    QCOMPARE(model.line(0), line0);
    QCOMPARE(model.line(1), line1);
    QCOMPARE(model.cursorLine(), cursorLine);
    QCOMPARE(model.cursorColumn(), cursorColumn);
}

void TestDeviceModel::events_data()
{
    QTest::addColumn<QByteArray>("setup");
    QTest::addColumn<QByteArray>("input");
    QTest::addColumn<QStringList>("descriptions");
    QTest::addColumn<QList<bool>>("screenChanged");

    QTest::newRow("clear of a blank screen changes nothing")
        << QByteArray() << hex("0c") << QStringList{"clear"} << QList<bool>{false};
    QTest::newRow("clear of text")
        << QByteArray("x") << hex("0c") << QStringList{"clear"} << QList<bool>{true};
    QTest::newRow("commands between text")
        << QByteArray() << QByteArray("Hi\nyo") + hex("fe80fef0")
        << QStringList{"text \"Hi\"", "new line", "text \"yo\"", "home", "key-status request"}
        << QList<bool>{true, false, true, false, false};
    QTest::newRow("unknown commands")
        << QByteArray() << hex("fe41fefe")
        << QStringList{"unknown command FE 41", "unknown command FE FE"}
        << QList<bool>{false, false};
    QTest::newRow("rewriting the same text changes nothing")
        << QByteArray("ab") << hex("fe80") + "ab" << QStringList{"home", "text \"ab\""}
        << QList<bool>{false, false};
    QTest::newRow("invisible character changes nothing")
        << QByteArray("0123456789ABCDEF") << QByteArray("G") << QStringList{"text \"G\""}
        << QList<bool>{false};
    QTest::newRow("text shows glyphs")
        << QByteArray() << hex("41ff7e") << QStringList{QStringLiteral("text \"A\u2588\u00B7\"")}
        << QList<bool>{true};
}

void TestDeviceModel::events()
{
    QFETCH(QByteArray, setup);
    QFETCH(QByteArray, input);
    QFETCH(QStringList, descriptions);
    QFETCH(QList<bool>, screenChanged);

    DeviceModel model;
    model.feed(setup);
    const QList<DeviceEvent> events = model.feed(input);
    QStringList actualDescriptions;
    QList<bool> actualChanged;
    QByteArray bytes;
    for (const DeviceEvent &event : events) {
        actualDescriptions.append(event.description());
        actualChanged.append(event.screenChanged);
        bytes += event.bytes;
    }
    QCOMPARE(actualDescriptions, descriptions);
    QCOMPARE(actualChanged, screenChanged);
    QCOMPARE(bytes, input);
}

void TestDeviceModel::keyStatusReply_data()
{
    QTest::addColumn<int>("keys");
    QTest::addColumn<int>("reply");

    QTest::newRow("none") << 0x00 << 0x00;
    QTest::newRow("key 1") << 0x01 << 0x01;
    QTest::newRow("keys 1 and 3") << 0x05 << 0x05;
    QTest::newRow("key 6") << 0x20 << 0x20;
    QTest::newRow("all six") << 0x3F << 0x3F;
    QTest::newRow("bits 6 and 7 never set") << 0xC0 << 0x00;
    QTest::newRow("everything") << 0xFF << 0x3F;
}

void TestDeviceModel::keyStatusReply()
{
    QFETCH(int, keys);
    QFETCH(int, reply);

    DeviceModel model;
    model.setKeys(static_cast<quint8>(keys));
    QCOMPARE(model.keys(), reply);
    const QList<DeviceEvent> events = model.feed(hex("fef0"));
    QCOMPARE(events.size(), 1);
    QCOMPARE(events.first().kind, DeviceEvent::Kind::KeyStatusRequest);
    QCOMPARE(events.first().reply, QByteArray(1, static_cast<char>(reply)));
}

// Reads may end anywhere, even inside a command; the unit must not care.
void TestDeviceModel::anySplitGivesTheSameResult()
{
    const QByteArray stream = QByteArray("\x0C"
                                         "ab\ncd") +
                              hex("fe80") + "X" + hex("fef0fe41") + "0123456789ABCDEFG\n" +
                              hex("fef0ff");
    DeviceModel whole;
    whole.setKeys(0x05);
    QByteArray wholeReplies;
    for (const DeviceEvent &event : whole.feed(stream))
        wholeReplies += event.reply;

    for (int split = 1; split < stream.size(); ++split) {
        DeviceModel model;
        model.setKeys(0x05);
        QByteArray replies;
        QByteArray bytes;
        for (const QByteArray &part : {stream.left(split), stream.mid(split)}) {
            for (const DeviceEvent &event : model.feed(part)) {
                replies += event.reply;
                bytes += event.bytes;
            }
        }
        QCOMPARE(model.lines(), whole.lines());
        QCOMPARE(model.cursorLine(), whole.cursorLine());
        QCOMPARE(model.cursorColumn(), whole.cursorColumn());
        QCOMPARE(replies, wholeReplies);
        QCOMPARE(bytes, stream);
    }
}

QTEST_APPLESS_MAIN(TestDeviceModel)
#include "tst_sim_devicemodel.moc"
