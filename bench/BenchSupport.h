#pragma once

// Shared by the benchmark programs: the simulated unit and the test driver as child processes
// whose output lines are timestamped as they arrive, the statistics, and the result lines that
// bench.sh gathers into one table and build/bench.json.
//
// Results go to standard output, one tab-separated line each:
//   figure <section> <name> <value> <unit> <goal> <pass|fail|->
//   series <section> <name> <unit> <values separated by spaces>
// Progress and diagnostics go to standard error.

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <fstream>
#include <mutex>
#include <numeric>
#include <optional>
#include <spawn.h>
#include <string>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <utility>
#include <vector>

extern char **environ;

namespace Bench
{

using Clock = std::chrono::steady_clock;

inline double msBetween(Clock::time_point from, Clock::time_point to)
{
    return std::chrono::duration<double, std::milli>(to - from).count();
}

inline double mean(const std::vector<double> &values)
{
    return values.empty() ? NAN
                          : std::accumulate(values.begin(), values.end(), 0.0) / values.size();
}

// Nearest rank.
inline double percentile(std::vector<double> values, double fraction)
{
    if (values.empty())
        return NAN;
    std::sort(values.begin(), values.end());
    const auto rank = static_cast<std::size_t>(std::ceil(fraction * values.size()));
    return values[std::clamp<std::size_t>(rank, 1, values.size()) - 1];
}

inline double median(const std::vector<double> &values)
{
    return percentile(values, 0.5);
}

// Measuring failed, as opposed to a goal missed: exit status 2.
inline int couldNotMeasure(const char *program, const char *what)
{
    std::fprintf(stderr, "%s: %s\n", program, what);
    return 2;
}

inline const char *verdict(std::optional<bool> pass)
{
    return !pass ? "-" : *pass ? "pass" : "fail";
}

// A figure without a goal passes nothing and fails nothing.
inline void figure(const char *section, const char *name, double value, int decimals,
                   const char *unit, const char *goal = "", std::optional<bool> pass = {})
{
    std::printf("figure\t%s\t%s\t%.*f\t%s\t%s\t%s\n", section, name, decimals, value, unit, goal,
                verdict(pass));
    std::fflush(stdout);
}

inline void series(const char *section, const char *name, const char *unit,
                   const std::vector<double> &values, int decimals)
{
    std::printf("series\t%s\t%s\t%s\t", section, name, unit);
    for (std::size_t index = 0; index < values.size(); ++index)
        std::printf("%s%.*f", index ? " " : "", decimals, values[index]);
    std::printf("\n");
    std::fflush(stdout);
}

struct Line {
    Clock::time_point at;
    std::string text;
};

// A program run with pipes on its standard input and output. A thread reads the output as it
// comes, so a line's time is when it was written, whatever the bench is doing meanwhile.
class Child
{
public:
    Child(const std::string &program, const std::vector<std::string> &arguments,
          const std::vector<std::pair<std::string, std::string>> &overrides = {})
    {
        std::signal(SIGPIPE, SIG_IGN);
        int input[2];
        int output[2];
        if (::pipe2(input, O_CLOEXEC) != 0)
            return;
        if (::pipe2(output, O_CLOEXEC) != 0) {
            ::close(input[0]);
            ::close(input[1]);
            return;
        }
        std::vector<std::string> environment;
        for (char **entry = environ; *entry; ++entry) {
            const std::string variable = *entry;
            const bool overridden =
                std::any_of(overrides.begin(), overrides.end(), [&](const auto &pair) {
                    return variable.compare(0, pair.first.size() + 1, pair.first + '=') == 0;
                });
            if (!overridden)
                environment.push_back(variable);
        }
        for (const auto &[name, value] : overrides)
            environment.push_back(name + '=' + value);

        std::vector<char *> argv{const_cast<char *>(program.c_str())};
        for (const std::string &argument : arguments)
            argv.push_back(const_cast<char *>(argument.c_str()));
        argv.push_back(nullptr);
        std::vector<char *> envp;
        for (std::string &variable : environment)
            envp.push_back(variable.data());
        envp.push_back(nullptr);

        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, input[0], STDIN_FILENO);
        posix_spawn_file_actions_adddup2(&actions, output[1], STDOUT_FILENO);
        m_startedAt = Clock::now();
        if (::posix_spawn(&m_pid, program.c_str(), &actions, nullptr, argv.data(), envp.data()) !=
            0)
            m_pid = -1;
        posix_spawn_file_actions_destroy(&actions);
        ::close(input[0]);
        ::close(output[1]);
        m_input = input[1];
        m_output = output[0];
        m_reader = std::thread([this] { readOutput(); });
    }

    // Closes its input, which ends both programs used here, and waits; kills it after 5 s.
    ~Child()
    {
        if (m_input >= 0)
            ::close(m_input);
        if (m_pid > 0) {
            int status = 0;
            const Clock::time_point deadline = Clock::now() + std::chrono::seconds(5);
            while (::waitpid(m_pid, &status, WNOHANG) == 0) {
                if (Clock::now() > deadline) {
                    ::kill(m_pid, SIGKILL);
                    ::waitpid(m_pid, &status, 0);
                    break;
                }
                std::this_thread::sleep_for(std::chrono::milliseconds(10));
            }
        }
        if (m_reader.joinable())
            m_reader.join();
        if (m_output >= 0)
            ::close(m_output);
    }
    Child(const Child &) = delete;
    Child &operator=(const Child &) = delete;

    pid_t pid() const { return m_pid; }
    Clock::time_point startedAt() const { return m_startedAt; }

    void send(const std::string &line)
    {
        const std::string bytes = line + '\n';
        for (std::size_t done = 0; done < bytes.size();) {
            const ssize_t count = ::write(m_input, bytes.data() + done, bytes.size() - done);
            if (count < 0 && errno == EINTR)
                continue;
            if (count <= 0)
                return;
            done += static_cast<std::size_t>(count);
        }
    }

    // The line after those before cursor, waiting up to timeoutMs for it; moves the cursor on.
    std::optional<Line> next(std::size_t &cursor, int timeoutMs)
    {
        std::unique_lock<std::mutex> lock(m_mutex);
        m_arrived.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                           [&] { return cursor < m_lines.size() || m_ended; });
        if (cursor >= m_lines.size())
            return std::nullopt;
        return m_lines[cursor++];
    }

    // The next line that starts with prefix.
    std::optional<Line> find(std::size_t &cursor, const std::string &prefix, int timeoutMs)
    {
        const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
        for (;;) {
            const auto left =
                std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
            if (left.count() < 0)
                return std::nullopt;
            auto line = next(cursor, static_cast<int>(left.count()));
            if (!line)
                return std::nullopt;
            if (line->text.compare(0, prefix.size(), prefix) == 0)
                return line;
        }
    }

    // Every line that has come after cursor, without waiting; moves the cursor to the end.
    std::vector<Line> take(std::size_t &cursor)
    {
        const std::lock_guard<std::mutex> lock(m_mutex);
        std::vector<Line> lines(m_lines.begin() + std::min(cursor, m_lines.size()), m_lines.end());
        cursor = std::max(cursor, m_lines.size());
        return lines;
    }

    std::size_t lineCount()
    {
        const std::lock_guard<std::mutex> lock(m_mutex);
        return m_lines.size();
    }

private:
    void readOutput()
    {
        std::string partial;
        char buffer[4096];
        for (;;) {
            const ssize_t count = ::read(m_output, buffer, sizeof buffer);
            if (count < 0 && errno == EINTR)
                continue;
            if (count <= 0)
                break;
            const Clock::time_point now = Clock::now();
            partial.append(buffer, static_cast<std::size_t>(count));
            const std::lock_guard<std::mutex> lock(m_mutex);
            for (std::size_t end; (end = partial.find('\n')) != std::string::npos;) {
                m_lines.push_back({now, partial.substr(0, end)});
                partial.erase(0, end + 1);
            }
            m_arrived.notify_all();
        }
        const std::lock_guard<std::mutex> lock(m_mutex);
        m_ended = true;
        m_arrived.notify_all();
    }

    pid_t m_pid = -1;
    int m_input = -1;
    int m_output = -1;
    Clock::time_point m_startedAt;
    std::mutex m_mutex;
    std::condition_variable m_arrived;
    std::vector<Line> m_lines;
    bool m_ended = false;
    std::thread m_reader;
};

// A field of /proc/PID/status in MiB (VmRSS, VmHWM, ...).
inline std::optional<double> statusMiB(pid_t pid, const std::string &field)
{
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    for (std::string line; std::getline(status, line);) {
        if (line.compare(0, field.size() + 1, field + ':') == 0)
            return std::stod(line.substr(field.size() + 1)) / 1024.0;
    }
    return std::nullopt;
}

// The simulated unit without its window; its line runs at the speed the utility sets.
class Sim
{
public:
    Sim() : m_child(KV310_SIM_PATH, {"--headless"})
    {
        // Its first line is the port.
        if (const auto first = m_child.next(m_cursor, 5000))
            m_portPath = first->text;
    }

    bool isValid() const { return !m_portPath.empty(); }
    const std::string &portPath() const { return m_portPath; }
    Child &process() { return m_child; }

    void setKeys(unsigned keys)
    {
        char command[16];
        std::snprintf(command, sizeof command, "keys %02X", keys & 0xFFu);
        m_child.send(command);
    }

    // How many bytes a line reports received: the hex after "rx", none for other lines.
    static int receivedBytes(const std::string &line)
    {
        if (line.compare(0, 3, "rx ") != 0)
            return 0;
        int count = 0;
        for (std::size_t at = 3;
             at + 2 <= line.size() && std::isxdigit(static_cast<unsigned char>(line[at])) &&
             std::isxdigit(static_cast<unsigned char>(line[at + 1])) &&
             (at + 2 == line.size() || line[at + 2] == ' ');
             at += 3)
            ++count;
        return count;
    }

    // When the unit has taken count more bytes than before cursor.
    std::optional<Clock::time_point> waitForBytes(std::size_t &cursor, long count, int timeoutMs)
    {
        const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
        while (count > 0) {
            const auto left =
                std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
            const auto line = m_child.next(cursor, std::max<int>(0, left.count()));
            if (!line)
                return std::nullopt;
            count -= receivedBytes(line->text);
            if (count <= 0)
                return line->at;
        }
        return Clock::now();
    }

    // Moves cursor past everything the unit has reported so far.
    void skipAll(std::size_t &cursor) { cursor = m_child.lineCount(); }

private:
    Child m_child;
    std::size_t m_cursor = 0;
    std::string m_portPath;
};

// The real main window driven through its standard input (tests/driver).
class Driver
{
public:
    explicit Driver(const std::string &com1Path = {})
        : m_child(KV310_DRIVER_PATH, {}, overrides(com1Path))
    {
    }

    Child &process() { return m_child; }

    // The "ready" line: the window is shown and the event loop runs.
    std::optional<Line> waitReady(int timeoutMs = 10000)
    {
        return m_child.find(m_cursor, "ready", timeoutMs);
    }

    // Sends a command and returns its answer. Failure boxes are told on standard error.
    std::optional<std::string> ask(const std::string &command, int timeoutMs = 20000)
    {
        m_child.send(command);
        while (const auto line = m_child.next(m_cursor, timeoutMs)) {
            if (line->text.compare(0, 4, "box ") != 0)
                return line->text;
            std::fprintf(stderr, "the window told: %s\n", line->text.c_str() + 4);
        }
        return std::nullopt;
    }

    bool click(const std::string &button, int timeoutMs = 20000)
    {
        return ask("click " + button, timeoutMs) == "clicked " + button;
    }

    // Port 1 opened at baud through the window's own controls.
    bool openPort(int baud)
    {
        return click(baud == 9600 ? "optBaud(1)" : "optBaud(0)") && click("cmdCom") &&
               ask("state", 5000).value_or("").compare(0, 12, "state open=1") == 0;
    }

    // Its user and system processor time so far, in seconds.
    std::optional<double> processorSeconds()
    {
        const auto answer = ask("usage", 5000);
        long long user = 0;
        long long system = 0;
        if (!answer || std::sscanf(answer->c_str(), "usage %lld %lld", &user, &system) != 2)
            return std::nullopt;
        return (user + system) / 1e6;
    }

private:
    static std::vector<std::pair<std::string, std::string>> overrides(const std::string &com1Path)
    {
        std::vector<std::pair<std::string, std::string>> variables{{"KV310_COM1", com1Path}};
        if (!std::getenv("QT_QPA_PLATFORM"))
            variables.emplace_back("QT_QPA_PLATFORM", "offscreen");
        return variables;
    }

    Child m_child;
    std::size_t m_cursor = 0;
};

} // namespace Bench
