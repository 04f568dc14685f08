#pragma once

#include <QStringList>
#include <QWidget>

// Draws the character display the way the backlit panel looks: a grid of character cells on a
// yellow-green backlight, with an underline at the cursor while it is on a visible cell.
class LcdPanel : public QWidget
{
    Q_OBJECT

public:
    explicit LcdPanel(QWidget *parent = nullptr);

    void setContent(const QStringList &lines, int cursorLine, int cursorColumn);

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    int columnCount() const;

    QStringList m_lines;
    int m_cursorLine = 0;
    int m_cursorColumn = 0;
};
