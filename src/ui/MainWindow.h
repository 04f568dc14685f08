#pragma once

#include "commands/DeviceCodes.h"
#include "commands/Keypad.h"
#include "link/PortConnection.h"

#include <QWidget>

#include <memory>

class FailureReporter;
class MSComm;
class Pause;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;
class QRadioButton;
class QTimer;
class KeyLamp;
class SentLog;

// The utility's only window: every control, the serial port component, the polling flag and the
// transmit routine. Each handled event has one handler here; the work is done in link/ and
// commands/, which hand back what the controls are to show.
class MainWindow : public QWidget
{
    Q_OBJECT

public:
    explicit MainWindow(QWidget *parent = nullptr);
    ~MainWindow() override;

protected:
    void closeEvent(QCloseEvent *event) override;

private:
    void createControls();
    void orderTabStops();
    void connectHandlers();

    void cmdComClicked();
    void cmdExitClicked();
    void cmdClearClicked();
    void cmdHomeClicked();
    void cmdNewLineClicked();
    void cmdBannerClicked();
    void cmdRippleClicked();
    void cmdSendClicked();
    void cmdGetKeyClicked();
    void cmdPollKeyClicked();
    void tmrPollTimer();
    void MSComm1OnComm();
    void MSComm1OutputDropped(qint64 count);

    // Runs a handler's work; a failure that leaves it is told, never passed to the event loop.
    template <typename Work> void handle(const QString &what, Work &&work) noexcept;

    void SendToDevice(const QByteArray &deviceString);
    // The captions and enabled controls of the Open or the Closed state.
    void showPortOpen(bool open);

    QLabel *lblAdvert[3] = {};
    QGroupBox *fraComs = nullptr;
    QLabel *lblComStatus = nullptr;
    QGroupBox *frabaud = nullptr;
    QRadioButton *optBaud[2] = {};
    QGroupBox *fraPort = nullptr;
    QRadioButton *optPort[2] = {};
    QPushButton *cmdCom = nullptr;
    QPushButton *cmdHome = nullptr;
    QPushButton *cmdClear = nullptr;
    QPushButton *cmdNewLine = nullptr;
    QPushButton *cmdRipple = nullptr;
    QPushButton *cmdBanner = nullptr;
    QPushButton *cmdExit = nullptr;
    QGroupBox *fraSendText = nullptr;
    QPushButton *cmdSend = nullptr;
    QLineEdit *txtSend = nullptr;
    QPlainTextEdit *txtSent = nullptr;
    QGroupBox *fraKeys = nullptr;
    QPushButton *cmdGetKey = nullptr;
    QPushButton *cmdPollKey = nullptr;
    std::array<QLabel *, KeyCount> lblKey{};
    std::array<KeyLamp *, KeyCount> shpKey{};
    QTimer *tmrPoll = nullptr;
    MSComm *MSComm1 = nullptr;

    bool bPolling = false;
    Pause *m_pause = nullptr;
    FailureReporter *m_failures = nullptr;
    std::unique_ptr<SentLog> m_sentLog;
    const DeviceSender m_send;
};
