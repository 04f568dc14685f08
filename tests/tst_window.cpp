#include "TestSupport.h"
#include "common/AppInfo.h"
#include "common/Shape.h"
#include "link/MSComm.h"
#include "ui/WindowLayout.h"

#include <QApplication>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSignalSpy>
#include <QStyle>
#include <QStyleOptionButton>
#include <QTest>
#include <QTimer>

#include <memory>
#include <vector>

namespace
{

// The window's controls as drawn, in twips relative to their container.
struct ControlRow {
    const char *name;
    const char *container;
    int left, top, width, height;
    const char *caption; // the headings' texts are the product's own, from AppInfo
    const char *toolTip;
    bool enabled;
};

const char *const Window = "MainWindow";

// clang-format off
const ControlRow Controls[] = {
    {"lblAdvert(0)", Window, 120, 120, 4695, 255, nullptr, "", true},
    {"lblAdvert(1)", Window, 120, 360, 4695, 255, nullptr, "", true},
    {"lblAdvert(2)", Window, 120, 600, 4695, 255, nullptr, "", true},
    {"fraComs", Window, 120, 960, 2295, 1815, "Communication", "", true},
    {"lblComStatus", "fraComs", 240, 240, 1935, 255, "Com port closed", "", true},
    {"frabaud", "fraComs", 120, 480, 975, 735, "", "select data rate", true},
    {"optBaud(0)", "frabaud", 120, 120, 735, 255, "2400", "select data rate", true},
    {"optBaud(1)", "frabaud", 120, 360, 735, 255, "9600", "select data rate", true},
    {"fraPort", "fraComs", 1200, 480, 975, 735, "", "Select com port", true},
    {"optPort(0)", "fraPort", 120, 120, 735, 255, "com1", "Select com port", true},
    {"optPort(1)", "fraPort", 120, 360, 735, 255, "com2", "Select com port", true},
    {"cmdCom", "fraComs", 120, 1320, 2055, 375, "Open com port", "Open/close com port", true},
    {"cmdHome", Window, 2760, 1080, 855, 495, "Home", "Move LCd cursor to home on LCD", false},
    {"cmdClear", Window, 3840, 1080, 855, 495, "Clear", "Clear LCD", false},
    {"cmdNewLine", Window, 2760, 1680, 855, 495, "NewLine", "Move cursor to start of new line on LCD", false},
    {"cmdRipple", Window, 3840, 1680, 855, 495, "Ripple", "Ripple through each LCD position", false},
    {"cmdBanner", Window, 2760, 2280, 855, 495, "Banner", "Display banner message on LCD", false},
    {"cmdExit", Window, 3840, 2280, 855, 495, "E&xit", "Exit the KV310 test program", true},
    {"fraSendText", Window, 120, 2880, 4695, 855, "Send text string", "", true},
    {"cmdSend", "fraSendText", 120, 240, 855, 495, "Send", "Send text string to KV310", false},
    {"txtSend", "fraSendText", 1200, 360, 3375, 375, "", "String to send to KV310", true},
    {"txtSent", Window, 120, 3840, 4695, 1575, "", "Data sent to KV310 in hex", true},
    {"fraKeys", Window, 120, 5520, 4695, 855, "Keyboard", "", true},
    {"cmdGetKey", "fraKeys", 120, 240, 735, 495, "Get Key", "Single key status request from KV310", false},
    {"cmdPollKey", "fraKeys", 960, 240, 735, 495, "Poll Key", "Continuous poll of KV310 keypad, hit any key to stop", false},
};
// clang-format on

QString captionOf(const QWidget *control)
{
    if (auto *button = qobject_cast<const QAbstractButton *>(control))
        return button->text();
    if (auto *label = qobject_cast<const QLabel *>(control))
        return label->text();
    if (auto *box = qobject_cast<const QGroupBox *>(control))
        return box->title();
    if (auto *line = qobject_cast<const QLineEdit *>(control))
        return line->text();
    if (auto *text = qobject_cast<const QPlainTextEdit *>(control))
        return text->toPlainText();
    return {};
}

// Why caption would not fit the control as its style lays it out; empty when it fits.
QString misfit(QWidget *control, const QString &caption)
{
    if (caption.isEmpty())
        return {};
    QRect room;
    QStyle *style = control->style();
    if (qobject_cast<QAbstractButton *>(control)) {
        QStyleOptionButton option;
        option.initFrom(control);
        option.text = caption;
        const bool radio = qobject_cast<QRadioButton *>(control);
        room = style->subElementRect(radio ? QStyle::SE_RadioButtonContents
                                           : QStyle::SE_PushButtonContents,
                                     &option, control);
        if (!radio) {
            const int margin = style->pixelMetric(QStyle::PM_ButtonMargin, &option, control) / 2;
            room.adjust(margin, 0, -margin, 0);
        }
    } else if (auto *label = qobject_cast<QLabel *>(control)) {
        room = label->contentsRect();
    } else if (auto *box = qobject_cast<QGroupBox *>(control)) {
        // The title sits in the top border, clear of its corners and of the controls inside.
        int firstTop = box->height();
        for (const QWidget *child : box->findChildren<QWidget *>(Qt::FindDirectChildrenOnly))
            firstTop = qMin(firstTop, child->y());
        room = QRect(8, 0, box->width() - 16, firstTop);
    }
    const QSize text = QFontMetrics(control->font()).size(Qt::TextShowMnemonic, caption);
    if (text.width() <= room.width() && text.height() <= room.height())
        return {};
    return QStringLiteral("\"%1\" needs %2x%3, has %4x%5")
        .arg(caption)
        .arg(text.width())
        .arg(text.height())
        .arg(room.width())
        .arg(room.height());
}

QString focusName()
{
    const QWidget *focus = QApplication::focusWidget();
    return focus ? focus->objectName() : QStringLiteral("(none)");
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
        QVERIFY(m_harness->line().isValid());
    }
    void cleanup() { m_harness.reset(); }

    void windowFrame()
    {
        MainWindow &window = m_harness->window();
        QCOMPARE(window.windowTitle(), QStringLiteral("Veltor Serial LCD test utility"));
        const QSize client(4935 / 15, 6465 / 15);
        QCOMPARE(window.size(), client);
        window.resize(client * 2);
        QCOMPARE(window.size(), client);
        QCOMPARE(window.minimumSize(), window.maximumSize());

        const Qt::WindowFlags flags = window.windowFlags();
        QVERIFY(flags.testFlag(Qt::WindowTitleHint) && flags.testFlag(Qt::WindowSystemMenuHint));
        QVERIFY(flags.testFlag(Qt::WindowCloseButtonHint));
        QVERIFY(!flags.testFlag(Qt::WindowMinimizeButtonHint));
        QVERIFY(!flags.testFlag(Qt::WindowMaximizeButtonHint));

        QVERIFY(!window.findChild<QTimer *>(QStringLiteral("tmrPoll"))->isActive());
        QVERIFY(!m_harness->port().PortOpen());
        QVERIFY(!window.isPolling());
    }

    void controls_data()
    {
        QTest::addColumn<QString>("container");
        QTest::addColumn<QRect>("geometry");
        QTest::addColumn<QString>("caption");
        QTest::addColumn<QString>("toolTip");
        QTest::addColumn<bool>("enabled");
        const auto pixels = [](int left, int top, int width, int height) {
            return QRect(left / 15, top / 15, width / 15, height / 15);
        };
        const QString adverts[] = {AppInfo::Heading, AppInfo::Copyright, AppInfo::WebAddress};
        const QString *advert = adverts;
        for (const ControlRow &row : Controls)
            QTest::newRow(row.name)
                << row.container << pixels(row.left, row.top, row.width, row.height)
                << (row.caption ? QString::fromUtf8(row.caption) : *advert++) << row.toolTip
                << row.enabled;
        for (int index = 0; index < 6; ++index) {
            const int left = 1800 + 480 * index;
            QTest::addRow("lblKey(%d)", index)
                << "fraKeys" << pixels(left, 240, 375, 255)
                << QStringLiteral("%1 ??").arg(index + 1)
                << QStringLiteral("Key %1 status").arg(index + 1) << true;
            QTest::addRow("shpKey(%d)", index) << "fraKeys" << pixels(left, 480, 375, 255) << ""
                                               << "" << true;
        }
    }

    void controls()
    {
        QFETCH(QString, container);
        QFETCH(QRect, geometry);
        QFETCH(QString, caption);
        QFETCH(QString, toolTip);
        QFETCH(bool, enabled);

        QWidget *widget = m_harness->control<QWidget>(QString::fromUtf8(QTest::currentDataTag()));
        QVERIFY(widget && widget->parentWidget());
        QCOMPARE(widget->parentWidget()->objectName(), container);
        QCOMPARE(widget->geometry(), geometry);
        QVERIFY(widget->isVisible());
        QCOMPARE(captionOf(widget), caption);
        QCOMPARE(widget->toolTip(), toolTip);
        QCOMPARE(widget->isEnabled(), enabled);
        const QString problem = misfit(widget, caption);
        QVERIFY2(problem.isEmpty(), qPrintable(problem));
        if (auto *label = qobject_cast<const QLabel *>(widget)) {
            QCOMPARE(label->alignment(), Qt::AlignCenter);
            QCOMPARE(label->frameShape(), QFrame::NoFrame);
        }
        if (auto *button = qobject_cast<const QPushButton *>(widget)) {
            QVERIFY(!button->isDefault() && !button->autoDefault());
            QCOMPARE(QKeySequence::mnemonic(caption).isEmpty(), caption != "E&xit");
        }
        if (auto *option = qobject_cast<const QRadioButton *>(widget))
            QCOMPARE(option->isChecked(), caption == "2400" || caption == "com1");
        if (auto *shape = qobject_cast<const Shape *>(widget))
            QCOMPARE(shape->fillColor(), QColor(Qt::black));
    }

    void runTimeCaptionsFit()
    {
        QStringList problems;
        const auto check = [&](const char *name, const QString &caption) {
            const QString problem = misfit(m_harness->control<QWidget>(name), caption);
            if (!problem.isEmpty())
                problems << problem;
        };
        check("cmdCom", QStringLiteral("Close com port"));
        check("lblComStatus", QStringLiteral("Com port open"));
        for (int index = 0; index < 6; ++index) {
            const QByteArray name = "lblKey(" + QByteArray::number(index) + ')';
            check(name, QStringLiteral("%1 on").arg(index + 1));
            check(name, QStringLiteral("%1 off").arg(index + 1));
        }
        QVERIFY2(problems.isEmpty(), qPrintable(problems.join(QLatin1String("; "))));
    }

    void textBoxes()
    {
        auto *sent = m_harness->control<QPlainTextEdit>(QStringLiteral("txtSent"));
        QVERIFY(sent->isReadOnly());
        QCOMPARE(sent->focusPolicy() & Qt::StrongFocus, Qt::StrongFocus);
        QVERIFY(sent->textInteractionFlags().testFlag(Qt::TextSelectableByKeyboard));
        QVERIFY(sent->textInteractionFlags().testFlag(Qt::TextSelectableByMouse));
        QCOMPARE(sent->horizontalScrollBarPolicy(), Qt::ScrollBarAlwaysOff);
        QCOMPARE(sent->verticalScrollBarPolicy(), Qt::ScrollBarAlwaysOff);
        QCOMPARE(sent->lineWrapMode(), QPlainTextEdit::WidgetWidth);
        QCOMPARE(sent->wordWrapMode(), QTextOption::WordWrap);

        QVERIFY(activate());
        sent->setFocus();
        QTest::keyClicks(sent, "ab 12");
        press(Qt::Key_V, Qt::ControlModifier);
        press(Qt::Key_Return);
        QVERIFY(sent->toPlainText().isEmpty());

        auto *send = m_harness->control<QLineEdit>(QStringLiteral("txtSend"));
        QVERIFY(!send->isReadOnly());
        const QString longText(40000, QLatin1Char('x'));
        send->setText(longText);
        QCOMPARE(send->text(), longText);
    }

    void optionGroupsAreIndependent()
    {
        const auto checked = [this](const char *name) {
            return m_harness->control<QRadioButton>(QString::fromUtf8(name))->isChecked();
        };
        QVERIFY(m_harness->click(QStringLiteral("optPort(1)")));
        QVERIFY(checked("optPort(1)") && !checked("optPort(0)"));
        QVERIFY(checked("optBaud(0)") && !checked("optBaud(1)"));
        QVERIFY(m_harness->click(QStringLiteral("optBaud(1)")));
        QVERIFY(checked("optBaud(1)") && !checked("optBaud(0)"));
        QVERIFY(checked("optPort(1)"));
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
        QVERIFY(activate());
        QCOMPARE(focusName(), QStringLiteral("txtSent"));
        if (open) {
            QVERIFY(m_harness->openPort());
            m_harness->control<QWidget>(QStringLiteral("txtSent"))->setFocus();
        }

        // Once round the window and back to the start.
        QStringList visited{focusName()};
        for (qsizetype step = 0; step < order.size(); ++step) {
            if (backwards) {
                press(Qt::Key_Backtab, Qt::ShiftModifier);
                visited.prepend(focusName());
            } else {
                press(Qt::Key_Tab);
                visited.append(focusName());
            }
        }
        QCOMPARE(visited, order + QStringList{order.first()});
    }

    void arrowsMoveWithinAGroup()
    {
        QVERIFY(activate());
        m_harness->control<QWidget>(QStringLiteral("optBaud(0)"))->setFocus();
        press(Qt::Key_Down);
        QCOMPARE(focusName(), QStringLiteral("optBaud(1)"));
        QVERIFY(m_harness->control<QRadioButton>(QStringLiteral("optBaud(1)"))->isChecked());

        // Tab now enters the rate group at the newly selected button, from either side.
        m_harness->control<QWidget>(QStringLiteral("optPort(0)"))->setFocus();
        press(Qt::Key_Backtab, Qt::ShiftModifier);
        QCOMPARE(focusName(), QStringLiteral("optBaud(1)"));
        press(Qt::Key_Backtab, Qt::ShiftModifier);
        press(Qt::Key_Tab);
        QCOMPARE(focusName(), QStringLiteral("optBaud(1)"));
    }

    void accessKeyClicksExit_data()
    {
        QTest::addColumn<bool>("open");
        for (const char *name : {"txtSent", "optBaud(0)", "txtSend"})
            QTest::newRow(name) << false;
        for (const char *name : {"cmdPollKey", "txtSend"})
            QTest::addRow("open, %s", name) << true;
    }

    void accessKeyClicksExit()
    {
        QFETCH(bool, open);
        const QString focus = QString::fromUtf8(QTest::currentDataTag()).section(' ', -1);
        QVERIFY(activate());
        if (open)
            QVERIFY(m_harness->openPort());
        m_harness->control<QWidget>(focus)->setFocus();
        QCOMPARE(focusName(), focus);

        QSignalSpy clicked(m_harness->control(QStringLiteral("cmdExit")), &QPushButton::clicked);
        press(Qt::Key_X, Qt::AltModifier);
        // A shortcut animates the button and clicks it a moment later.
        QTRY_COMPARE(clicked.count(), 1);
        QVERIFY(!m_harness->port().PortOpen());
        QVERIFY(m_harness->modals().messages.isEmpty());
    }

    void keysAndOptionsSendNothing()
    {
        for (const char *name : {"optPort(1)", "optBaud(1)", "optPort(0)", "optBaud(0)"})
            QVERIFY(m_harness->click(QString::fromUtf8(name)));
        QVERIFY(!m_harness->port().PortOpen());

        QVERIFY(activate());
        QVERIFY(m_harness->openPort());
        QSignalSpy written(&m_harness->port(), &MSComm::outputWritten);
        std::vector<std::unique_ptr<QSignalSpy>> clicks;
        for (QAbstractButton *button : m_harness->window().findChildren<QAbstractButton *>())
            clicks.push_back(std::make_unique<QSignalSpy>(button, &QAbstractButton::clicked));

        auto *send = m_harness->control<QLineEdit>(QStringLiteral("txtSend"));
        send->setFocus();
        QTest::keyClicks(send, "Hello, display");
        press(Qt::Key_Backspace);
        for (const char *name : {"txtSend", "txtSent"}) {
            m_harness->control<QWidget>(name)->setFocus();
            for (const Qt::Key key : {Qt::Key_Return, Qt::Key_Enter, Qt::Key_Escape})
                press(key);
        }

        QCOMPARE(m_harness->wire(), QByteArray());
        QCOMPARE(written.count(), 0);
        for (const auto &spy : clicks)
            QCOMPARE(spy->count(), 0);
        QCOMPARE(send->text(), QStringLiteral("Hello, displa"));
        QVERIFY(m_harness->logText().isEmpty());
        QVERIFY(m_harness->port().PortOpen());
        QVERIFY(m_harness->modals().messages.isEmpty());
    }

private:
    bool activate()
    {
        m_harness->window().activateWindow();
        return QTest::qWaitForWindowActive(&m_harness->window());
    }

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
