#include "MainWindow.h"

#include "FailureReporter.h"
#include "KeyLamp.h"
#include "LogBox.h"
#include "WindowLayout.h"
#include "commands/DisplayCommands.h"
#include "commands/Pause.h"
#include "common/AppInfo.h"
#include "link/MSComm.h"
#include "link/SentLog.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTimer>

#include <exception>
#include <limits>

using WindowLayout::twips;

namespace
{

template <typename Control>
Control *place(Control *control, const QString &name, const QRect &geometry,
               const QString &toolTip = {})
{
    control->setObjectName(name);
    control->setGeometry(geometry);
    control->setToolTip(toolTip);
    return control;
}

QLabel *centredLabel(const QString &text, QWidget *parent)
{
    auto *label = new QLabel(text, parent);
    label->setAlignment(Qt::AlignCenter);
    return label;
}

QPushButton *commandButton(const QString &caption, QWidget *parent, bool enabled = false)
{
    auto *button = new QPushButton(caption, parent);
    button->setAutoDefault(false);
    button->setDefault(false);
    button->setEnabled(enabled);
    return button;
}

} // namespace

MainWindow::MainWindow(QWidget *parent)
    : QWidget(parent, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                          Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint),
      m_send([this](const QByteArray &deviceString) { SendToDevice(deviceString); })
{
    setObjectName(QStringLiteral("MainWindow"));
    setWindowTitle(AppInfo::WindowCaption);
    setFixedSize(WindowLayout::clientSize());

    createControls();
    orderTabStops();
    connectHandlers();
    txtSent->setFocus();
}

MainWindow::~MainWindow()
{
    // A ripple paused further up the stack must not write through a window that is gone.
    m_pause->end();
}

void MainWindow::createControls()
{
    const QString advertTexts[3] = {AppInfo::Heading, AppInfo::Copyright, AppInfo::WebAddress};
    for (int index = 0; index < 3; ++index)
        lblAdvert[index] = place(centredLabel(advertTexts[index], this),
                                 QStringLiteral("lblAdvert(%1)").arg(index),
                                 twips(120, 120 + 240 * index, 4695, 255));

    fraComs = place(new QGroupBox(QStringLiteral("Communication"), this), "fraComs",
                    twips(120, 960, 2295, 1815));
    lblComStatus = place(centredLabel(ConnectionText::ClosedStatus, fraComs), "lblComStatus",
                         twips(240, 240, 1935, 255));

    const QString rateTip = QStringLiteral("select data rate");
    frabaud = place(new QGroupBox(fraComs), "frabaud", twips(120, 480, 975, 735), rateTip);
    optBaud[0] = place(new QRadioButton(QStringLiteral("2400"), frabaud), "optBaud(0)",
                       twips(120, 120, 735, 255), rateTip);
    optBaud[1] = place(new QRadioButton(QStringLiteral("9600"), frabaud), "optBaud(1)",
                       twips(120, 360, 735, 255), rateTip);
    optBaud[0]->setChecked(true);

    const QString portTip = QStringLiteral("Select com port");
    fraPort = place(new QGroupBox(fraComs), "fraPort", twips(1200, 480, 975, 735), portTip);
    optPort[0] = place(new QRadioButton(QStringLiteral("com1"), fraPort), "optPort(0)",
                       twips(120, 120, 735, 255), portTip);
    optPort[1] = place(new QRadioButton(QStringLiteral("com2"), fraPort), "optPort(1)",
                       twips(120, 360, 735, 255), portTip);
    optPort[0]->setChecked(true);

    cmdCom = place(commandButton(ConnectionText::OpenCaption, fraComs, true), "cmdCom",
                   twips(120, 1320, 2055, 375), QStringLiteral("Open/close com port"));

    cmdHome = place(commandButton(QStringLiteral("Home"), this), "cmdHome",
                    twips(2760, 1080, 855, 495), QStringLiteral("Move LCd cursor to home on LCD"));
    cmdClear = place(commandButton(QStringLiteral("Clear"), this), "cmdClear",
                     twips(3840, 1080, 855, 495), QStringLiteral("Clear LCD"));
    cmdNewLine = place(commandButton(QStringLiteral("NewLine"), this), "cmdNewLine",
                       twips(2760, 1680, 855, 495),
                       QStringLiteral("Move cursor to start of new line on LCD"));
    cmdRipple =
        place(commandButton(QStringLiteral("Ripple"), this), "cmdRipple",
              twips(3840, 1680, 855, 495), QStringLiteral("Ripple through each LCD position"));
    cmdBanner = place(commandButton(QStringLiteral("Banner"), this), "cmdBanner",
                      twips(2760, 2280, 855, 495), QStringLiteral("Display banner message on LCD"));
    cmdExit = place(commandButton(QStringLiteral("E&xit"), this, true), "cmdExit",
                    twips(3840, 2280, 855, 495), QStringLiteral("Exit the KV310 test program"));

    fraSendText = place(new QGroupBox(QStringLiteral("Send text string"), this), "fraSendText",
                        twips(120, 2880, 4695, 855));
    cmdSend = place(commandButton(QStringLiteral("Send"), fraSendText), "cmdSend",
                    twips(120, 240, 855, 495), QStringLiteral("Send text string to KV310"));
    txtSend = place(new QLineEdit(fraSendText), "txtSend", twips(1200, 360, 3375, 375),
                    QStringLiteral("String to send to KV310"));
    // The box has no limit of its own; QLineEdit's default would cut the text at 32767.
    txtSend->setMaxLength(std::numeric_limits<int>::max());

    txtSent = place(new LogBox(this), "txtSent", twips(120, 3840, 4695, 1575),
                    QStringLiteral("Data sent to KV310 in hex"));
    txtSent->setReadOnly(true);
    txtSent->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
    txtSent->setFocusPolicy(Qt::StrongFocus);
    txtSent->setLineWrapMode(QPlainTextEdit::WidgetWidth);
    txtSent->setWordWrapMode(QTextOption::WordWrap);
    txtSent->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    txtSent->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    txtSent->setUndoRedoEnabled(false);
    m_sentLog = std::make_unique<SentLog>(txtSent->toPlainText());

    fraKeys = place(new QGroupBox(QStringLiteral("Keyboard"), this), "fraKeys",
                    twips(120, 5520, 4695, 855));
    cmdGetKey =
        place(commandButton(QStringLiteral("Get Key"), fraKeys), "cmdGetKey",
              twips(120, 240, 735, 495), QStringLiteral("Single key status request from KV310"));
    cmdPollKey = place(commandButton(QStringLiteral("Poll Key"), fraKeys), "cmdPollKey",
                       twips(960, 240, 735, 495),
                       QStringLiteral("Continuous poll of KV310 keypad, hit any key to stop"));
    for (int index = 0; index < KeyCount; ++index) {
        const int left = 1800 + 480 * index;
        const QString digit = QString::number(index + 1);
        lblKey[index] = place(centredLabel(digit + QStringLiteral(" ??"), fraKeys),
                              QStringLiteral("lblKey(%1)").arg(index), twips(left, 240, 375, 255),
                              QStringLiteral("Key %1 status").arg(digit));
        shpKey[index] = place(new KeyLamp(fraKeys), QStringLiteral("shpKey(%1)").arg(index),
                              twips(left, 480, 375, 255));
    }

    tmrPoll = new QTimer(this);
    tmrPoll->setObjectName(QStringLiteral("tmrPoll"));
    // Keeps the 100 ms cadence; a coarse timer may be off by several percent.
    tmrPoll->setTimerType(Qt::PreciseTimer);

    MSComm1 = new MSComm(this);
    MSComm1->setObjectName(QStringLiteral("MSComm1"));

    m_pause = new Pause(this);
    m_failures = new FailureReporter(this);
}

void MainWindow::orderTabStops()
{
    // Tab moves through the focusable controls in this order; disabled ones are passed over, and
    // Qt enters an option group at its checked button.
    QWidget *const order[] = {txtSent,    cmdCom,   cmdRipple,  optBaud[0], optBaud[1], optPort[0],
                              optPort[1], cmdClear, cmdNewLine, cmdHome,    cmdBanner,  cmdExit,
                              cmdSend,    txtSend,  cmdGetKey,  cmdPollKey};
    for (std::size_t index = 1; index < std::size(order); ++index)
        QWidget::setTabOrder(order[index - 1], order[index]);
}

void MainWindow::connectHandlers()
{
    connect(cmdCom, &QPushButton::clicked, this, &MainWindow::cmdComClicked);
    connect(cmdExit, &QPushButton::clicked, this, &MainWindow::cmdExitClicked);
    connect(cmdClear, &QPushButton::clicked, this, &MainWindow::cmdClearClicked);
    connect(cmdHome, &QPushButton::clicked, this, &MainWindow::cmdHomeClicked);
    connect(cmdNewLine, &QPushButton::clicked, this, &MainWindow::cmdNewLineClicked);
    connect(cmdBanner, &QPushButton::clicked, this, &MainWindow::cmdBannerClicked);
    connect(cmdRipple, &QPushButton::clicked, this, &MainWindow::cmdRippleClicked);
    connect(cmdSend, &QPushButton::clicked, this, &MainWindow::cmdSendClicked);
    connect(cmdGetKey, &QPushButton::clicked, this, &MainWindow::cmdGetKeyClicked);
    connect(cmdPollKey, &QPushButton::clicked, this, &MainWindow::cmdPollKeyClicked);
    connect(tmrPoll, &QTimer::timeout, this, &MainWindow::tmrPollTimer);
    connect(MSComm1, &MSComm::OnComm, this, &MainWindow::MSComm1OnComm);
    connect(MSComm1, &MSComm::outputDropped, this, &MainWindow::MSComm1OutputDropped);
}

template <typename Work> void MainWindow::handle(const QString &what, Work &&work) noexcept
{
    try {
        try {
            work();
        } catch (const CommError &error) {
            m_failures->report(what, error.reason());
        } catch (const std::exception &error) {
            m_failures->report(what, QString::fromLocal8Bit(error.what()));
        } catch (...) {
            m_failures->report(what, tr("unknown error"));
        }
    } catch (...) {
        // Even telling the engineer failed; the event loop must still never see it.
    }
}

void MainWindow::SendToDevice(const QByteArray &deviceString)
{
    m_sentLog->send(*MSComm1, deviceString);
    txtSent->setPlainText(m_sentLog->text());
}

void MainWindow::showPortOpen(bool open)
{
    // The options can be changed only while the port is closed, the commands used only while it
    // is open.
    cmdCom->setText(open ? ConnectionText::CloseCaption : ConnectionText::OpenCaption);
    lblComStatus->setText(open ? ConnectionText::OpenStatus : ConnectionText::ClosedStatus);
    for (QRadioButton *option : {optPort[0], optPort[1], optBaud[0], optBaud[1]})
        option->setEnabled(!open);
    for (QPushButton *command :
         {cmdClear, cmdBanner, cmdHome, cmdNewLine, cmdRipple, cmdSend, cmdGetKey, cmdPollKey})
        command->setEnabled(open);
}

void MainWindow::cmdComClicked()
{
    handle(tr("Opening or closing the port"), [this] {
        const PortChoice choice{
            qint16(optPort[0]->isChecked() ? 1 : 2), {}, optBaud[0]->isChecked() ? 2400 : 9600};
        const ToggleResult result = toggleConnection(*MSComm1, bPolling, choice);
        if (result.nowOpen)
            showPortOpen(*result.nowOpen);
        if (!result.message.isEmpty()) {
            QMessageBox box(QMessageBox::NoIcon, AppInfo::ApplicationTitle, result.message,
                            QMessageBox::Ok, this);
            box.exec();
        }
    });
}

void MainWindow::cmdExitClicked()
{
    handle(tr("Exit"), [this] { closePortForExit(*MSComm1); });
    m_pause->end();
    // Not quit(): Qt 6.4's quit() first asks the platform to end the session, which under Wine
    // never returns.
    QCoreApplication::exit(0);
}

void MainWindow::closeEvent(QCloseEvent *event)
{
    // Closing from the title bar ends the program; a paused ripple must end without writing.
    m_pause->end();
    event->accept();
}

void MainWindow::cmdClearClicked()
{
    handle(tr("Clear"), [this] { sendDisplayCommand(bPolling, m_send, clearCommand()); });
}

void MainWindow::cmdHomeClicked()
{
    handle(tr("Home"), [this] { sendDisplayCommand(bPolling, m_send, homeCommand()); });
}

void MainWindow::cmdNewLineClicked()
{
    handle(tr("NewLine"), [this] { sendDisplayCommand(bPolling, m_send, newLineCommand()); });
}

void MainWindow::cmdBannerClicked()
{
    handle(tr("Banner"), [this] { sendDisplayCommand(bPolling, m_send, bannerCommand()); });
}

void MainWindow::cmdRippleClicked()
{
    // When the program ends during one of the pauses, ripple() returns at once without touching
    // the window again; a failed write can only come while the window is alive.
    handle(tr("Ripple"), [this] { ripple(bPolling, m_send, *m_pause); });
}

void MainWindow::cmdSendClicked()
{
    handle(tr("Send"), [this] { sendText(bPolling, m_send, txtSend->text()); });
}

void MainWindow::cmdGetKeyClicked()
{
    handle(tr("Get Key"), [this] { getKey(*MSComm1, bPolling, m_send); });
}

void MainWindow::cmdPollKeyClicked()
{
    handle(tr("Poll Key"), [this] { pollKey(*MSComm1, bPolling, *tmrPoll, m_send); });
}

void MainWindow::tmrPollTimer()
{
    handle(tr("Key poll"), [this] { pollTick(bPolling, *tmrPoll, m_send); });
}

void MainWindow::MSComm1OnComm()
{
    handle(tr("Reading the keypad"), [this] {
        const std::optional<KeyStates> keys = receiveKeyStatus(*MSComm1);
        for (int index = 0; keys && index < KeyCount; ++index) {
            shpKey[index]->showKey((*keys)[index].on);
            lblKey[index]->setText((*keys)[index].caption);
        }
    });
}

void MainWindow::MSComm1OutputDropped(qint64 count)
{
    // The log shows what went over the line: text still queued when the port closed or the
    // device went never did.
    handle(tr("Updating the log"), [this, count] {
        if (m_sentLog->dropUnsent(count))
            txtSent->setPlainText(m_sentLog->text());
    });
}
