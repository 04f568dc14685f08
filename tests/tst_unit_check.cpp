#include "PseudoTerminal.h"
#include "check/CheckOperator.h"
#include "check/LineSession.h"
#include "check/UnitCheck.h"
#include "link/MSComm.h"
#include "link/PortConnection.h"

#include <QSocketNotifier>
#include <QTest>
#include <QTimer>

#include <functional>
#include <memory>

namespace
{

const QByteArray Clear("\x0c");
const QByteArray Home("\xfe\x80", 2);
const QByteArray NewLine("\x0a");

// A unit on the master side of a pseudo-terminal: answers each key-status request with its key
// byte (and a second one, at once or secondByteAfterMs later, when that is not -1), and keeps
// everything it was sent.
struct FakeUnit : QObject {
    explicit FakeUnit(PtyPair &pty)
        : line(pty), holder(pty.slavePath()),
          notifier(std::make_unique<QSocketNotifier>(pty.masterFd(), QSocketNotifier::Read))
    {
        connect(notifier.get(), &QSocketNotifier::activated, this, &FakeUnit::take);
    }
    void press(int key)
    {
        keys = quint8(1u << (key - 1));
        QTimer::singleShot(150, this, [this] { keys = 0; });
    }
    void hangUp()
    {
        notifier.reset();
        line.closeMaster();
    }
    void take()
    {
        const QByteArray bytes = line.readWaiting();
        received += bytes;
        for (const char byte : bytes) {
            if (afterPrefix && byte == '\xf0' && !muted) {
                line.write(QByteArray(secondByteAfterMs == 0 ? 2 : 1, char(keys)));
                if (secondByteAfterMs > 0)
                    QTimer::singleShot(secondByteAfterMs, this,
                                       [this, now = keys] { line.write(QByteArray(1, now)); });
            }
            afterPrefix = byte == '\xfe' && !afterPrefix;
        }
    }

    PtyPair &line;
    // A second opening of the slave: the master does not hang up when the utility closes its port.
    const SlaveProbe holder;
    std::unique_ptr<QSocketNotifier> notifier;
    QByteArray received;
    quint8 keys = 0;
    bool muted = false;
    bool afterPrefix = false;
    int secondByteAfterMs = -1;
};

struct Bench;
// What happens when the check asks for a key.
using KeyAction = std::function<void(Bench &)>;

// One check of one unit: its faults, the operator's part and what must come of it.
struct UnitRow {
    CheckSettings settings;
    std::function<void(FakeUnit &)> unitFault = [](FakeUnit &) {
    };
    QStringList answers{"y"}; // to the display question, in turn; then the input ends
    std::map<int, KeyAction> atKey;

    bool stopped = false;
    int passed = 9; // steps passed (or not judged) before the one that fails
    QString detail; // of the failed step
    bool lineFailed = false;
    QString said = QStringLiteral("PASS");    // the operator's last line
    QByteArray shown = Clear + Home + "PASS"; // what the unit's display was last sent
    qint64 failedAfterMs = 0;
    qint64 failedWithinMs = 5000;
};

// The operator as a row plays it: the answers come a little after the question.
class ScriptedOperator : public CheckOperator
{
public:
    ScriptedOperator(const UnitRow &row, std::function<void(int)> keyAsked)
        : m_answersLeft(row.answers), m_keyAsked(std::move(keyAsked))
    {
    }

    QStringList told;
    QStringList asked;

    void tell(const QString &line) override { told.append(line); }
    void ask(const QString &question) override
    {
        asked.append(question);
        QTimer::singleShot(20, this, [this] {
            m_ended = m_answersLeft.isEmpty();
            m_answers += std::exchange(m_answersLeft, {});
            emit woken();
        });
    }
    void askForKey(int key) override { m_keyAsked(key); }
    std::optional<QString> takeAnswer() override
    {
        return m_answers.isEmpty() ? std::nullopt : std::optional(m_answers.takeFirst());
    }
    bool inputEnded() const override { return m_ended; }

private:
    QStringList m_answersLeft;
    QStringList m_answers;
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
                                            action->second(*this);
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
        const auto row = [](const char *name, const std::function<void(UnitRow &)> &change) {
            UnitRow made;
            change(made);
            QTest::newRow(name) << made;
        };
        const auto fails = [](UnitRow &r, int passed, const QString &detail, const QString &step) {
            r.passed = passed;
            r.detail = detail;
            r.said = QStringLiteral("FAIL %1: %2").arg(step, detail);
            r.shown = Clear + Home + "FAIL" + NewLine + step.toLatin1();
        };
        // Done a little after the key is asked for, while the check waits for it.
        const auto meanwhile = [](const std::function<void(Bench &)> &action) {
            return [action](Bench &bench) {
                QTimer::singleShot(150, &bench.unit, [&bench, action] { action(bench); });
            };
        };
        row("good unit", [](UnitRow &) {});
        row("an unclear answer is asked again", [](UnitRow &r) { r.answers = {"maybe", "Y"}; });
        row("stuck key", [&](UnitRow &r) {
            r.unitFault = [](FakeUnit &unit) {
                unit.keys = 0x04;
            };
            fails(r, 1, "key 3 is down before any was pressed", "rest");
        });
        row("crossed key", [&](UnitRow &r) {
            r.atKey[2] = [](Bench &bench) {
                bench.unit.press(5);
            };
            fails(r, 4, "key 5 went down, not key 2", "key 2");
        });
        // At 2400 baud a byte takes about 4 ms.
        for (const int afterMs : {0, 5}) {
            row(afterMs == 0 ? "two bytes in reply" : "a second byte a byte's time later",
                [&](UnitRow &r) {
                    r.unitFault = [afterMs](FakeUnit &unit) {
                        unit.secondByteAfterMs = afterMs;
                    };
                    fails(r, 0, "2 bytes in reply, 1 expected", "reply");
                });
        }
        row("no reply", [&](UnitRow &r) {
            r.unitFault = [](FakeUnit &unit) {
                unit.muted = true;
            };
            fails(r, 0, "no reply from the unit (port, rate or cable)", "reply");
        });
        row("display judged wrong", [&](UnitRow &r) {
            r.answers = {"n"};
            fails(r, 2, "the operator saw otherwise", "display");
        });
        row("display not confirmed", [](UnitRow &r) {
            r.answers.clear();
            r.settings.confirmDisplay = false;
        });
        row("end of input at the display question", [&](UnitRow &r) {
            r.answers.clear();
            fails(r, 2, "no answer", "display");
        });
        row("end of input at the display question stops a station", [](UnitRow &r) {
            r.answers.clear();
            r.settings.endOfInputStops = true;
            r.stopped = true;
            r.passed = 2;
            r.said.clear();
            r.shown.clear();
        });
        row("dead key, short time-out", [&](UnitRow &r) {
            r.settings.keyTimeoutMs = 300;
            r.atKey[4] = [](Bench &) {
            };
            fails(r, 6, "key 4 not seen within 0.3 s", "key 4");
            r.failedAfterMs = 300;
            r.failedWithinMs = 2000;
        });
        row("the unit gone while a key is awaited", [&](UnitRow &r) {
            r.atKey[3] = meanwhile([](Bench &bench) { bench.unit.hangUp(); });
            fails(r, 5, "The device is no longer connected", "key 3");
            r.lineFailed = true;
            r.shown.clear();
            r.failedWithinMs = 2000;
        });
    }
    void steps()
    {
        QFETCH(UnitRow, row);
        Bench bench(row);
        row.unitFault(bench.unit);
        openPort(bench.port, {1, bench.line.slavePath(), 2400});
        QCOMPARE(lineSettings(bench.line.masterFd()), QStringLiteral("2400 8N1"));

        UnitCheck check(bench.session, row.settings);
        QList<CheckStep> steps = unstartedSteps();
        std::optional<Verdict> verdict;
        try {
            verdict = check.run(steps);
        } catch (const Stopped &) {
        }
        QCOMPARE(!verdict, row.stopped);
        if (verdict)
            QCOMPARE(*verdict, row.detail.isEmpty() ? Verdict::Pass : Verdict::Fail);
        QCOMPARE(check.lineFailed(), row.lineFailed);

        const bool failed = !row.detail.isEmpty();
        QStringList results;
        QStringList expected;
        for (const CheckStep &step : steps) {
            const qsizetype index = results.size();
            using Result = CheckStep::Result;
            const Result wanted = index > row.passed || (index == row.passed && !failed)
                                      ? Result::Skipped
                                  : index == row.passed                        ? Result::Fail
                                  : index == 2 && !row.settings.confirmDisplay ? Result::NotJudged
                                                                               : Result::Pass;
            results << step.name + ": " + resultName(step.result);
            expected << step.name + ": " + resultName(wanted);
            if (wanted == Result::Fail) {
                QCOMPARE(step.detail, row.detail);
                QVERIFY2(step.ms >= row.failedAfterMs && step.ms < row.failedWithinMs,
                         qPrintable(QStringLiteral("%1 ms").arg(step.ms)));
            } else if (wanted == Result::Pass && step.name.startsWith(QLatin1String("key"))) {
                QVERIFY2(step.detail.startsWith(QLatin1String("seen after ")),
                         qPrintable(step.detail));
            }
        }
        QCOMPARE(results, expected);
        QCOMPARE(results.size(), 9);

        const QStringList &told = bench.checkOperator.told;
        QCOMPARE(bench.checkOperator.asked.filter(QStringLiteral("Do both lines show")).size(),
                 row.passed >= 2 && row.settings.confirmDisplay ? 1 : 0);
        if (!row.said.isEmpty())
            QCOMPARE(told.value(told.size() - 1), row.said);
        QCOMPARE(told.contains(QStringLiteral("Please answer y or n.")), row.answers.size() > 1);
        if (row.passed >= 2)
            QVERIFY(bench.unit.received.contains(Clear + Home + "0123456789ABCDEF" + NewLine +
                                                 "GHIJKLMNOPQRSTUV"));
        if (!row.shown.isEmpty())
            QTRY_COMPARE(bench.unit.received.right(row.shown.size()), row.shown);
    }
};

QTEST_GUILESS_MAIN(UnitCheckTest)

#include "tst_unit_check.moc"
