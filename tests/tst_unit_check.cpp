#include "PseudoTerminal.h"
#include "check/CheckOperator.h"
#include "check/LineSession.h"
#include "check/UnitCheck.h"
#include "link/MSComm.h"
#include "link/PortConnection.h"

#include <QElapsedTimer>
#include <QSocketNotifier>
#include <QTest>
#include <QTimer>

#include <csignal>
#include <functional>
#include <memory>
#include <unistd.h>

namespace
{

const QByteArray Clear("\x0c");
const QByteArray Home("\xfe\x80", 2);
const QByteArray NewLine("\x0a");

// A unit on the master side of a pseudo-terminal: answers each key-status request with its key
// byte, and keeps everything it was sent.
class FakeUnit : public QObject
{
public:
    explicit FakeUnit(PtyPair &line)
        : m_line(line), m_holder(line.slavePath()),
          m_notifier(std::make_unique<QSocketNotifier>(line.masterFd(), QSocketNotifier::Read))
    {
        connect(m_notifier.get(), &QSocketNotifier::activated, this, &FakeUnit::take);
    }

    const QByteArray &received() const { return m_received; }
    void setKeys(quint8 keys) { m_keys = keys; }
    void setMuted(bool muted) { m_muted = muted; }
    // Each reply followed by a second byte, in the same write or afterMs later.
    void setSecondByte(int afterMs) { m_secondByteAfterMs = afterMs; }
    void press(int key, int holdMs = 150)
    {
        setKeys(quint8(1u << (key - 1)));
        QTimer::singleShot(holdMs, this, [this] { setKeys(0); });
    }
    void hangUp()
    {
        m_notifier.reset();
        m_line.closeMaster();
    }

private:
    void take()
    {
        const QByteArray bytes = m_line.readWaiting();
        if (bytes.isEmpty()) // the utility has closed its side; the holder keeps the line up
            return;
        m_received += bytes;
        for (const char byte : bytes) {
            if (m_afterPrefix && byte == '\xf0')
                reply();
            m_afterPrefix = byte == '\xfe' && !m_afterPrefix;
        }
    }
    void reply()
    {
        if (m_muted)
            return;
        QByteArray bytes(1, char(m_keys));
        if (m_secondByteAfterMs == 0)
            bytes += char(m_keys);
        else if (m_secondByteAfterMs > 0)
            QTimer::singleShot(m_secondByteAfterMs, this,
                               [this, keys = m_keys] { m_line.write(QByteArray(1, char(keys))); });
        m_line.write(bytes);
    }

    PtyPair &m_line;
    // A second opening of the slave: the master does not hang up when the utility closes its port.
    const SlaveProbe m_holder;
    std::unique_ptr<QSocketNotifier> m_notifier;
    QByteArray m_received;
    quint8 m_keys = 0;
    bool m_muted = false;
    bool m_afterPrefix = false;
    int m_secondByteAfterMs = -1;
};

struct Bench;
// What happens when the check asks for a key.
using KeyAction = std::function<void(Bench &, int asked)>;

// One check of one unit: its faults, the operator's part and what must come of it.
struct UnitRow {
    CheckSettings settings;
    quint8 stuckKeys = 0;
    int secondByteAfterMs = -1;
    bool muted = false;
    QStringList answers{"y"}; // to the display question, in turn; then the input ends
    std::map<int, KeyAction> atKey;

    bool stopped = false;
    int passed = 9; // steps passed (or not judged) before the one that fails
    QString detail; // of the failed step: starts with it
    bool lineFailed = false;
    QString said = QStringLiteral("PASS"); // the operator's last line
    QByteArray shown;                      // what the unit's display was last sent
    qint64 failedWithinMs = 5000;
    qint64 failedAfterMs = 0;

    UnitRow &with(const std::function<void(UnitRow &)> &change)
    {
        change(*this);
        return *this;
    }
    UnitRow &answering(const QStringList &lines)
    {
        answers = lines;
        return *this;
    }
    UnitRow &onKey(int key, KeyAction action)
    {
        atKey[key] = std::move(action);
        return *this;
    }
    UnitRow &fails(int passedSteps, const QString &failedDetail, const QString &step)
    {
        passed = passedSteps;
        detail = failedDetail;
        said = QStringLiteral("FAIL %1: %2").arg(step, failedDetail);
        shown = Clear + Home + "FAIL" + NewLine + step.toLatin1();
        return *this;
    }
    UnitRow &stops(int passedSteps)
    {
        stopped = true;
        passed = passedSteps;
        said.clear();
        return *this;
    }
    UnitRow &within(qint64 afterMs, qint64 withinMs)
    {
        failedAfterMs = afterMs;
        failedWithinMs = withinMs;
        return *this;
    }
};

// The operator as a row plays it: the answers come a little after the question.
class ScriptedOperator : public CheckOperator
{
public:
    ScriptedOperator(const UnitRow &row, std::function<void(int)> keyAsked)
        : m_answersLeft(row.answers), m_keyAsked(std::move(keyAsked))
    {
    }

    const QStringList &told() const { return m_told; }
    const QStringList &asked() const { return m_asked; }

    void tell(const QString &line) override { m_told.append(line); }
    void ask(const QString &question) override
    {
        m_asked.append(question);
        QTimer::singleShot(20, this, [this] {
            m_ended = m_answersLeft.isEmpty();
            m_answers += std::exchange(m_answersLeft, {});
            emit woken();
        });
    }
    void askForKey(int key) override
    {
        m_asked.append(QStringLiteral("key %1").arg(key));
        m_keyAsked(key);
    }
    std::optional<QString> takeAnswer() override
    {
        if (m_answers.isEmpty())
            return std::nullopt;
        return m_answers.takeFirst();
    }
    bool inputEnded() const override { return m_ended; }

private:
    QStringList m_answersLeft;
    QStringList m_answers;
    QStringList m_told;
    QStringList m_asked;
    bool m_ended = false;
    const std::function<void(int)> m_keyAsked;
};

// The check, its port on a pseudo-terminal and the unit at the other end.
struct Bench {
    explicit Bench(const UnitRow &row)
        : unit(line), checkOperator(row,
                                    [this, &row](int key) {
                                        const auto action = row.atKey.find(key);
                                        if (action == row.atKey.end())
                                            unit.press(key);
                                        else
                                            action->second(*this, key);
                                    }),
          session(port, checkOperator)
    {
    }

    PtyPair line;
    FakeUnit unit;
    MSComm port;
    ScriptedOperator checkOperator;
    LineSession session;
};

// At 2400 baud a byte takes about 4 ms.
constexpr char SecondByteLater[] = "two bytes in reply, the second a byte's time later";

const KeyAction pressNothing = [](Bench &, int) {
};

KeyAction pressInstead(int key)
{
    return [key](Bench &bench, int) {
        bench.unit.press(key);
    };
}

// Done a little after the key is asked for, while the check waits for it.
KeyAction meanwhile(const std::function<void(Bench &)> &action)
{
    return [action](Bench &bench, int) {
        QTimer::singleShot(150, &bench.unit, [&bench, action] { action(bench); });
    };
}

} // namespace

Q_DECLARE_METATYPE(UnitRow)

// The check's steps run in this process against a unit played from here over a pseudo-terminal:
// what each fault of a unit and each answer of an operator makes of each step.
class UnitCheckTest : public QObject
{
    Q_OBJECT

private slots:
    void steps_data()
    {
        QTest::addColumn<UnitRow>("row");
        const auto row = [](const char *name, const UnitRow &row) {
            QTest::newRow(name) << row;
        };
        row("good unit", UnitRow().with([](UnitRow &r) { r.shown = Clear + Home + "PASS"; }));
        row("an unclear answer is asked again", UnitRow().answering({"maybe", "Y"}));
        row("stuck key", UnitRow()
                             .with([](UnitRow &r) { r.stuckKeys = 0x04; })
                             .fails(1, "key 3 is down before any was pressed", "rest"));
        row("crossed key",
            UnitRow().onKey(2, pressInstead(5)).fails(4, "key 5 went down, not key 2", "key 2"));
        row("two bytes in reply", UnitRow()
                                      .with([](UnitRow &r) { r.secondByteAfterMs = 0; })
                                      .fails(0, "2 bytes in reply, 1 expected", "reply"));
        row(SecondByteLater, UnitRow()
                                 .with([](UnitRow &r) { r.secondByteAfterMs = 5; })
                                 .fails(0, "2 bytes in reply, 1 expected", "reply"));
        row("no reply", UnitRow()
                            .with([](UnitRow &r) { r.muted = true; })
                            .fails(0, "no reply from the unit (port, rate or cable)", "reply"));
        row("display judged wrong",
            UnitRow().answering({"n"}).fails(2, "the operator saw otherwise", "display"));
        row("display not confirmed",
            UnitRow().answering({}).with([](UnitRow &r) { r.settings.confirmDisplay = false; }));
        row("end of input at the display question",
            UnitRow().answering({}).fails(2, "no answer", "display"));
        row("end of input at the display question stops a station",
            UnitRow()
                .answering({})
                .with([](UnitRow &r) { r.settings.endOfInputStops = true; })
                .stops(2));
        row("dead key, short time-out", UnitRow()
                                            .with([](UnitRow &r) { r.settings.keyTimeoutMs = 300; })
                                            .onKey(4, pressNothing)
                                            .fails(6, "key 4 not seen within 0.3 s", "key 4")
                                            .within(300, 2000));
        row("the unit stops answering while a key is awaited",
            UnitRow()
                .onKey(1, meanwhile([](Bench &bench) { bench.unit.setMuted(true); }))
                .fails(3, "the unit stopped answering", "key 1")
                .within(0, 2000));
        row("the unit gone while a key is awaited",
            UnitRow()
                .onKey(3, meanwhile([](Bench &bench) { bench.unit.hangUp(); }))
                .fails(5, "The device is no longer connected", "key 3")
                .with([](UnitRow &r) {
                    r.lineFailed = true;
                    r.shown.clear();
                })
                .within(0, 2000));
        row("stopped while a key is awaited",
            UnitRow()
                .onKey(2, meanwhile([](Bench &bench) { bench.session.stop(SIGINT); }))
                .stops(4));
    }
    void steps()
    {
        QFETCH(UnitRow, row);
        Bench bench(row);
        bench.unit.setKeys(row.stuckKeys);
        bench.unit.setMuted(row.muted);
        bench.unit.setSecondByte(row.secondByteAfterMs);
        openPort(bench.port, {1, bench.line.slavePath(), 2400});
        QCOMPARE(lineSettings(bench.line.masterFd()), QStringLiteral("2400 8N1"));

        UnitCheck check(bench.session, row.settings);
        QList<CheckStep> steps = unstartedSteps();
        bool stopped = false;
        std::optional<Verdict> verdict;
        try {
            verdict = check.run(steps);
        } catch (const Stopped &) {
            stopped = true;
        }
        QCOMPARE(stopped, row.stopped);
        if (!row.stopped)
            QCOMPARE(*verdict, row.detail.isEmpty() ? Verdict::Pass : Verdict::Fail);
        QCOMPARE(check.lineFailed(), row.lineFailed);

        QCOMPARE(steps.size(), 9);
        const bool failed = !row.stopped && !row.detail.isEmpty();
        for (int index = 0; index < steps.size(); ++index) {
            const CheckStep &step = steps[index];
            const CheckStep::Result expected =
                index > row.passed || (index == row.passed && !failed) ? CheckStep::Result::Skipped
                : index == row.passed                                  ? CheckStep::Result::Fail
                : index == 2 && !row.settings.confirmDisplay ? CheckStep::Result::NotJudged
                                                             : CheckStep::Result::Pass;
            QCOMPARE(step.name + ": " + resultName(step.result),
                     step.name + ": " + resultName(expected));
            if (expected == CheckStep::Result::Fail) {
                QCOMPARE(step.detail, row.detail);
                QVERIFY2(step.ms >= row.failedAfterMs && step.ms < row.failedWithinMs,
                         qPrintable(QStringLiteral("%1 ms").arg(step.ms)));
            } else if (step.name.startsWith(QLatin1String("key")) &&
                       expected == CheckStep::Result::Pass) {
                QVERIFY2(step.detail.startsWith(QLatin1String("seen after ")),
                         qPrintable(step.detail));
            }
        }

        const QStringList &asked = bench.checkOperator.asked();
        QCOMPARE(asked.filter(QStringLiteral("Do both lines show")).size(),
                 row.passed >= 2 && row.settings.confirmDisplay ? 1 : 0);
        if (!row.said.isEmpty())
            QCOMPARE(bench.checkOperator.told().value(bench.checkOperator.told().size() - 1),
                     row.said);
        if (row.answers.size() > 1)
            QVERIFY(bench.checkOperator.told().contains(QStringLiteral("Please answer y or n.")));
        if (row.passed >= 2)
            QVERIFY(bench.unit.received().contains(Clear + Home + "0123456789ABCDEF" + NewLine +
                                                   "GHIJKLMNOPQRSTUV"));
        if (!row.shown.isEmpty())
            QTRY_COMPARE(bench.unit.received().right(row.shown.size()), row.shown);
    }
};

QTEST_GUILESS_MAIN(UnitCheckTest)

#include "tst_unit_check.moc"
