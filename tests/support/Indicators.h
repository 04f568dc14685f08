#pragma once

#include <QString>

class QWidget;

// The six key indicators of a window as shown, e.g. "1 on #ff0000, 2 off #00ff00, ...".
QString indicators(const QWidget &window);
// What they show for the keys listed in onKeys ("13": keys 1 and 3), or before any reply ("?").
QString showing(const QString &onKeys);
