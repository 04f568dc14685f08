#pragma once

#include <QColor>
#include <QWidget>

// The window's shape control (the shp prefix): a filled circle, as large as its box allows and
// centred in it, in a settable fill colour. The window's only shapes are the key lamps, shpKey.
class Shape : public QWidget
{
    Q_OBJECT

public:
    explicit Shape(QWidget *parent = nullptr);

    QColor fillColor() const { return m_fillColor; }
    void setFillColor(const QColor &color);

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    QColor m_fillColor = Qt::black;
};
