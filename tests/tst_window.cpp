#include "WindowHarness.h"
#include "common/AppInfo.h"
#include "ui/WindowLayout.h"

#include <QDebug>
#include <QGroupBox>
#include <QKeySequence>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QScrollBar>
#include <QStyle>
#include <QStyleOptionButton>

namespace
{

// A button's or label's text, a group's title.
QString captionOf(const QWidget *control)
{
    if (const auto *button = qobject_cast<const QAbstractButton *>(control))
        return button->text();
    if (const auto *box = qobject_cast<const QGroupBox *>(control))
        return box->title();
    const auto *label = qobject_cast<const QLabel *>(control);
    return label ? label->text() : QString();
}

// Why a control's caption would not fit the control as its style lays it out; empty when it fits.
QString misfit(QWidget *control)
{
    const QString caption = captionOf(control);
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
    QString why;
    if (!caption.isEmpty() && (text.width() > room.width() || text.height() > room.height()))
        QDebug(&why) << control->objectName() << caption << "needs" << text << "has" << room.size();
    return why;
}

// Every caption the window shows now that does not fit its control.
QString misfits(WindowHarness &harness)
{
    QString found;
    for (QWidget *control : harness.window().findChildren<QWidget *>())
        found += misfit(control);
    return found;
}

QString focusName()
{
    return QApplication::focusWidget() ? QApplication::focusWidget()->objectName() : "(none)";
}

void press(int key, Qt::KeyboardModifiers modifiers = Qt::NoModifier)
{
    QTest::keyClick(QApplication::focusWidget(), Qt::Key(key), modifiers);
}

// The controls Tab visits from the log until it comes round, when Shift+Tab visits them
// backwards; both ways otherwise.
QString tabOrder(WindowHarness &harness)
{
    harness.control<QWidget>("txtSent")->setFocus();
    QStringList forward;
    for (; forward.size() < 30 && !forward.contains(focusName()); press(Qt::Key_Tab))
        forward << focusName();
    QStringList backward;
    while (backward.size() < forward.size()) {
        press(Qt::Key_Backtab, Qt::ShiftModifier);
        backward.prepend(focusName());
    }
    return forward == backward
               ? forward.join(", ")
               : "Tab: " + forward.join(", ") + "; Shift+Tab: " + backward.join(", ");
}

// The port, the toggle's caption, the status line and the enabled controls in tab order.
QString stateOf(WindowHarness &harness)
{
    return QStringList{harness.port().PortOpen() ? "open" : "closed",
                       harness.control("cmdCom")->text(),
                       harness.control<QLabel>("lblComStatus")->text(), tabOrder(harness)}
        .join(", ");
}

} // namespace

class WindowTest : public WindowTestCase
{
    Q_OBJECT

private slots:
    // The window as it is drawn and as it starts: each control's container, place and size
    // (drawn in twips), caption, tool tip and, for buttons, state; then the window's own.
    void contract_data()
    {
        QTest::addColumn<QString>("subject");
        QTest::addColumn<QString>("expected");
        const auto drawn = [](const QString &name, const char *container, const QRect &twips,
                              const QString &text, const QString &tip, const char *state = "") {
            const QRect pixels =
                WindowLayout::twips(twips.x(), twips.y(), twips.width(), twips.height());
            QTest::newRow(qPrintable(name))
                << name
                << QString("%1 %2 \"%3\" \"%4\" %5")
                       .arg(container, QDebug::toString(pixels), text, tip, state);
        };
        const QString advert[] = {"Serial LCD test utility program", AppInfo::Copyright,
                                  AppInfo::WebAddress};
        for (int index = 0; index < 3; ++index)
            drawn(QString("lblAdvert(%1)").arg(index), "MainWindow",
                  {120, 120 + 240 * index, 4695, 255}, advert[index], "");
        drawn("fraComs", "MainWindow", {120, 960, 2295, 1815}, "Communication", "");
        drawn("lblComStatus", "fraComs", {240, 240, 1935, 255}, "Com port closed", "");
        drawn("frabaud", "fraComs", {120, 480, 975, 735}, "", "select data rate");
        drawn("optBaud(0)", "frabaud", {120, 120, 735, 255}, "2400", "select data rate",
              "enabled checked");
        drawn("optBaud(1)", "frabaud", {120, 360, 735, 255}, "9600", "select data rate", "enabled");
        drawn("fraPort", "fraComs", {1200, 480, 975, 735}, "", "Select com port");
        drawn("optPort(0)", "fraPort", {120, 120, 735, 255}, "com1", "Select com port",
              "enabled checked");
        drawn("optPort(1)", "fraPort", {120, 360, 735, 255}, "com2", "Select com port", "enabled");
        drawn("cmdCom", "fraComs", {120, 1320, 2055, 375}, "Open com port", "Open/close com port",
              "enabled");
        drawn("cmdHome", "MainWindow", {2760, 1080, 855, 495}, "Home",
              "Move LCd cursor to home on LCD", "disabled");
        drawn("cmdClear", "MainWindow", {3840, 1080, 855, 495}, "Clear", "Clear LCD", "disabled");
        drawn("cmdNewLine", "MainWindow", {2760, 1680, 855, 495}, "NewLine",
              "Move cursor to start of new line on LCD", "disabled");
        drawn("cmdRipple", "MainWindow", {3840, 1680, 855, 495}, "Ripple",
              "Ripple through each LCD position", "disabled");
        drawn("cmdBanner", "MainWindow", {2760, 2280, 855, 495}, "Banner",
              "Display banner message on LCD", "disabled");
        drawn("cmdExit", "MainWindow", {3840, 2280, 855, 495}, "E&xit",
              "Exit the KV310 test program", "enabled");
        drawn("fraSendText", "MainWindow", {120, 2880, 4695, 855}, "Send text string", "");
        drawn("cmdSend", "fraSendText", {120, 240, 855, 495}, "Send", "Send text string to KV310",
              "disabled");
        drawn("txtSend", "fraSendText", {1200, 360, 3375, 375}, "", "String to send to KV310");
        drawn("txtSent", "MainWindow", {120, 3840, 4695, 1575}, "", "Data sent to KV310 in hex");
        drawn("fraKeys", "MainWindow", {120, 5520, 4695, 855}, "Keyboard", "");
        drawn("cmdGetKey", "fraKeys", {120, 240, 735, 495}, "Get Key",
              "Single key status request from KV310", "disabled");
        drawn("cmdPollKey", "fraKeys", {960, 240, 735, 495}, "Poll Key",
              "Continuous poll of KV310 keypad, hit any key to stop", "disabled");
        for (int index = 0; index < 6; ++index) {
            const QString key = QString::number(index + 1);
            drawn(QString("lblKey(%1)").arg(index), "fraKeys", {1800 + 480 * index, 240, 375, 255},
                  key + " ??", "Key " + key + " status");
            drawn(QString("shpKey(%1)").arg(index), "fraKeys", {1800 + 480 * index, 480, 375, 255},
                  "", "");
        }
    }
    void contract()
    {
        QFETCH(QString, subject);
        QFETCH(QString, expected);
        auto *control = m_harness->control<QWidget>(subject);
        QVERIFY(control);
        const auto *button = qobject_cast<QAbstractButton *>(control);
        const QString state = !button ? QString()
                                      : QString(button->isEnabled() ? "enabled" : "disabled") +
                                            (button->isChecked() ? " checked" : "");
        QCOMPARE(QString("%1 %2 \"%3\" \"%4\" %5")
                     .arg(control->parentWidget()->objectName(),
                          QDebug::toString(control->geometry()), captionOf(control),
                          control->toolTip(), state),
                 expected);
    }

    // The window as it starts: fixed in size, a close box its only title bar button, focus on
    // the log. With the port open, Enter and Escape in txtSend click nothing, and Alt+X, its only
    // access key, clicks Exit.
    void window()
    {
        QWidget &window = m_harness->window();
        QCOMPARE(focusName(), "txtSent");
        QCOMPARE(window.windowTitle(), "Veltor Serial LCD test utility");
        QCOMPARE(window.size(), WindowLayout::twips(0, 0, 4935, 6465).size());
        QCOMPARE(window.minimumSize(), window.maximumSize());
        const int titleButtons =
            int(window.windowFlags() & (Qt::CustomizeWindowHint | Qt::WindowMinMaxButtonsHint |
                                        Qt::WindowCloseButtonHint));
        QCOMPARE(titleButtons, int(Qt::CustomizeWindowHint | Qt::WindowCloseButtonHint));
        const auto *log = m_harness->control<QPlainTextEdit>("txtSent");
        QVERIFY(log->isReadOnly());
        QVERIFY(log->toPlainText().isEmpty());
        QCOMPARE(log->lineWrapMode(), QPlainTextEdit::WidgetWidth);
        QCOMPARE(log->wordWrapMode(), QTextOption::WordWrap);
        QCOMPARE(log->horizontalScrollBarPolicy(), Qt::ScrollBarAlwaysOff);
        QCOMPARE(log->verticalScrollBarPolicy(), Qt::ScrollBarAlwaysOff);

        QStringList keys;
        const QList<QAbstractButton *> buttons = window.findChildren<QAbstractButton *>();
        for (const QAbstractButton *button : buttons) {
            const QKeySequence key = QKeySequence::mnemonic(button->text());
            if (!key.isEmpty())
                keys << button->objectName() + ' ' + key.toString();
        }
        QCOMPARE(keys.join(", "), "cmdExit Alt+X");

        QVERIFY(m_harness->openPort());
        QStringList clicked;
        const QObject watching;
        for (const QAbstractButton *button : buttons)
            connect(button, &QAbstractButton::clicked, &watching,
                    [&clicked, button] { clicked << button->objectName(); });
        m_harness->control<QWidget>("txtSend")->setFocus();
        for (const int key : {Qt::Key_Return, Qt::Key_Enter, Qt::Key_Escape})
            press(key);
        QCOMPARE(clicked.join(", "), QString());

        // Exit quits the application's event loop, so the test runs one; it ends its own after 5 s.
        QTimer::singleShot(0, this, [] { press(Qt::Key_X, Qt::AltModifier); });
        QTimer::singleShot(5000, this, [] { QCoreApplication::exit(1); });
        QCOMPARE(QCoreApplication::exec(), 0);
        QCOMPARE(clicked.join(", "), "cmdExit");
        QVERIFY(!m_harness->port().PortOpen());
    }

    void toggle_data()
    {
        QTest::addColumn<int>("port");
        QTest::addColumn<int>("rate");
        // Each port and each rate once.
        QTest::newRow("com1 2400") << 1 << 2400;
        QTest::newRow("com2 9600") << 2 << 9600;
    }

    // Opens the chosen port at the chosen rate, 8N1; closes and opens again without touching the
    // choices, the text boxes or the log. Tab enters an option group at its checked button.
    void toggle()
    {
        QFETCH(int, port);
        QFETCH(int, rate);
        PtyPair line2;
        const ScopedEnv com2("KV310_COM2", line2.slavePath());
        PtyPair &chosen = port == 1 ? m_harness->line() : line2;
        m_harness->control<QLineEdit>("txtSend")->setText("keep");
        const QString portOption = QStringLiteral("optPort(%1)").arg(port - 1);
        const QString rateOption = QStringLiteral("optBaud(%1)").arg(rate == 9600);
        QVERIFY(m_harness->click(portOption));
        QVERIFY(m_harness->click(rateOption));
        const QString closed = "closed, Open com port, Com port closed, txtSent, cmdCom, " +
                               rateOption + ", " + portOption + ", cmdExit, txtSend";
        const QString open = "open, Close com port, Com port open, txtSent, cmdCom, cmdRipple, "
                             "cmdClear, cmdNewLine, cmdHome, cmdBanner, cmdExit, cmdSend, "
                             "txtSend, cmdGetKey, cmdPollKey";
        QCOMPARE(stateOf(*m_harness), closed);
        QVERIFY(m_harness->click("cmdCom"));
        QVERIFY(m_harness->click("cmdClear"));
        QCOMPARE(chosen.readAll(), QByteArray("\x0c"));
        for (const bool isOpen : {false, true}) {
            QVERIFY(m_harness->click("cmdCom"));
            QCOMPARE(stateOf(*m_harness), isOpen ? open : closed);
            QCOMPARE(misfits(*m_harness), QString());
        }
        QCOMPARE(lineSettings(chosen.masterFd()), QString("%1 8N1").arg(rate));
        QCOMPARE(m_harness->line().readAll(50) + line2.readAll(50), QByteArray());
        QCOMPARE(m_harness->logText(), "0C ");
        QCOMPARE(m_harness->control<QLineEdit>("txtSend")->text(), "keep");
        QVERIFY(m_harness->modals().messages.isEmpty());
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
        QCOMPARE(wire, Wire::KeyRequest);
        QCOMPARE(harness.wire(12), Wire::KeyRequest.repeated(6));
        wire += Wire::KeyRequest.repeated(6);

        for (const char *button : {"cmdPollKey", "cmdGetKey"}) {
            QVERIFY(line.write("\x3F"));
            QVERIFY(probe.waitForBytes());
            wire += line.readAll(20);
            QVERIFY(harness.click(QString::fromLatin1(button)));
            QCOMPARE(line.read(2, 50), Wire::KeyRequest);
            wire += Wire::KeyRequest;
            auto *tmrPoll = harness.control<QTimer>("tmrPoll");
            if (button == QLatin1String("cmdPollKey")) {
                QCOMPARE(harness.wire(2), Wire::KeyRequest);
                wire += Wire::KeyRequest;
            } else {
                // Get Key's first tick switches the timer off, not merely sends nothing.
                QTRY_VERIFY(!tmrPoll->isActive());
                QCOMPARE(line.readWaiting(), QByteArray());
            }
            QCOMPARE(indicators(harness.window()), showingNoReplyYet());
        }
        QCOMPARE(logMismatch(harness.logText(), wire), QString());

        // Each lamp and label shows its own key; the captions fit, on and off alike.
        QVERIFY(line.write("\x05"));
        QTRY_COMPARE(indicators(harness.window()), showing("13"));
        QCOMPARE(misfits(harness), QString());
    }

    void logShowsNewestBytes_data()
    {
        QTest::addColumn<int>("kept");
        QTest::addColumn<int>("sent");
        // After a Banner on a cut log, and after a 130-character Send on a log just short of
        // the cut: 476 and 797 characters.
        QTest::newRow("banner") << 380 << 32;
        QTest::newRow("send") << 407 << 130;
    }

    void logShowsNewestBytes()
    {
        QFETCH(int, kept);
        QFETCH(int, sent);
        const QString echo = QString::fromLatin1(QByteArray(600, 'A').toHex(' ')) + ' ';
        auto *log = m_harness->control<QPlainTextEdit>("txtSent");
        const QString text = echo.right(kept) + echo.right(sent * 3);
        log->setPlainText(text);

        QTextCursor lastGroup(log->document());
        lastGroup.movePosition(QTextCursor::End);
        lastGroup.movePosition(QTextCursor::PreviousCharacter, QTextCursor::MoveAnchor, 3);
        const QRect shown = log->cursorRect(lastGroup);
        const QRect view = log->viewport()->rect();
        // The text is taller than the box, whatever the font, so the row proves something.
        QVERIFY(log->verticalScrollBar()->maximum() > 0);
        QVERIFY2(view.contains(shown), qPrintable(QDebug::toString(shown)));
        log->selectAll();
        QCOMPARE(log->textCursor().selectedText(), text);
    }
};

KV310_WINDOW_TEST_MAIN(WindowTest)

#include "tst_window.moc"
