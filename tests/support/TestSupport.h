#pragma once

#include "PtyPair.h"
#include "ui/MainWindow.h"

#include <QByteArray>
#include <QList>
#include <QMessageBox>
#include <QObject>
#include <QString>
#include <QTimer>

#include <memory>

class MSComm;
class QAbstractButton;
class QLabel;
class QPlainTextEdit;
class QLineEdit;

// What a modal message box showed before the watcher closed it.
struct SeenMessage {
    QString title;
    QString text;
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    QList<QString> buttons;
};

// Closes every modal message box as soon as it shows, remembering what it said.
class ModalWatcher : public QObject
{
    Q_OBJECT

public:
    explicit ModalWatcher(QObject *parent = nullptr);
    QList<SeenMessage> messages;

private:
    void check();
    QTimer m_timer;
};

// A main window whose port 1 (and, on request, port 2) is the slave of a pseudo-terminal.
class WindowHarness
{
public:
    WindowHarness();
    ~WindowHarness();

    MainWindow &window() { return *m_window; }
    PtyPair &line() { return *m_line; }
    ModalWatcher &modals() { return m_modals; }

    template <typename Control = QAbstractButton> Control *control(const QString &name) const;

    MSComm &port() const;
    QPlainTextEdit &log() const;
    QString logText() const;

    // Clicks a button as the engineer would; false when it is disabled or missing.
    bool click(const QString &name);
    // Opens port 1 through the toggle; true when the window is in the Open state after it.
    bool openPort();
    // Lets pending events run for about ms milliseconds.
    static void runEvents(int ms);
    // The bytes the utility wrote, once the line goes quiet.
    QByteArray wire(int quietMs = 100);

private:
    std::unique_ptr<PtyPair> m_line;
    std::unique_ptr<MainWindow> m_window;
    ModalWatcher m_modals;
    QByteArray m_previousCom1;
    bool m_hadCom1 = false;
};

template <typename Control> Control *WindowHarness::control(const QString &name) const
{
    return m_window->findChild<Control *>(name);
}
