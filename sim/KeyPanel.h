#pragma once

#include <QList>
#include <QWidget>

class QPushButton;

// The six keys. A key is down while the left mouse button holds its button, as on the keypad,
// or while a right-click has latched it, so that it stays down; another right-click
// releases it.
class KeyPanel : public QWidget
{
    Q_OBJECT

public:
    static constexpr int KeyCount = 6;

    explicit KeyPanel(QWidget *parent = nullptr);

signals:
    // Bit i is set while key i + 1 is down.
    void keysChanged(quint8 keys);

private:
    void updateKeys();

    QList<QPushButton *> m_buttons;
    quint8 m_keys = 0;
};
