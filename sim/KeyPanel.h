#pragma once

#include <QList>
#include <QWidget>

class QPushButton;

// The six keys. A key is down while its button is held or while it is toggled on, so an engineer
// can both tap a key and leave it down.
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
