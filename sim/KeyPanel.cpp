#include "KeyPanel.h"

#include "Guarded.h"

#include <QHBoxLayout>
#include <QPushButton>

KeyPanel::KeyPanel(QWidget *parent) : QWidget(parent)
{
    auto *layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    for (int index = 0; index < KeyCount; ++index) {
        auto *button = new QPushButton(tr("Key %1").arg(index + 1), this);
        button->setCheckable(true);
        button->setToolTip(tr("Hold to press the key, click to leave it down"));
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
