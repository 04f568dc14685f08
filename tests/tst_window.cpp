#include "TestSupport.h"
#include "common/AppInfo.h"
#include "common/Shape.h"
#include "ui/WindowLayout.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSignalSpy>
#include <QStyle>
#include <QStyleOptionButton>

namespace
{

// Why caption would not fit the control as its style lays it out; empty when it fits.
QString misfit(QWidget *control, const QString &caption)
{
    QRect room = control->contentsRect();
    QStyleOptionButton option;
    option.initFrom(control);
    if (qobject_cast<QRadioButton *>(control)) {
        room = control->style()->subElementRect(QStyle::SE_RadioButtonContents, &option, control);
    } else if (qobject_cast<QPushButton *>(control)) {
        const int margin = control->style()->pixelMetric(QStyle::PM_ButtonMargin, &option) / 2;
        room = control->style()
                   ->subElementRect(QStyle::SE_PushButtonContents, &option, control)
                   .adjusted(margin, 0, -margin, 0);
    } else if (auto *box = qobject_cast<QGroupBox *>(control)) {
        // The title sits in the top border, clear of its corners and of the controls inside.
        int firstTop = box->height();
        for (const QWidget *child : box->findChildren<QWidget *>(Qt::FindDirectChildrenOnly))
            firstTop = qMin(firstTop, child->y());
        room = QRect(8, 0, box->width() - 16, firstTop);
    }
    const QSize text = QFontMetrics(control->font()).size(Qt::TextShowMnemonic, caption);
    if (caption.isEmpty() || (text.width() <= room.width() && text.height() <= room.height()))
        return {};
    return QStringLiteral("\"%1\" needs %2 x %3, has %4 x %5")
        .arg(caption)
        .arg(text.width())
        .arg(text.height())
        .arg(room.width())
        .arg(room.height());
}

const char *const Switched[] = {"optPort(0)", "optPort(1)", "optBaud(0)", "optBaud(1)",
                                "cmdClear",   "cmdBanner",  "cmdHome",    "cmdNewLine",
                                "cmdRipple",  "cmdSend",    "cmdGetKey",  "cmdPollKey",
                                "cmdCom",     "cmdExit",    "txtSend",    "txtSent"};
const QString Closed = "closed, Open com port, Com port closed, optPort(0), optPort(1), "
                       "optBaud(0), optBaud(1), cmdCom, cmdExit, txtSend, txtSent";
const QString Open = "open, Close com port, Com port open, cmdClear, cmdBanner, cmdHome, "
                     "cmdNewLine, cmdRipple, cmdSend, cmdGetKey, cmdPollKey, cmdCom, cmdExit, "
                     "txtSend, txtSent";

// The port, the toggle's caption, the status line and the enabled controls, in words.
QString stateOf(WindowHarness &harness)
{
    QStringList state{harness.port().PortOpen() ? "open" : "closed",
                      harness.control("cmdCom")->text(),
                      harness.control<QLabel>("lblComStatus")->text()};
    for (const char *name : Switched) {
        if (harness.control<QWidget>(name)->isEnabled())
            state << name;
    }
    if (harness.window().isPolling())
        state << "polling";
    return state.join(", ");
}

const QByteArray Request("\xFE\xF0", 2);

// The six indicators as shown, e.g. "1 on red, 2 off green, ...".
QString indicators(const WindowHarness &harness)
{
    QStringList shown;
    for (int index = 0; index < KeyCount; ++index) {
        const QRgb fill =
            harness.control<Shape>(QStringLiteral("shpKey(%1)").arg(index))->fillColor().rgba();
        shown << harness.control<QLabel>(QStringLiteral("lblKey(%1)").arg(index))->text() +
                     (fill == qRgb(255, 0, 0)   ? " red"
                      : fill == qRgb(0, 255, 0) ? " green"
                      : fill == qRgb(0, 0, 0)   ? " black"
                                                : " other");
    }
    return shown.join(QLatin1String(", "));
}

// What they show for the keys listed in onKeys ("13": keys 1 and 3), or before any reply ("?").
QString showing(const QString &onKeys)
{
    QStringList shown;
    for (const QChar digit : QStringLiteral("123456")) {
        shown << (onKeys == "?"            ? QString(digit) + " ?? black"
                  : onKeys.contains(digit) ? QString(digit) + " on red"
                                           : QString(digit) + " off green");
    }
    return shown.join(QLatin1String(", "));
}

QString focusName()
{
    return QApplication::focusWidget() ? QApplication::focusWidget()->objectName() : "(none)";
}

void press(int key, Qt::KeyboardModifiers modifiers = Qt::NoModifier)
{
    QTest::keyClick(QApplication::focusWidget(), Qt::Key(key), modifiers);
}

} // namespace

class WindowTest : public QObject
{
    Q_OBJECT

private slots:
    void init()
    {
        m_harness = std::make_unique<WindowHarness>();
        m_harness->window().activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&m_harness->window()));
    }
    void cleanup() { m_harness.reset(); }

    // A fixed window; the log takes no typing; the send box has no length limit of its own.
    void frameAndTextBoxes()
    {
        MainWindow &window = m_harness->window();
        QCOMPARE(window.windowTitle(), AppInfo::WindowCaption);
        QCOMPARE(window.minimumSize(), QSize(4935 / 15, 6465 / 15));
        QCOMPARE(window.maximumSize(), window.minimumSize());
        QVERIFY(!(window.windowFlags() &
                  (Qt::WindowMinimizeButtonHint | Qt::WindowMaximizeButtonHint)));
        auto *sent = m_harness->control<QPlainTextEdit>("txtSent");
        QVERIFY(sent->hasFocus());
        QTest::keyClicks(sent, "ab 12");
        press(Qt::Key_V, Qt::ControlModifier);
        press(Qt::Key_Return);
        QVERIFY(sent->toPlainText().isEmpty());
        auto *send = m_harness->control<QLineEdit>("txtSend");
        send->setText(QString(40000, QLatin1Char('x')));
        QCOMPARE(send->text().size(), 40000);
    }

    // Every control where it belongs, in twips within its container. Each caption given must
    // fit: the first is shown at start, the others later (port open, key status).
    void controls_data()
    {
        QTest::addColumn<QString>("container");
        QTest::addColumn<QRect>("twips");
        QTest::addColumn<QStringList>("captions");
        QTest::addColumn<QString>("toolTip");
        const auto row = [](const char *name, const char *container, QRect twips,
                            const QString &captions, const QString &toolTip) {
            QTest::newRow(name) << container << twips << captions.split('|') << toolTip;
        };
        const QString rate = "select data rate", port = "Select com port";
        // clang-format off
        row("lblAdvert(0)", "MainWindow", {120, 120, 4695, 255}, AppInfo::Heading, "");
        row("lblAdvert(1)", "MainWindow", {120, 360, 4695, 255}, AppInfo::Copyright, "");
        row("lblAdvert(2)", "MainWindow", {120, 600, 4695, 255}, AppInfo::WebAddress, "");
        row("fraComs", "MainWindow", {120, 960, 2295, 1815}, "Communication", "");
        row("lblComStatus", "fraComs", {240, 240, 1935, 255}, "Com port closed|Com port open", "");
        row("frabaud", "fraComs", {120, 480, 975, 735}, "", rate);
        row("optBaud(0)", "frabaud", {120, 120, 735, 255}, "2400", rate);
        row("optBaud(1)", "frabaud", {120, 360, 735, 255}, "9600", rate);
        row("fraPort", "fraComs", {1200, 480, 975, 735}, "", port);
        row("optPort(0)", "fraPort", {120, 120, 735, 255}, "com1", port);
        row("optPort(1)", "fraPort", {120, 360, 735, 255}, "com2", port);
        row("cmdCom", "fraComs", {120, 1320, 2055, 375}, "Open com port|Close com port", "Open/close com port");
        row("cmdHome", "MainWindow", {2760, 1080, 855, 495}, "Home", "Move LCd cursor to home on LCD");
        row("cmdClear", "MainWindow", {3840, 1080, 855, 495}, "Clear", "Clear LCD");
        row("cmdNewLine", "MainWindow", {2760, 1680, 855, 495}, "NewLine", "Move cursor to start of new line on LCD");
        row("cmdRipple", "MainWindow", {3840, 1680, 855, 495}, "Ripple", "Ripple through each LCD position");
        row("cmdBanner", "MainWindow", {2760, 2280, 855, 495}, "Banner", "Display banner message on LCD");
        row("cmdExit", "MainWindow", {3840, 2280, 855, 495}, "E&xit", "Exit the KV310 test program");
        row("fraSendText", "MainWindow", {120, 2880, 4695, 855}, "Send text string", "");
        row("cmdSend", "fraSendText", {120, 240, 855, 495}, "Send", "Send text string to KV310");
        row("txtSend", "fraSendText", {1200, 360, 3375, 375}, "", "String to send to KV310");
        row("txtSent", "MainWindow", {120, 3840, 4695, 1575}, "", "Data sent to KV310 in hex");
        row("fraKeys", "MainWindow", {120, 5520, 4695, 855}, "Keyboard", "");
        row("cmdGetKey", "fraKeys", {120, 240, 735, 495}, "Get Key", "Single key status request from KV310");
        row("cmdPollKey", "fraKeys", {960, 240, 735, 495}, "Poll Key", "Continuous poll of KV310 keypad, hit any key to stop");
        // clang-format on
        for (int index = 0; index < KeyCount; ++index) {
            const QString key = QString::number(index + 1);
            const QRect label(1800 + 480 * index, 240, 375, 255);
            QTest::addRow("lblKey(%d)", index)
                << "fraKeys" << label << QStringList{key + " ??", key + " off", key + " on"}
                << "Key " + key + " status";
            QTest::addRow("shpKey(%d)", index)
                << "fraKeys" << label.translated(0, 240) << QStringList{""} << "";
        }
    }
    void controls()
    {
        QFETCH(QString, container);
        QFETCH(QRect, twips);
        QFETCH(QStringList, captions);
        QFETCH(QString, toolTip);
        QWidget *widget = m_harness->control<QWidget>(QString::fromUtf8(QTest::currentDataTag()));
        QVERIFY(widget && widget->isVisible());
        QCOMPARE(widget->parentWidget()->objectName(), container);
        QCOMPARE(widget->geometry(), QRect(twips.topLeft() / 15, twips.size() / 15));
        QCOMPARE(widget->toolTip(), toolTip);
        const char *property = qobject_cast<QGroupBox *>(widget) ? "title" : "text";
        QCOMPARE(widget->property(property).toString(), captions.first());
        for (const QString &caption : captions)
            QVERIFY2(misfit(widget, caption).isEmpty(), qPrintable(misfit(widget, caption)));
        if (auto *label = qobject_cast<const QLabel *>(widget))
            QCOMPARE(label->alignment(), Qt::AlignCenter);
        if (auto *button = qobject_cast<const QPushButton *>(widget))
            QVERIFY(!button->isDefault() && !button->autoDefault());
        if (auto *option = qobject_cast<const QRadioButton *>(widget))
            QCOMPARE(option->isChecked(), captions[0] == "2400" || captions[0] == "com1");
        if (auto *shape = qobject_cast<const Shape *>(widget))
            QCOMPARE(shape->fillColor(), QColor(Qt::black));
    }

    // The two groups are independent; the arrow keys move within a group, and Tab enters it at
    // its selected button from either side.
    void optionGroups()
    {
        QVERIFY(m_harness->click("optPort(1)"));
        m_harness->control<QWidget>("optBaud(0)")->setFocus();
        press(Qt::Key_Down);
        QCOMPARE(focusName(), "optBaud(1)");
        QStringList checked;
        for (const QRadioButton *option : m_harness->window().findChildren<QRadioButton *>()) {
            if (option->isChecked())
                checked << option->objectName();
        }
        QCOMPARE(checked, QStringList({"optBaud(1)", "optPort(1)"}));
        m_harness->control<QWidget>("optPort(1)")->setFocus();
        press(Qt::Key_Backtab, Qt::ShiftModifier);
        QCOMPARE(focusName(), "optBaud(1)");
        press(Qt::Key_Backtab, Qt::ShiftModifier);
        press(Qt::Key_Tab);
        QCOMPARE(focusName(), "optBaud(1)");
    }

    void tabOrder_data()
    {
        QTest::addColumn<bool>("open");
        QTest::addColumn<bool>("backwards");
        QTest::addColumn<QStringList>("order");
        const QStringList closed{"txtSent",    "cmdCom",  "optBaud(0)",
                                 "optPort(0)", "cmdExit", "txtSend"};
        const QStringList open{"txtSent",    "cmdCom",  "cmdRipple", "cmdClear",
                               "cmdNewLine", "cmdHome", "cmdBanner", "cmdExit",
                               "cmdSend",    "txtSend", "cmdGetKey", "cmdPollKey"};
        QTest::newRow("closed, Tab") << false << false << closed;
        QTest::newRow("closed, Shift+Tab") << false << true << closed;
        QTest::newRow("open, Tab") << true << false << open;
        QTest::newRow("open, Shift+Tab") << true << true << open;
    }
    void tabOrder()
    {
        QFETCH(bool, open);
        QFETCH(bool, backwards);
        QFETCH(QStringList, order);
        QVERIFY(!open || m_harness->openPort());
        m_harness->control<QWidget>("txtSent")->setFocus();
        // Once round the window and back to the start.
        QStringList visited{focusName()};
        for (qsizetype step = 0; step < order.size(); ++step) {
            press(backwards ? Qt::Key_Backtab : Qt::Key_Tab,
                  backwards ? Qt::ShiftModifier : Qt::NoModifier);
            visited.insert(backwards ? 0 : visited.size(), focusName());
        }
        QCOMPARE(visited, order + QStringList{order.first()});
    }

    void toggle_data()
    {
        QTest::addColumn<int>("port");
        QTest::addColumn<int>("rate");
        for (const int port : {1, 2}) {
            for (const int rate : {2400, 9600})
                QTest::addRow("com%d %d", port, rate) << port << rate;
        }
    }

    // Opens the chosen port at the chosen rate, 8N1; closes and opens again without touching the
    // choices, the text boxes or the log.
    void toggle()
    {
        QFETCH(int, port);
        QFETCH(int, rate);
        PtyPair line2;
        qputenv("KV310_COM2", line2.slavePath().toLocal8Bit());
        PtyPair &chosen = port == 1 ? m_harness->line() : line2;
        m_harness->control<QLineEdit>("txtSend")->setText("keep");
        const QString portOption = QStringLiteral("optPort(%1)").arg(port - 1);
        const QString rateOption = QStringLiteral("optBaud(%1)").arg(rate == 9600);
        QVERIFY(m_harness->click(portOption) && m_harness->click(rateOption));
        QCOMPARE(stateOf(*m_harness), Closed);
        QVERIFY(m_harness->click("cmdCom") && m_harness->click("cmdClear"));
        QCOMPARE(chosen.readAll(), QByteArray("\x0c"));
        for (const bool open : {false, true}) {
            QVERIFY(m_harness->click("cmdCom"));
            QCOMPARE(stateOf(*m_harness), open ? Open : Closed);
            QVERIFY(m_harness->control(portOption)->isChecked());
            QVERIFY(m_harness->control(rateOption)->isChecked());
        }
        QCOMPARE(m_harness->port().CommPort(), port);
        QCOMPARE(m_harness->port().RThreshold(), 1);
        const termios settings = chosen.lineSettings();
        QCOMPARE(cfgetospeed(&settings), rate == 2400 ? speed_t(B2400) : speed_t(B9600));
        QCOMPARE(settings.c_cflag & (CSIZE | PARENB | CSTOPB), tcflag_t(CS8));
        QCOMPARE(m_harness->line().readAll(50) + line2.readAll(50), QByteArray());
        QCOMPARE(m_harness->logText(), "0C ");
        QCOMPARE(m_harness->control<QLineEdit>("txtSend")->text(), "keep");
        QVERIFY(m_harness->modals().messages.isEmpty());
        qunsetenv("KV310_COM2");
    }

    void replyReachesIndicators_data()
    {
        QTest::addColumn<QByteArray>("reply");
        QTest::addColumn<QString>("onKeys");
        QTest::newRow("00") << QByteArray(1, '\x00') << "";
        QTest::newRow("3F") << QByteArray("\x3F") << "123456";
        QTest::newRow("05") << QByteArray("\x05") << "13";
        QTest::newRow("20") << QByteArray("\x20") << "6";
        QTest::newRow("C0: high bits mean nothing") << QByteArray("\xC0") << "";
        QTest::newRow("FF") << QByteArray("\xFF") << "123456";
        QTest::newRow("01 20 in one read: the first") << QByteArray("\x01\x20") << "1";
        // Bytes a terminal would translate or take for flow control come as they are.
        QTest::newRow("0D") << QByteArray("\x0D") << "134";
        QTest::newRow("11") << QByteArray("\x11") << "15";
        QTest::newRow("13") << QByteArray("\x13") << "125";
        QTest::newRow("7F") << QByteArray("\x7F") << "123456";
    }
    void replyReachesIndicators()
    {
        QFETCH(QByteArray, reply);
        QFETCH(QString, onKeys);
        WindowHarness &harness = *m_harness;
        QVERIFY(harness.openPort());
        QCOMPARE(indicators(harness), showing("?"));
        QVERIFY(harness.line().write(reply));
        QTRY_VERIFY(indicators(harness) != showing("?"));
        // Nothing echoed; a second byte decoded on its own would show a little later.
        QCOMPARE(harness.wire(200), QByteArray());
        QCOMPARE(indicators(harness), showing(onKeys));
    }

    // Poll Key asks at once, then every 100 ms; asked again, it drops the answer waiting and
    // goes on. Get Key stops it, drops what waits, and asks once.
    void pollThenGetKey()
    {
        WindowHarness &harness = *m_harness;
        const SlaveProbe probe(harness.line().slavePath());
        QVERIFY(harness.openPort());
        PtyPair &line = harness.line();
        QVERIFY(harness.click("cmdPollKey"));
        QByteArray wire = line.read(2, 50);
        QCOMPARE(wire, Request);

        QElapsedTimer clock;
        clock.start();
        WindowHarness::runEvents(1000);
        const QByteArray polled = line.readAll(50);
        const qsizetype ticks = polled.count(Request);
        QCOMPARE(polled, Request.repeated(ticks));
        QVERIFY2(ticks >= 6 && ticks <= clock.elapsed() / 100 + 2,
                 qPrintable(QStringLiteral("%1 in %2 ms").arg(ticks).arg(clock.elapsed())));
        wire += polled;

        for (const char *button : {"cmdPollKey", "cmdGetKey"}) {
            QVERIFY(line.write("\x3F") && probe.waitForBytes());
            wire += line.readAll(20);
            QVERIFY(harness.click(QString::fromLatin1(button)));
            QCOMPARE(line.read(2, 50), Request);
            wire += Request;
            WindowHarness::runEvents(300);
            const QByteArray later = line.readAll(50);
            wire += later;
            QCOMPARE(harness.window().isPolling(), button == QLatin1String("cmdPollKey"));
            QCOMPARE(later.isEmpty(), !harness.window().isPolling());
            QCOMPARE(indicators(harness), showing("?"));
        }
        QCOMPARE(logMismatch(harness.logText(), wire), QString());

        QVERIFY(line.write("\x05"));
        QTRY_COMPARE(indicators(harness), showing("13"));
    }

    // Last: an Exit ends every event loop this program will run.
    void accessKeyClicksExit()
    {
        QVERIFY(m_harness->openPort());
        m_harness->control<QWidget>("txtSend")->setFocus();
        const QSignalSpy clicked(m_harness->control("cmdExit"), &QPushButton::clicked);
        press(Qt::Key_X, Qt::AltModifier);
        // A shortcut animates the button and clicks it a moment later.
        QTRY_COMPARE(clicked.count(), 1);
        QVERIFY(!m_harness->port().PortOpen());
    }

private:
    std::unique_ptr<WindowHarness> m_harness;
};

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    WindowLayout::setUpApplication(app);
    WindowTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_window.moc"
