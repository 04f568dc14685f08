#include "EventLogView.h"
#include "FdHandle.h"
#include "KeyPanel.h"
#include "LcdPanel.h"
#include "PtyEndpoint.h"
#include "SimWindow.h"
#include "Simulator.h"

#include <QLabel>
#include <QPushButton>
#include <QTest>
#include <QTextBlock>

#include <fcntl.h>

class TestSimWindow : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { QVERIFY(m_endpoint.open()); }

    // Left holds a key only while the mouse button is down; right latches it until the next
    // right-click. The key status byte follows, and a latched button shows pressed.
    void keys()
    {
        const QList<QPushButton *> buttons =
            m_window.findChild<KeyPanel *>()->findChildren<QPushButton *>();
        // Key, mouse button, key status byte while pressed and after the release.
        const int steps[][4] = {{1, Qt::LeftButton, 0x01, 0x00},
                                {3, Qt::RightButton, 0x04, 0x04},
                                {1, Qt::LeftButton, 0x05, 0x04},
                                {3, Qt::RightButton, 0x00, 0x00}};
        for (const auto [key, mouseButton, pressed, released] : steps) {
            QPushButton *button = buttons.at(key - 1);
            const auto side = Qt::MouseButton(mouseButton);
            QTest::mousePress(button, side);
            QCOMPARE(m_simulator.model().keys(), pressed);
            QTest::mouseRelease(button, side);
            QCOMPARE(m_simulator.model().keys(), released);
            QCOMPARE(button->isChecked(), bool(released & (1 << (key - 1))));
            QCOMPARE(keysLabel(), "Key status byte: " + hexBytes(QByteArray(1, char(released))));
        }
    }

    // A long write is logged short; a flood keeps its notice first and its newest line last.
    void log()
    {
        auto *log = m_window.findChild<EventLogView *>();
        const FdHandle slave(::open(qPrintable(m_endpoint.slavePath()), O_RDWR | O_NOCTTY));
        QCOMPARE(::write(slave.get(), QByteArray(100, 'x').constData(), 100), 100);
        QTRY_VERIFY(
            log->toPlainText().endsWith("78 ... (100 bytes)  text \"" + QString(74, 'x') + "..."));

        const int count = EventLogView::MaxLines + 500;
        for (int line = 1; line <= count; ++line)
            log->appendLine(QString::number(line));
        QTRY_COMPARE(log->document()->lastBlock().text(), QString::number(count));
        QCOMPARE(log->document()->blockCount(), EventLogView::MaxLines);
        QCOMPARE(log->document()->firstBlock().text(), "... 501 line(s) not shown");
    }

    // Two lines of sixteen cells; the cursor is drawn only on a visible cell.
    void lcd()
    {
        LcdPanel lcd;
        const auto drawn = [&lcd](int cursorColumn) {
            lcd.setContent({QString(16, 'A'), QString(16, 'B')}, 1, cursorColumn);
            return lcd.grab().toImage();
        };
        drawn(0);
        lcd.resize(lcd.sizeHint());
        QVERIFY(lcd.sizeHint().width() > 2 * lcd.sizeHint().height());
        QVERIFY(lcd.minimumSizeHint().width() < lcd.sizeHint().width());
        QVERIFY(drawn(15) != drawn(16));
        QCOMPARE(drawn(40), drawn(16));
    }

private:
    QString keysLabel() const
    {
        for (const QLabel *label : m_window.findChildren<QLabel *>())
            if (label->text().startsWith("Key status byte"))
                return label->text();
        return {};
    }

    PtyEndpoint m_endpoint{PtyEndpoint::Pacing::Off};
    Simulator m_simulator{m_endpoint};
    SimWindow m_window{m_simulator, m_endpoint, {}};
};

QTEST_MAIN(TestSimWindow)

#include "tst_sim_window.moc"
