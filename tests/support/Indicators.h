#pragma once

#include <QObject>
#include <QString>

#include <functional>

class QMessageBox;
class QWidget;

// The six key indicators of a window as shown, e.g. "1 on #ff0000, 2 off #00ff00, ...".
QString indicators(const QWidget &window);
// What they show for the keys listed in onKeys ("13": keys 1 and 3), or before the first reply.
QString showing(const QString &onKeys, bool replied = true);
inline QString showingNoReplyYet()
{
    return showing({}, false);
}

// Hands every message box, as it shows, to shown, for as long as it lives.
class MessageBoxWatcher : public QObject
{
public:
    explicit MessageBoxWatcher(std::function<void(QMessageBox &)> shown);

private:
    bool eventFilter(QObject *watched, QEvent *event) override;

    std::function<void(QMessageBox &)> m_shown;
};
