#include "KeyPanel.h"

#include "Guarded.h"

#include <QHBoxLayout>
#include <QMouseEvent>
#include <QPushButton>

namespace
{

// Checked means latched, which the style draws as pressed. A left click only holds the button
// down; the right button latches and releases.
class KeyButton : public QPushButton
{
public:
    using QPushButton::QPushButton;

protected:
    void nextCheckState() override {}

    void mousePressEvent(QMouseEvent *event) override
    {
        if (event->button() == Qt::RightButton) {
            setChecked(!isChecked());
            event->accept();
        } else {
            QPushButton::mousePressEvent(event);
        }
    }
};

} // namespace

KeyPanel::KeyPanel(QWidget *parent) : QWidget(parent)
{
    auto *layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    for (int index = 0; index < KeyCount; ++index) {
        QPushButton *button = new KeyButton(tr("Key %1").arg(index + 1), this);
        button->setCheckable(true);
        button->setToolTip(tr("Hold the left button to press the key; right-click to leave it "
                              "down, and right-click again to release it"));
        const auto update = [this] {
            runGuarded("pressing keys", [this] { updateKeys(); });
        };
        connect(button, &QPushButton::pressed, this, update);
        connect(button, &QPushButton::released, this, update);
        connect(button, &QPushButton::toggled, this, update);
        layout->addWidget(button);
        m_buttons.append(button);
    }
}

void KeyPanel::updateKeys()
{
    quint8 keys = 0;
    for (int index = 0; index < m_buttons.size(); ++index) {
        const QPushButton *button = m_buttons.at(index);
        if (button->isDown() || button->isChecked())
            keys |= static_cast<quint8>(1u << index);
    }
    if (keys != m_keys) {
        m_keys = keys;
        emit keysChanged(keys);
    }
}
