#include "KeyLamp.h"

#include <QPainter>

KeyLamp::KeyLamp(QWidget *parent) : QWidget(parent)
{
    setFocusPolicy(Qt::NoFocus);
}

void KeyLamp::setFillColor(const QColor &color)
{
    if (color == m_fillColor)
        return;
    m_fillColor = color;
    update();
}

void KeyLamp::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const int diameter = qMin(width(), height()) - 1;
    const QRectF circle((width() - 1 - diameter) / 2.0, (height() - 1 - diameter) / 2.0, diameter,
                        diameter);
    painter.setPen(QPen(palette().color(QPalette::WindowText), 1));
    painter.setBrush(m_fillColor);
    painter.drawEllipse(circle.translated(0.5, 0.5));
}
