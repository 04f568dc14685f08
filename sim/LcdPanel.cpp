#include "LcdPanel.h"

#include "DeviceModel.h"

#include <QFontDatabase>
#include <QLinearGradient>
#include <QPainter>

#include <algorithm>

namespace
{

// Cell proportions of a 5 x 8 dot character with its gaps.
constexpr qreal CellAspect = 0.62;
constexpr int HintCellHeight = 44;
constexpr int MinimumCellHeight = 20;
constexpr qreal GapRatio = 0.12;
constexpr qreal BezelRatio = 0.5;

constexpr QRgb BezelColor = qRgb(0x1c, 0x1f, 0x1a);
constexpr QRgb BacklightTop = qRgb(0xc8, 0xe0, 0x4a);
constexpr QRgb BacklightBottom = qRgb(0xa6, 0xc4, 0x30);
constexpr QRgb UnlitCell = qRgba(0x5a, 0x70, 0x10, 40);
constexpr QRgb DotGap = qRgba(0xc8, 0xe0, 0x4a, 150);
constexpr QRgb InkColor = qRgba(0x1a, 0x26, 0x08, 235);

// Thin lines of backlight between the 5 x 8 dots, so characters read as dot-matrix.
void drawDotGaps(QPainter &painter, const QRectF &cell)
{
    const qreal pitchX = cell.width() / 5;
    const qreal pitchY = cell.height() / 8;
    const qreal gap = std::max(1.0, pitchX * 0.14);
    const QColor color = QColor::fromRgba(DotGap);
    for (int i = 1; i < 5; ++i)
        painter.fillRect(QRectF(cell.left() + i * pitchX - gap / 2, cell.top(), gap, cell.height()),
                         color);
    for (int i = 1; i < 8; ++i)
        painter.fillRect(QRectF(cell.left(), cell.top() + i * pitchY - gap / 2, cell.width(), gap),
                         color);
}

} // namespace

LcdPanel::LcdPanel(QWidget *parent) : QWidget(parent)
{
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    setAttribute(Qt::WA_OpaquePaintEvent);
}

void LcdPanel::setContent(const QStringList &lines, int cursorLine, int cursorColumn)
{
    m_lines = lines;
    m_cursorLine = cursorLine;
    m_cursorColumn = cursorColumn;
    update();
}

int LcdPanel::columnCount() const
{
    int columns = 1;
    for (const QString &line : m_lines)
        columns = std::max(columns, static_cast<int>(line.size()));
    return columns;
}

QSize LcdPanel::sizeHint() const
{
    const int rows = std::max(1, static_cast<int>(m_lines.size()));
    const int width = qRound(HintCellHeight * CellAspect * (columnCount() + 2 * BezelRatio + 1));
    const int height = qRound(HintCellHeight * (rows + 2 * BezelRatio + 0.6));
    return {width, height};
}

QSize LcdPanel::minimumSizeHint() const
{
    return sizeHint() * MinimumCellHeight / HintCellHeight;
}

void LcdPanel::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.fillRect(rect(), palette().window());

    const int rows = std::max(1, static_cast<int>(m_lines.size()));
    const int columns = columnCount();
    // Largest cell that fits both ways, so the panel keeps its proportions when resized.
    const qreal cellHeight = std::min(height() / (rows + 2 * BezelRatio + 0.6),
                                      width() / (CellAspect * (columns + 2 * BezelRatio + 1)));
    const qreal cellWidth = cellHeight * CellAspect;
    const qreal gap = cellHeight * GapRatio;
    const QSizeF glass(columns * cellWidth + (columns - 1) * gap + cellWidth,
                       rows * cellHeight + (rows - 1) * gap + cellHeight * 0.6);
    const qreal bezel = cellHeight * BezelRatio;
    QRectF frame(QPointF(0, 0), glass + QSizeF(2 * bezel, 2 * bezel));
    frame.moveCenter(QRectF(rect()).center());

    painter.setPen(Qt::NoPen);
    painter.setBrush(QColor::fromRgba(BezelColor));
    painter.drawRoundedRect(frame, bezel * 0.5, bezel * 0.5);

    const QRectF glassRect(frame.topLeft() + QPointF(bezel, bezel), glass);
    QLinearGradient backlight(glassRect.topLeft(), glassRect.bottomLeft());
    backlight.setColorAt(0, QColor::fromRgba(BacklightTop));
    backlight.setColorAt(1, QColor::fromRgba(BacklightBottom));
    painter.setBrush(backlight);
    painter.drawRoundedRect(glassRect, gap, gap);

    QFont font = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    font.setPixelSize(std::max(1, qRound(cellHeight * 0.78)));
    font.setWeight(QFont::Bold);
    painter.setFont(font);

    const QPointF origin = glassRect.topLeft() + QPointF(cellWidth / 2, cellHeight * 0.3);
    for (int row = 0; row < rows; ++row) {
        const QString &line = m_lines.at(row);
        for (int column = 0; column < columns; ++column) {
            const QRectF cell(origin +
                                  QPointF(column * (cellWidth + gap), row * (cellHeight + gap)),
                              QSizeF(cellWidth, cellHeight));
            painter.setPen(Qt::NoPen);
            painter.setBrush(QColor::fromRgba(UnlitCell));
            painter.drawRect(cell);
            painter.setPen(QColor::fromRgba(InkColor));
            const QChar glyph = column < line.size() ? line.at(column) : QChar(QLatin1Char(' '));
            // All dots on: the font's block would not fill the cell the way the panel does.
            if (glyph == QChar(DeviceModel::BlockGlyph))
                painter.fillRect(cell, QColor::fromRgba(InkColor));
            else
                painter.drawText(cell, Qt::AlignCenter, QString(glyph));
            drawDotGaps(painter, cell);
            if (row == m_cursorLine && column == m_cursorColumn) {
                const qreal bar = cellHeight / 10;
                painter.fillRect(QRectF(cell.left(), cell.bottom() - bar, cell.width(), bar),
                                 QColor::fromRgba(InkColor));
            }
        }
    }
}
