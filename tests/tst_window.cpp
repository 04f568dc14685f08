#include "WindowHarness.h"

#include <QDebug>
#include <QGroupBox>
#include <QPushButton>
#include <QRadioButton>
#include <QStyle>
#include <QStyleOptionButton>

namespace
{

// Why a control's caption (a button's or label's text, a group's title) would not fit the
// control as its style lays it out; empty when it fits.
QString misfit(QWidget *control)
{
    QString caption;
    QRect room = control->contentsRect();
    QStyleOptionButton option;
    option.initFrom(control);
    if (auto *radio = qobject_cast<QRadioButton *>(control)) {
        caption = radio->text();
        room = control->style()->subElementRect(QStyle::SE_RadioButtonContents, &option, control);
    } else if (auto *button = qobject_cast<QPushButton *>(control)) {
        caption = button->text();
        const int margin = control->style()->pixelMetric(QStyle::PM_ButtonMargin, &option) / 2;
        room = control->style()
                   ->subElementRect(QStyle::SE_PushButtonContents, &option, control)
                   .adjusted(margin, 0, -margin, 0);
    } else if (auto *box = qobject_cast<QGroupBox *>(control)) {
        caption = box->title();
        // The title sits in the top border, clear of its corners and of the controls inside.
        int firstTop = box->height();
        for (const QWidget *child : box->findChildren<QWidget *>(Qt::FindDirectChildrenOnly))
            firstTop = qMin(firstTop, child->y());
        room = QRect(8, 0, box->width() - 16, firstTop);
    } else if (auto *label = qobject_cast<QLabel *>(control)) {
        caption = label->text();
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
        QVERIFY(m_harness->click(portOption) && m_harness->click(rateOption));
        const QString closed = "closed, Open com port, Com port closed, txtSent, cmdCom, " +
                               rateOption + ", " + portOption + ", cmdExit, txtSend";
        const QString open = "open, Close com port, Com port open, txtSent, cmdCom, cmdRipple, "
                             "cmdClear, cmdNewLine, cmdHome, cmdBanner, cmdExit, cmdSend, "
                             "txtSend, cmdGetKey, cmdPollKey";
        QCOMPARE(stateOf(*m_harness), closed);
        QCOMPARE(misfits(*m_harness), QString());
        QVERIFY(m_harness->click("cmdCom") && m_harness->click("cmdClear"));
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

    void replyReachesIndicators_data()
    {
        QTest::addColumn<QByteArray>("reply");
        QTest::addColumn<QString>("onKeys");
        // Between them, the rows show every key both on and off.
        QTest::newRow("C0: high bits mean nothing") << QByteArray("\xC0") << "";
        QTest::newRow("20 01 in one read: the first") << QByteArray("\x20\x01") << "6";
        // Bytes a terminal would translate or take for flow control come as they are.
        QTest::newRow("0D") << QByteArray("\x0D") << "134";
        QTest::newRow("11") << QByteArray("\x11") << "15";
        QTest::newRow("13") << QByteArray("\x13") << "125";
    }
    void replyReachesIndicators()
    {
        QFETCH(QByteArray, reply);
        QFETCH(QString, onKeys);
        WindowHarness &harness = *m_harness;
        QVERIFY(harness.openPort());
        QCOMPARE(indicators(harness.window()), showingNoReplyYet());
        QSignalSpy events(&harness.port(), &MSComm::OnComm);
        QVERIFY(harness.line().write(reply));
        QTRY_VERIFY(indicators(harness.window()) != showingNoReplyYet());
        // A second byte decoded on its own would come as an event of its own; nothing is echoed.
        QVERIFY(!events.wait(200));
        QCOMPARE(harness.line().readWaiting(), QByteArray());
        QCOMPARE(indicators(harness.window()), showing(onKeys));
        QCOMPARE(misfits(harness), QString());
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

        // Six ticks take 600 ms; generous bounds, as a busy machine is slower.
        QElapsedTimer clock;
        clock.start();
        QCOMPARE(harness.wire(12), Wire::KeyRequest.repeated(6));
        QVERIFY2(clock.elapsed() >= 500 && clock.elapsed() < 3000,
                 qPrintable(QString::number(clock.elapsed())));
        wire += Wire::KeyRequest.repeated(6);

        for (const char *button : {"cmdPollKey", "cmdGetKey"}) {
            QVERIFY(line.write("\x3F") && probe.waitForBytes());
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

        QVERIFY(line.write("\x05"));
        QTRY_COMPARE(indicators(harness.window()), showing("13"));
    }

    // Exit quits the application's event loop, so the test runs one; it ends its own after 5 s.
    void accessKeyClicksExit()
    {
        QVERIFY(m_harness->openPort());
        m_harness->control<QWidget>("txtSend")->setFocus();
        const QSignalSpy clicked(m_harness->control("cmdExit"), &QPushButton::clicked);
        QTimer::singleShot(0, this, [] { press(Qt::Key_X, Qt::AltModifier); });
        QTimer::singleShot(5000, this, [] { QCoreApplication::exit(1); });
        QCOMPARE(QCoreApplication::exec(), 0);
        QCOMPARE(clicked.count(), 1);
        QVERIFY(!m_harness->port().PortOpen());
    }

};

KV310_WINDOW_TEST_MAIN(WindowTest)

#include "tst_window.moc"
