#pragma once

#include <QObject>

#include <chrono>
#include <memory>
#include <vector>

class QEventLoop;

// Waits while the window's events go on being handled, without spinning the processor.
// Pauses can nest: a command run from inside a pause may pause in turn.
class Pause : public QObject
{
    Q_OBJECT

public:
    explicit Pause(QObject *parent = nullptr);
    // Ends every pause in progress, as end() does.
    ~Pause() override;

    // Returns true once the whole duration has passed. Returns false when the program is
    // ending (end() was called, this object was destroyed, or the application is quitting);
    // the caller must then stop at once and touch nothing it does not own.
    bool wait(std::chrono::milliseconds duration);

    // The program is ending: every pause in progress returns false now, and so does every
    // later one.
    void end();

private:
    struct Wait {
        QEventLoop *loop;
        std::shared_ptr<bool> ended;
    };
    std::vector<Wait> m_waits;
    bool m_ended = false;
};
