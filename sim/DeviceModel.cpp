#include "DeviceModel.h"

#include <limits>

namespace
{

QString blankLine()
{
    return QString(DeviceModel::ColumnCount, QLatin1Char(' '));
}

} // namespace

QString DeviceEvent::description() const
{
    switch (kind) {
    case Kind::Clear:
        return QStringLiteral("clear");
    case Kind::NewLine:
        return QStringLiteral("new line");
    case Kind::Home:
        return QStringLiteral("home");
    case Kind::KeyStatusRequest:
        return QStringLiteral("key-status request");
    case Kind::UnknownCommand:
        return QStringLiteral("unknown command %1").arg(hexBytes(bytes));
    case Kind::Text:
        break;
    }
    return QStringLiteral("text \"%1\"").arg(text);
}

QString hexBytes(const QByteArray &bytes)
{
    return QString::fromLatin1(bytes.toHex(' ').toUpper());
}

DeviceModel::DeviceModel() : m_lines(LineCount, blankLine()) {}

QList<DeviceEvent> DeviceModel::feed(const QByteArray &bytes)
{
    QList<DeviceEvent> events;
    for (const char c : bytes) {
        const auto code = static_cast<quint8>(c);
        if (m_prefixPending) {
            m_prefixPending = false;
            events.append(command(code));
            continue;
        }
        switch (code) {
        case ClearCode:
            events.append(clear());
            break;
        case NewLineCode:
            events.append(newLine());
            break;
        case CommandPrefix:
            m_prefixPending = true;
            break;
        default:
            writeCharacter(code, events);
            break;
        }
    }
    return events;
}

QChar DeviceModel::glyphFor(quint8 code)
{
    if (code >= 0x20 && code <= 0x7D)
        return QLatin1Char(static_cast<char>(code));
    if (code == 0xFF)
        return QChar(BlockGlyph);
    return QChar(PlaceholderGlyph);
}

DeviceEvent DeviceModel::clear()
{
    DeviceEvent event;
    event.kind = DeviceEvent::Kind::Clear;
    event.bytes = QByteArray(1, static_cast<char>(ClearCode));
    for (QString &line : m_lines) {
        if (line != blankLine()) {
            line = blankLine();
            event.screenChanged = true;
        }
    }
    m_cursorLine = 0;
    m_cursorColumn = 0;
    return event;
}

DeviceEvent DeviceModel::newLine()
{
    DeviceEvent event;
    event.kind = DeviceEvent::Kind::NewLine;
    event.bytes = QByteArray(1, static_cast<char>(NewLineCode));
    m_cursorLine = (m_cursorLine + 1) % LineCount;
    m_cursorColumn = 0;
    return event;
}

DeviceEvent DeviceModel::command(quint8 code)
{
    DeviceEvent event;
    event.bytes = QByteArray(1, static_cast<char>(CommandPrefix));
    event.bytes.append(static_cast<char>(code));
    switch (code) {
    case HomeCommand:
        event.kind = DeviceEvent::Kind::Home;
        m_cursorLine = 0;
        m_cursorColumn = 0;
        break;
    case KeyStatusCommand:
        event.kind = DeviceEvent::Kind::KeyStatusRequest;
        if (!m_muted)
            event.reply = QByteArray(1, static_cast<char>(m_keys | m_stuckKeys));
        break;
    default:
        event.kind = DeviceEvent::Kind::UnknownCommand;
        break;
    }
    return event;
}

void DeviceModel::writeCharacter(quint8 code, QList<DeviceEvent> &events)
{
    if (events.isEmpty() || events.constLast().kind != DeviceEvent::Kind::Text)
        events.append(DeviceEvent{});
    DeviceEvent &event = events.last();
    const QChar glyph = glyphFor(code);
    event.bytes.append(static_cast<char>(code));
    event.text.append(glyph);

    if (m_cursorColumn < ColumnCount) {
        QChar &cell = m_lines[m_cursorLine][m_cursorColumn];
        if (cell != glyph) {
            cell = glyph;
            event.screenChanged = true;
        }
    }
    // A flood without a new line must not overflow the column.
    if (m_cursorColumn < std::numeric_limits<int>::max())
        ++m_cursorColumn;
}
