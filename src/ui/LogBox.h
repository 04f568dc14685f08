#pragma once

#include <QPlainTextEdit>

// A text box that keeps the end of its text in view, so a log that grows past the box still
// shows its newest bytes without a scroll bar. Whoever sets the text sets nothing else; the
// whole text can still be selected and copied.
class LogBox : public QPlainTextEdit
{
    Q_OBJECT

public:
    explicit LogBox(QWidget *parent = nullptr);

protected:
    void resizeEvent(QResizeEvent *event) override;
};
