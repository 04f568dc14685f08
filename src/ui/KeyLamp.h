#pragma once

#include <QColor>
#include <QWidget>

namespace KeyColor
{
inline const QColor On = QColor(255, 0, 0);
inline const QColor Off = QColor(0, 255, 0);
} // namespace KeyColor

// A key indicator's circle, the window's shpKey: a filled circle, as large as its box allows and
// centred in it, in a settable fill colour.
class KeyLamp : public QWidget
{
    Q_OBJECT

public:
    explicit KeyLamp(QWidget *parent = nullptr);

    QColor fillColor() const { return m_fillColor; }
    void setFillColor(const QColor &color);
    // Red for a key that is on, green for one that is off.
    void showKey(bool on) { setFillColor(on ? KeyColor::On : KeyColor::Off); }

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    QColor m_fillColor = Qt::black;
};
