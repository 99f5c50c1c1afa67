// Shared pieces of the benchmark programs: wire arithmetic at 9600 baud,
// distributions, process figures, the working files the tool expects, and
// the result rows that scripts/bench gathers into one table.
//
// A result row is one stdout line:  ROW|figure|measured|goal|verdict
// Any other line is detail that the script keeps beneath the table.
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QString>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include "sim/SimFrameLog.h"

namespace bench {

constexpr double kBaud = 9600.0;
constexpr double kBitsPerByte = 10.0;  // start, 8 data, stop

inline double WireMs(double bytes) { return bytes * kBitsPerByte / kBaud * 1000.0; }

// Command STX 'C' 'R' dev reg len ETX, reply STX 'R' status data ETX.
inline int ReadExchangeBytes(int regs) { return (3 + 6 + 1) + (3 + 2 * regs + 1); }

// Bytes both ways of one frame the board logged: the command as received and
// the reply it sent (none when it stayed silent).
inline int ExchangeBytes(const SimFrame& f) {
    int bytes = static_cast<int>(f.body.size()) + 2;
    if (f.status != 0) bytes += 4 + (f.letter == 'R' ? 2 * static_cast<int>(f.data.size()) : 0);
    return bytes;
}

// Nearest-rank percentile of an unsorted sample; 0 for an empty one.
inline double Percentile(std::vector<double> v, double p) {
    if (v.empty()) return 0.0;
    std::sort(v.begin(), v.end());
    size_t rank = static_cast<size_t>(p / 100.0 * static_cast<double>(v.size()) + 0.999999);
    rank = std::clamp<size_t>(rank, 1, v.size());
    return v[rank - 1];
}

// A field of /proc/self/status such as "VmRSS" or "VmHWM", in KiB; -1 if absent.
inline long StatusKiB(const char* key, const std::string& pid = "self") {
    std::ifstream in("/proc/" + pid + "/status");
    std::string line;
    const std::string want = std::string(key) + ":";
    while (std::getline(in, line)) {
        if (line.compare(0, want.size(), want) == 0) return std::atol(line.c_str() + want.size());
    }
    return -1;
}

// CPU time of every thread of a process in nanoseconds, from the scheduler's
// own accounting (finer than the 10 ms ticks of /proc/PID/stat); -1 when the
// process is gone.
inline long long ProcessCpuNs(long pid) {
    const QDir tasks(QStringLiteral("/proc/%1/task").arg(pid));
    if (!tasks.exists()) return -1;
    long long sum = 0;
    for (const QString& tid : tasks.entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        std::ifstream in(tasks.filePath(tid + QStringLiteral("/schedstat")).toStdString());
        long long ns = 0;
        if (in >> ns) sum += ns;
    }
    return sum;
}

// The same per thread, keyed by the thread's name (Qt names its threads after
// their class); threads of one name are summed.
inline std::vector<std::pair<std::string, long long>> ThreadCpuNs(long pid) {
    std::vector<std::pair<std::string, long long>> out;
    const QDir tasks(QStringLiteral("/proc/%1/task").arg(pid));
    for (const QString& tid : tasks.entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        std::ifstream stat(tasks.filePath(tid + QStringLiteral("/schedstat")).toStdString());
        std::ifstream comm(tasks.filePath(tid + QStringLiteral("/comm")).toStdString());
        long long ns = 0;
        std::string name;
        if (!(stat >> ns) || !std::getline(comm, name)) continue;
        auto it = std::find_if(out.begin(), out.end(), [&](const auto& e) { return e.first == name; });
        if (it == out.end())
            out.emplace_back(name, ns);
        else
            it->second += ns;
    }
    return out;
}

// The files the tool reads from its working directory: a TK2C with 8
// channels and 4 SBFs at B0, a hint for every register 0x00-0x3F, and the
// Debug tab when debugTab is set.
inline bool WriteWorkingFiles(const QString& dir, const QByteArray& model, bool debugTab) {
    auto put = [&](const char* name, const QByteArray& text) {
        QFile f(QDir(dir).filePath(QString::fromLatin1(name)));
        return f.open(QIODevice::WriteOnly | QIODevice::Truncate) && f.write(text) == text.size();
    };
    QByteArray hint;
    for (int r = 0; r < 0x40; ++r) hint += "[R" + QByteArray::number(r, 16).toUpper().rightJustified(2, '0') + "]\n";
    bool ok = put("system.ini", "[SYSTEM]\nDEVICE=" + model + "\nSIZEOFCHANNEL=8\nSIZEOFSBF=4\n");
    ok = ok && put("config.ini", "[I2C]\nI2C_ADDR=B0\n\n[AutoSen]\nMARGIN=0.6\n");
    ok = ok && put("hint.txt", hint);
    if (debugTab) ok = ok && put("DEBUG.txt", "present\n");
    return ok;
}

// A child process whose standard output comes back through a pipe (or goes to
// /dev/null), started in the caller's working directory with extra
// environment entries ("NAME=value").
struct Child {
    pid_t pid = -1;
    int out = -1;  // read end of its standard output; -1 when discarded
};

inline Child Spawn(const std::vector<std::string>& args, const std::vector<std::string>& extraEnv, bool captureOut) {
    Child c;
    std::vector<std::string> envStore;
    for (char** e = environ; *e != nullptr; ++e) envStore.emplace_back(*e);
    for (const std::string& e : extraEnv) envStore.push_back(e);
    std::vector<char*> env, argv;
    for (std::string& e : envStore) env.push_back(e.data());
    env.push_back(nullptr);
    std::vector<std::string> argStore = args;
    for (std::string& a : argStore) argv.push_back(a.data());
    argv.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    int pipeFds[2] = {-1, -1};
    if (captureOut && ::pipe2(pipeFds, O_CLOEXEC) == 0) {
        posix_spawn_file_actions_adddup2(&actions, pipeFds[1], STDOUT_FILENO);
    } else {
        posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    }
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
    if (posix_spawn(&c.pid, argv[0], &actions, nullptr, argv.data(), env.data()) != 0) c.pid = -1;
    posix_spawn_file_actions_destroy(&actions);
    if (pipeFds[1] >= 0) ::close(pipeFds[1]);
    c.out = pipeFds[0];
    if (c.pid < 0 && c.out >= 0) {
        ::close(c.out);
        c.out = -1;
    }
    return c;
}

// Reads the child's output until a line equal to word arrives; false on end
// of output or after timeoutMs.
inline bool AwaitLine(int fd, const std::string& word, int timeoutMs) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    std::string line;
    for (;;) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now()).count();
        if (left <= 0) return false;
        pollfd p{fd, POLLIN, 0};
        if (::poll(&p, 1, static_cast<int>(left)) <= 0) continue;
        char c = 0;
        if (::read(fd, &c, 1) != 1) return false;
        if (c != '\n') {
            line += c;
        } else if (line == word) {
            return true;
        } else {
            line.clear();
        }
    }
}

// Waits for the child to end; its peak resident memory in KiB, -1 on failure.
inline long Reap(Child& c) {
    if (c.out >= 0) ::close(c.out);
    c.out = -1;
    int status = 0;
    rusage ru{};
    if (c.pid < 0 || ::wait4(c.pid, &status, 0, &ru) != c.pid) return -1;
    c.pid = -1;
    return ru.ru_maxrss;
}

inline void Row(const std::string& figure, const std::string& measured, const std::string& goal, const char* verdict) {
    std::printf("ROW|%s|%s|%s|%s\n", figure.c_str(), measured.c_str(), goal.c_str(), verdict);
    std::fflush(stdout);
}

inline const char* Verdict(bool met) { return met ? "met" : "missed"; }

inline std::string Fmt(const char* format, double a, double b = 0.0, double c = 0.0) {
    char buf[160];
    std::snprintf(buf, sizeof buf, format, a, b, c);
    return buf;
}

}  // namespace bench
