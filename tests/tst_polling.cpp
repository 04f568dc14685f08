#include "TestSupport.h"
#include "common/Shape.h"
#include "link/MSComm.h"
#include "ui/FailureReporter.h"
#include "ui/WindowLayout.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QLabel>
#include <QLineEdit>
#include <QTest>
#include <QTimer>

#include <atomic>
#include <cerrno>
#include <fcntl.h>
#include <poll.h>
#include <thread>
#include <unistd.h>

namespace
{

const QByteArray Request("\xFE\xF0", 2);

int requestCount(const QByteArray &bytes)
{
    return static_cast<int>(bytes.count(Request));
}

// A second descriptor on the port's device, opened before the utility takes it: tells when bytes
// from the unit have reached the port without letting the window's event loop run.
class ArrivalProbe
{
public:
    explicit ArrivalProbe(const QString &slavePath)
        : m_fd(::open(slavePath.toLocal8Bit().constData(), O_RDONLY | O_NOCTTY | O_NONBLOCK))
    {
    }
    ~ArrivalProbe()
    {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    ArrivalProbe(const ArrivalProbe &) = delete;
    ArrivalProbe &operator=(const ArrivalProbe &) = delete;

    bool isValid() const { return m_fd >= 0; }
    bool waitForBytes(int timeoutMs = 2000) const
    {
        pollfd descriptor{m_fd, POLLIN, 0};
        return ::poll(&descriptor, 1, timeoutMs) > 0 && (descriptor.revents & POLLIN);
    }

private:
    const int m_fd;
};

// Writes from its own thread, so the window can read while the writer is held back.
class Flood
{
public:
    Flood(int masterFd, const QByteArray &bytes)
        : m_thread([this, masterFd, bytes] { run(masterFd, bytes); })
    {
    }
    ~Flood()
    {
        m_stop = true;
        m_thread.join();
    }
    Flood(const Flood &) = delete;
    Flood &operator=(const Flood &) = delete;

    bool isDone() const { return m_done; }

private:
    void run(int masterFd, const QByteArray &bytes)
    {
        qsizetype written = 0;
        while (!m_stop && written < bytes.size()) {
            const ssize_t count =
                ::write(masterFd, bytes.constData() + written, bytes.size() - written);
            if (count > 0) {
                written += count;
            } else if (count < 0 && errno != EAGAIN && errno != EINTR) {
                break;
            } else {
                pollfd descriptor{masterFd, POLLOUT, 0};
                ::poll(&descriptor, 1, 20);
            }
        }
        m_done = true;
    }

    std::atomic<bool> m_stop{false};
    std::atomic<bool> m_done{false};
    std::thread m_thread;
};

} // namespace

class PollingTest : public QObject
{
    Q_OBJECT

private:
    static QTimer *pollTimer(WindowHarness &harness)
    {
        return harness.window().findChild<QTimer *>(QStringLiteral("tmrPoll"));
    }

    // The keys listed in onKeys ("13": keys 1 and 3) show "<digit> on" in red, the rest
    // "<digit> off" in green.
    static void verifyIndicators(WindowHarness &harness, const QString &onKeys)
    {
        for (int index = 0; index < KeyCount; ++index) {
            const QChar digit(u'1' + index);
            const bool on = onKeys.contains(digit);
            const auto *label = harness.control<QLabel>(QStringLiteral("lblKey(%1)").arg(index));
            const auto *shape = harness.control<Shape>(QStringLiteral("shpKey(%1)").arg(index));
            QCOMPARE(label->text(),
                     QString(digit) + (on ? QLatin1String(" on") : QLatin1String(" off")));
            QCOMPARE(shape->fillColor().rgba(), on ? qRgb(255, 0, 0) : qRgb(0, 255, 0));
        }
    }

    static void verifyInitialIndicators(WindowHarness &harness)
    {
        for (int index = 0; index < KeyCount; ++index) {
            const auto *label = harness.control<QLabel>(QStringLiteral("lblKey(%1)").arg(index));
            const auto *shape = harness.control<Shape>(QStringLiteral("shpKey(%1)").arg(index));
            QCOMPARE(label->text(), QStringLiteral("%1 ??").arg(index + 1));
            QCOMPARE(shape->fillColor().rgba(), qRgb(0, 0, 0));
        }
    }

    static bool firstLabelIs(WindowHarness &harness, const QString &text)
    {
        return harness.control<QLabel>(QStringLiteral("lblKey(0)"))->text() == text;
    }

private slots:
    void replyReachesIndicators_data()
    {
        QTest::addColumn<QByteArray>("reply");
        QTest::addColumn<QString>("onKeys");

        QTest::newRow("00") << QByteArray(1, '\x00') << QString();
        QTest::newRow("3F") << QByteArray("\x3F") << QStringLiteral("123456");
        QTest::newRow("05") << QByteArray("\x05") << QStringLiteral("13");
        QTest::newRow("C0") << QByteArray("\xC0") << QString();
        QTest::newRow("FF") << QByteArray("\xFF") << QStringLiteral("123456");
        QTest::newRow("01 20 in one read: only the first")
            << QByteArray("\x01\x20") << QStringLiteral("1");
    }

    void replyReachesIndicators()
    {
        QFETCH(QByteArray, reply);
        QFETCH(QString, onKeys);

        WindowHarness harness;
        QVERIFY(harness.openPort());
        QVERIFY(harness.line().write(reply));
        verifyInitialIndicators(harness);

        QTRY_VERIFY(!firstLabelIs(harness, QStringLiteral("1 ??")));
        // A second byte decoded on its own would show up a little later.
        WindowHarness::runEvents(200);
        verifyIndicators(harness, onKeys);
        QCOMPARE(harness.wire(50), QByteArray());
    }

    void getKeyAsksOnceAndDropsEarlierBytes()
    {
        WindowHarness harness;
        const ArrivalProbe probe(harness.line().slavePath());
        QVERIFY(probe.isValid());
        QVERIFY(harness.openPort());

        QVERIFY(harness.line().write("\x3F"));
        QVERIFY(probe.waitForBytes());
        QVERIFY(harness.click("cmdGetKey"));
        QCOMPARE(harness.wire(), Request);
        QCOMPARE(harness.logText(), QStringLiteral("FE F0 "));
        QVERIFY(!harness.window().isPolling());
        verifyInitialIndicators(harness);

        QVERIFY(harness.line().write("\x05"));
        QTRY_VERIFY(firstLabelIs(harness, QStringLiteral("1 on")));
        verifyIndicators(harness, QStringLiteral("13"));
    }

    void pollKeyAsksAtOnceThenEveryTick()
    {
        WindowHarness harness;
        QVERIFY(harness.openPort());
        // Start near the log's cut so the polling crosses it.
        harness.control<QLineEdit>(QStringLiteral("txtSend"))->setText(QString(130, u'a'));
        QVERIFY(harness.click("cmdSend"));
        harness.line().readAll(50);
        QString expectedLog = harness.logText();
        QCOMPARE(expectedLog.size(), 390);

        QVERIFY(harness.click("cmdPollKey"));
        QCOMPARE(harness.line().read(2, 1000), Request);
        QVERIFY(harness.window().isPolling());
        QVERIFY(pollTimer(harness)->isActive());

        QElapsedTimer clock;
        clock.start();
        WindowHarness::runEvents(1000);
        const qint64 elapsed = clock.elapsed();
        const QByteArray bytes = harness.line().readAll(50);
        const int ticks = requestCount(bytes);
        QCOMPARE(bytes, Request.repeated(ticks));
        QVERIFY2(ticks >= 6 && ticks <= elapsed / 100 + 2,
                 qPrintable(QStringLiteral("%1 requests in %2 ms").arg(ticks).arg(elapsed)));

        for (int request = 0; request < 1 + ticks; ++request) {
            expectedLog = expectedLog.size() >= 410 ? expectedLog.right(380) : expectedLog;
            expectedLog += QStringLiteral("FE F0 ");
        }
        QCOMPARE(harness.logText(), expectedLog);
    }

    void clearingButtonStopsPolling_data()
    {
        QTest::addColumn<QString>("button");
        QTest::addColumn<int>("ownRequests");

        QTest::newRow("Get Key") << QStringLiteral("cmdGetKey") << 1;
        QTest::newRow("Clear") << QStringLiteral("cmdClear") << 0;
        QTest::newRow("Home") << QStringLiteral("cmdHome") << 0;
        QTest::newRow("NewLine") << QStringLiteral("cmdNewLine") << 0;
        QTest::newRow("Banner") << QStringLiteral("cmdBanner") << 0;
        QTest::newRow("Send") << QStringLiteral("cmdSend") << 0;
        QTest::newRow("close port") << QStringLiteral("cmdCom") << 0;
        // Last: its pauses run the ticks while the click is still being handled.
        QTest::newRow("Ripple") << QStringLiteral("cmdRipple") << 0;
    }

    void clearingButtonStopsPolling()
    {
        QFETCH(QString, button);
        QFETCH(int, ownRequests);

        WindowHarness harness;
        QVERIFY(harness.openPort());
        harness.control<QLineEdit>(QStringLiteral("txtSend"))->setText(QStringLiteral("Hi"));
        QVERIFY(harness.click("cmdPollKey"));
        WindowHarness::runEvents(250);
        QVERIFY(requestCount(harness.line().readAll(50)) >= 2);

        QVERIFY(harness.click(button));
        QVERIFY(!harness.window().isPolling());
        QTRY_VERIFY(!pollTimer(harness)->isActive());
        WindowHarness::runEvents(300);
        QCOMPARE(requestCount(harness.line().readAll(50)), ownRequests);
        QVERIFY(!pollTimer(harness)->isActive());
        QCOMPARE(harness.window().failureReporter()->shownCount(), 0);
        QVERIFY(harness.modals().messages.isEmpty());
    }

    void pollKeyWhilePollingAsksAgainAndGoesOn()
    {
        WindowHarness harness;
        const ArrivalProbe probe(harness.line().slavePath());
        QVERIFY(probe.isValid());
        QVERIFY(harness.openPort());
        QVERIFY(harness.click("cmdPollKey"));
        // Typing in the send box is no command.
        auto *txtSend = harness.control<QLineEdit>(QStringLiteral("txtSend"));
        txtSend->setFocus();
        QTest::keyClicks(txtSend, QStringLiteral("ab"));
        QTest::keyClick(txtSend, Qt::Key_Return);
        WindowHarness::runEvents(250);
        QVERIFY(harness.window().isPolling());
        const QByteArray polled = harness.line().readAll(50);
        QVERIFY(requestCount(polled) >= 2);
        QCOMPARE(polled, Request.repeated(requestCount(polled)));

        // An answer waiting at the click is emptied away with the buffer.
        QVERIFY(harness.line().write("\x3F"));
        QVERIFY(probe.waitForBytes());
        QVERIFY(harness.click("cmdPollKey"));
        QCOMPARE(harness.line().read(2, 1000), Request);

        WindowHarness::runEvents(400);
        QVERIFY(requestCount(harness.line().readAll(50)) >= 2);
        QVERIFY(harness.window().isPolling());
        QVERIFY(pollTimer(harness)->isActive());
        verifyInitialIndicators(harness);
    }

    void deadPortIsReportedOnceAndStopsPolling()
    {
        WindowHarness harness;
        QVERIFY(harness.openPort());
        const FailureReporter *failures = harness.window().failureReporter();
        QVERIFY(harness.click("cmdPollKey"));
        WindowHarness::runEvents(250);

        harness.line().closeMaster();
        QTRY_COMPARE_WITH_TIMEOUT(failures->shownCount(), 1, 5000);
        QTRY_VERIFY(!harness.window().isPolling() && !pollTimer(harness)->isActive());

        WindowHarness::runEvents(1000);
        QCOMPARE(failures->shownCount(), 1);
        QCOMPARE(failures->suppressedCount(), 0);
        QCOMPARE(harness.modals().messages.size(), 1);
        QCOMPARE(harness.modals().messages.first().title, QStringLiteral("KV310 test"));
        QVERIFY(!pollTimer(harness)->isActive());
    }

    void floodLeavesWindowResponsive()
    {
        WindowHarness harness;
        QVERIFY(harness.openPort());
        int receiveEvents = 0;
        QObject::connect(&harness.port(), &MSComm::OnComm, &harness.window(),
                         [&receiveEvents] { ++receiveEvents; });

        QElapsedTimer sinceTick;
        qint64 longestGap = 0;
        QTimer heartbeat;
        QObject::connect(&heartbeat, &QTimer::timeout, &heartbeat,
                         [&] { longestGap = qMax(longestGap, sinceTick.restart()); });
        sinceTick.start();
        heartbeat.start(20);
        QTimer::singleShot(100, &harness.window(), [&harness] { harness.click("cmdHome"); });

        {
            const Flood flood(harness.line().masterFd(), QByteArray(1024 * 1024, '\x00'));
            QTRY_VERIFY_WITH_TIMEOUT(flood.isDone(), 60000);
        }
        // The flood is consumed once receive events stop coming.
        int seen = -1;
        while (seen != receiveEvents) {
            seen = receiveEvents;
            WindowHarness::runEvents(300);
        }
        heartbeat.stop();
        QVERIFY2(longestGap < 1000,
                 qPrintable(QStringLiteral("event loop held %1 ms").arg(longestGap)));
        QVERIFY(receiveEvents > 0);
        QCOMPARE(harness.logText(), QStringLiteral("FE 80 "));
        verifyIndicators(harness, QString());

        QVERIFY(harness.line().write(QByteArray("\x3F\x00", 2)));
        QTRY_VERIFY(firstLabelIs(harness, QStringLiteral("1 on")));
        verifyIndicators(harness, QStringLiteral("123456"));
    }
};

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    WindowLayout::setUpApplication(app);
    PollingTest test;
    return QTest::qExec(&test, argc, argv);
}
#include "tst_polling.moc"
