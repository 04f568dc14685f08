// Continuous key polling: the request cadence seen from the unit's end of the line, the
// utility's processor time while it polls, and how long a key change takes to reach its
// indicator. Run from a release build.

#include "PtyPair.h"
#include "common/Shape.h"
#include "link/MSComm.h"
#include "ui/MainWindow.h"
#include "ui/WindowLayout.h"

#include <QAbstractButton>
#include <QApplication>
#include <QEventLoop>
#include <QProcess>
#include <QRandomGenerator>
#include <QTest>
#include <QTimer>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <functional>
#include <memory>
#include <mutex>
#include <numeric>
#include <optional>
#include <poll.h>
#include <sys/resource.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace
{

using Clock = std::chrono::steady_clock;

constexpr int CadenceSeconds = 10;
constexpr int LatencySamples = 100;
constexpr double PollIntervalMs = 100.0;

double msBetween(Clock::time_point from, Clock::time_point to)
{
    return std::chrono::duration<double, std::milli>(to - from).count();
}

double cpuSeconds(int who)
{
    rusage usage{};
    getrusage(who, &usage);
    const auto seconds = [](const timeval &time) {
        return time.tv_sec + time.tv_usec / 1e6;
    };
    return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

// Nearest rank.
double percentile(std::vector<double> values, double fraction)
{
    if (values.empty())
        return NAN;
    std::sort(values.begin(), values.end());
    const auto rank = static_cast<std::size_t>(std::ceil(fraction * values.size()));
    return values[std::clamp<std::size_t>(rank, 1, values.size()) - 1];
}

double mean(const std::vector<double> &values)
{
    return values.empty() ? NAN
                          : std::accumulate(values.begin(), values.end(), 0.0) / values.size();
}

// A real event loop: QTest::qWait sleeps between its turns and would delay the ticks.
void runFor(int ms)
{
    QEventLoop loop;
    QTimer::singleShot(ms, Qt::PreciseTimer, &loop, &QEventLoop::quit);
    loop.exec();
}

void printFigure(const char *what, double value, const char *unit, const QString &goal = {},
                 std::optional<bool> pass = {})
{
    std::printf("  %-36s %8.2f %-3s", what, value, unit);
    if (pass)
        std::printf("  goal %-16s %s", qPrintable(goal), *pass ? "PASS" : "FAIL");
    std::printf("\n");
}

// The unit's end of a pty held by the bench: timestamps each FE F0 as it arrives and answers it
// with the current key byte, from its own thread so the window's event loop cannot delay it.
class LineResponder
{
public:
    explicit LineResponder(int masterFd) : m_fd(masterFd), m_thread([this] { run(); }) {}
    ~LineResponder()
    {
        m_stop = true;
        m_thread.join();
    }
    LineResponder(const LineResponder &) = delete;
    LineResponder &operator=(const LineResponder &) = delete;

    void setKeys(quint8 keys) { m_keys = keys; }
    std::vector<Clock::time_point> requests() const
    {
        const std::lock_guard<std::mutex> lock(m_mutex);
        return m_requests;
    }
    // Processor time of this thread so far.
    double threadCpuSeconds() const { return m_cpuSeconds; }

private:
    void run()
    {
        bool prefixSeen = false;
        while (!m_stop) {
            pollfd descriptor{m_fd, POLLIN, 0};
            if (::poll(&descriptor, 1, 20) <= 0)
                continue;
            if (!(descriptor.revents & POLLIN)) {
                // The utility has closed its end: wait for it to come back or for the end.
                ::usleep(10'000);
                continue;
            }
            unsigned char buffer[256];
            const ssize_t count = ::read(m_fd, buffer, sizeof buffer);
            const Clock::time_point now = Clock::now();
            for (ssize_t index = 0; index < count; ++index) {
                if (prefixSeen && buffer[index] == 0xF0) {
                    {
                        const std::lock_guard<std::mutex> lock(m_mutex);
                        m_requests.push_back(now);
                    }
                    const char reply = static_cast<char>(m_keys.load());
                    [[maybe_unused]] const ssize_t written = ::write(m_fd, &reply, 1);
                }
                prefixSeen = buffer[index] == 0xFE;
            }
            m_cpuSeconds = cpuSeconds(RUSAGE_THREAD);
        }
    }

    const int m_fd;
    std::atomic<bool> m_stop{false};
    std::atomic<quint8> m_keys{0};
    std::atomic<double> m_cpuSeconds{0};
    mutable std::mutex m_mutex;
    std::vector<Clock::time_point> m_requests;
    std::thread m_thread;
};

QAbstractButton *button(const QWidget &window, const char *name)
{
    return window.findChild<QAbstractButton *>(QLatin1String(name));
}

// A shown window whose port 1 is slavePath, opened at baud; null when the port did not open.
std::unique_ptr<MainWindow> openWindow(const QString &slavePath, int baud)
{
    const QByteArray previousCom1 = qgetenv("KV310_COM1");
    qputenv("KV310_COM1", slavePath.toLocal8Bit());
    auto window = std::make_unique<MainWindow>();
    window->show();
    button(*window, baud == 9600 ? "optBaud(1)" : "optBaud(0)")->setChecked(true);
    QTest::mouseClick(button(*window, "cmdCom"), Qt::LeftButton);
    qputenv("KV310_COM1", previousCom1);
    if (!window->findChild<MSComm *>(QStringLiteral("MSComm1"))->PortOpen()) {
        std::printf("  the port did not open\n");
        return nullptr;
    }
    return window;
}

bool cadence(int baud)
{
    PtyPair line;
    const std::unique_ptr<MainWindow> window = openWindow(line.slavePath(), baud);
    if (!window)
        return false;
    const LineResponder responder(line.masterFd());
    QTest::mouseClick(button(*window, "cmdPollKey"), Qt::LeftButton);
    runFor(500);

    const std::size_t firstRequest = responder.requests().size();
    const double processBefore = cpuSeconds(RUSAGE_SELF);
    const double responderBefore = responder.threadCpuSeconds();
    const Clock::time_point start = Clock::now();
    runFor(CadenceSeconds * 1000);
    const double wallSeconds = msBetween(start, Clock::now()) / 1000.0;
    const double processPercent = 100.0 * (cpuSeconds(RUSAGE_SELF) - processBefore) / wallSeconds;
    const double responderPercent =
        100.0 * (responder.threadCpuSeconds() - responderBefore) / wallSeconds;
    QTest::mouseClick(button(*window, "cmdClear"), Qt::LeftButton);

    const std::vector<Clock::time_point> requests = responder.requests();
    std::vector<double> intervals;
    std::vector<double> deviations;
    for (std::size_t index = firstRequest + 1; index < requests.size(); ++index) {
        intervals.push_back(msBetween(requests[index - 1], requests[index]));
        deviations.push_back(std::abs(intervals.back() - PollIntervalMs));
    }
    if (intervals.size() < 2) {
        std::printf("  only %zu requests reached the line\n", requests.size());
        return false;
    }
    const double meanInterval = mean(intervals);
    const double p99Deviation = percentile(deviations, 0.99);
    const double utilityPercent = processPercent - responderPercent;

    std::printf("request cadence at the unit's end, %d s, %zu intervals\n", CadenceSeconds,
                intervals.size());
    const bool meanOk = std::abs(meanInterval - PollIntervalMs) <= 1.0;
    const bool p99Ok = p99Deviation < 10.0;
    const bool cpuOk = utilityPercent < 2.0;
    printFigure("mean interval", meanInterval, "ms", QStringLiteral("100 +/- 1 ms"), meanOk);
    printFigure("p99 |interval - 100 ms|", p99Deviation, "ms", QStringLiteral("< 10 ms"), p99Ok);
    printFigure("max |interval - 100 ms|", *std::max_element(deviations.begin(), deviations.end()),
                "ms");
    printFigure("processor time of the utility", utilityPercent, "%",
                QStringLiteral("< 2% of a core"), cpuOk);
    std::printf("    (whole process %.2f %%, of which the bench's line thread %.2f %%)\n",
                processPercent, responderPercent);
    return meanOk && p99Ok && cpuOk;
}

// The unit whose keys change: the simulator when it runs, else a responder on the bench's own pty.
class KeyUnit
{
public:
    bool startSimulator()
    {
        m_sim.setProgram(QStringLiteral(KV310_SIM_PATH));
        m_sim.setArguments({QStringLiteral("--headless")});
        m_sim.start();
        if (!m_sim.waitForStarted(5000))
            return false;
        while (!m_sim.canReadLine() && m_sim.waitForReadyRead(5000)) {
        }
        if (!m_sim.canReadLine())
            return false;
        m_slavePath = QString::fromLocal8Bit(m_sim.readLine().trimmed());
        // Its reports are of no interest, but a full pipe would hold it up.
        QObject::connect(&m_sim, &QProcess::readyReadStandardOutput, &m_sim,
                         [this] { m_sim.readAllStandardOutput(); });
        return !m_slavePath.isEmpty();
    }

    void startOwnLine()
    {
        m_line = std::make_unique<PtyPair>();
        m_slavePath = m_line->slavePath();
    }
    // After the utility has opened the port, so the responder never sees a closed line.
    void portOpened()
    {
        if (m_line)
            m_responder = std::make_unique<LineResponder>(m_line->masterFd());
    }

    bool isSimulator() const { return !m_line; }
    QString slavePath() const { return m_slavePath; }

    void setKeys(quint8 keys)
    {
        if (m_responder) {
            m_responder->setKeys(keys);
            return;
        }
        m_sim.write(QStringLiteral("keys %1\n").arg(keys, 2, 16, QLatin1Char('0')).toLatin1());
        m_sim.waitForBytesWritten(1000);
    }

    ~KeyUnit()
    {
        m_responder.reset();
        if (m_sim.state() != QProcess::NotRunning) {
            m_sim.write("quit\n");
            if (!m_sim.waitForFinished(3000)) {
                m_sim.kill();
                m_sim.waitForFinished(3000);
            }
        }
    }

private:
    QProcess m_sim;
    std::unique_ptr<PtyPair> m_line;
    std::unique_ptr<LineResponder> m_responder;
    QString m_slavePath;
};

bool keyLatency(int baud, QRandomGenerator &random)
{
    KeyUnit unit;
    if (!unit.startSimulator()) {
        std::printf("  the simulated unit did not start: answering from the bench's own pty\n");
        unit.startOwnLine();
    }
    const std::unique_ptr<MainWindow> window = openWindow(unit.slavePath(), baud);
    if (!window)
        return false;
    unit.portOpened();

    const Shape *indicator = window->findChild<Shape *>(QStringLiteral("shpKey(0)"));
    QEventLoop loop;
    QTimer nextChange;
    nextChange.setSingleShot(true);
    bool keyOn = false;
    bool waiting = false;
    Clock::time_point changedAt;
    std::vector<double> latencies;
    int missed = 0;

    QObject::connect(&nextChange, &QTimer::timeout, &loop, [&] {
        if (waiting)
            ++missed;
        keyOn = !keyOn;
        waiting = true;
        changedAt = Clock::now();
        unit.setKeys(keyOn ? 0x01 : 0x00);
        nextChange.start(2000);
    });
    // Connected after the window's own handler, so this runs once the indicator is painted.
    QObject::connect(
        window->findChild<MSComm *>(QStringLiteral("MSComm1")), &MSComm::OnComm, &loop, [&] {
            if (!waiting || indicator->fillColor() != (keyOn ? KeyColor::On : KeyColor::Off))
                return;
            waiting = false;
            latencies.push_back(msBetween(changedAt, Clock::now()));
            if (latencies.size() == LatencySamples)
                loop.quit();
            else
                // A random phase against the poll timer.
                nextChange.start(random.bounded(120, 330));
        });

    QTest::mouseClick(button(*window, "cmdPollKey"), Qt::LeftButton);
    runFor(500);
    nextChange.start(0);
    QTimer::singleShot(LatencySamples * 2500, &loop, &QEventLoop::quit);
    loop.exec();
    QTest::mouseClick(button(*window, "cmdClear"), Qt::LeftButton);

    const double p50 = percentile(latencies, 0.50);
    const double p99 = percentile(latencies, 0.99);
    std::printf("key change to indicator colour, %s, %zu changes, %d missed\n",
                unit.isSimulator() ? "simulated unit" : "bench's own pty", latencies.size(),
                missed);
    printFigure("p50", p50, "ms");
    if (baud == 9600) {
        const bool ok = p99 < 120.0 && missed == 0 && latencies.size() == LatencySamples;
        printFigure("p99", p99, "ms", QStringLiteral("< 120 ms"), ok);
        return ok;
    }
    printFigure("p99", p99, "ms");
    return true;
}

} // namespace

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    WindowLayout::setUpApplication(app);
    QRandomGenerator random(310);

    bool allPass = true;
    for (const int baud : {9600, 2400}) {
        std::printf("== %d baud\n", baud);
        allPass = cadence(baud) && allPass;
        allPass = keyLatency(baud, random) && allPass;
        std::fflush(stdout);
    }
    std::printf("%s\n", allPass ? "all goals met" : "some goals missed");
    return allPass ? 0 : 1;
}
