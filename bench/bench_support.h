// Shared pieces of the benchmark programs: wire arithmetic at 9600 baud,
// distributions, process figures, the working files the tool expects, and
// the result rows that scripts/bench gathers into one table.
//
// A result row is one stdout line:  ROW|figure|measured|goal|verdict
// Any other line is detail that the script keeps beneath the table.
#pragma once

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QString>
#include <algorithm>
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
