#include "LogBox.h"

LogBox::LogBox(QWidget *parent) : QPlainTextEdit(parent)
{
    // New text puts the caret at its start and shows it there; at the end, the box shows the
    // end instead.
    connect(this, &QPlainTextEdit::textChanged, this, [this] { moveCursor(QTextCursor::End); });
}

void LogBox::resizeEvent(QResizeEvent *event)
{
    QPlainTextEdit::resizeEvent(event);
    ensureCursorVisible();
}
