#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

// What the unit did with one command (or one run of characters) it received.
struct DeviceEvent {
    enum class Kind { Clear, NewLine, Home, KeyStatusRequest, Text, UnknownCommand };

    Kind kind = Kind::Text;
    QByteArray bytes; // the received bytes that made up this command
    QString text;     // Kind::Text: the characters as they show on the display
    QByteArray reply; // bytes the unit sends back
    bool screenChanged = false;

    // "clear", "new line", "home", "key-status request", "unknown command FE 3C", "text \"Hi\""
    QString description() const;
};

// Upper-case hex, one byte per group, separated by spaces: "FE F0".
QString hexBytes(const QByteArray &bytes);

// The unit's behaviour: a 2 x 16 character display with a cursor and a 6-key keypad, driven by a
// byte stream. Pure state, no I/O; a command split across calls to feed() is completed later.
class DeviceModel
{
public:
    static constexpr int LineCount = 2;
    static constexpr int ColumnCount = 16;

    static constexpr quint8 ClearCode = 0x0C;
    static constexpr quint8 NewLineCode = 0x0A;
    static constexpr quint8 CommandPrefix = 0xFE;
    static constexpr quint8 HomeCommand = 0x80;
    static constexpr quint8 KeyStatusCommand = 0xF0;
    static constexpr quint8 KeyMask = 0x3F;

    static constexpr char16_t BlockGlyph = 0x2588;
    static constexpr char16_t PlaceholderGlyph = 0x00B7;

    DeviceModel();

    QList<DeviceEvent> feed(const QByteArray &bytes);

    QStringList lines() const { return m_lines; }
    int cursorLine() const { return m_cursorLine; }
    // Keeps counting past the last visible column; characters there are not shown.
    int cursorColumn() const { return m_cursorColumn; }

    // Bit i is set while key i + 1 is down; bits 6 and 7 are ignored.
    void setKeys(quint8 keys) { m_keys = keys & KeyMask; }
    quint8 keys() const { return m_keys; }

    // Faults to inject: no replies to key-status requests; keys that stay down whatever
    // setKeys says.
    void setMuted(bool muted) { m_muted = muted; }
    void setStuckKeys(quint8 keys) { m_stuckKeys = keys & KeyMask; }

private:
    static QChar glyphFor(quint8 code);
    DeviceEvent clear();
    DeviceEvent newLine();
    DeviceEvent command(quint8 code);
    void writeCharacter(quint8 code, QList<DeviceEvent> &events);

    QStringList m_lines;
    int m_cursorLine = 0;
    int m_cursorColumn = 0;
    quint8 m_keys = 0;
    quint8 m_stuckKeys = 0;
    bool m_muted = false;
    bool m_prefixPending = false;
};
