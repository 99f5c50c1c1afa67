// Cost at rest: the CPU time the running tool takes while connected to a
// board whose chip answers, as a share of one core, with monitoring off (the
// tool itself, started with --port) and on (the same window built in a child
// of this program, which presses Sense once the chip is seen: the tool has no
// outside switch for monitoring).
//
//   bench_atrest [seconds]     (default 10 per state)
//
// The simulated board runs in this process, paced at 9600 baud, so that its
// own work is not counted; the tool's CPU time is the sum of its threads'
// scheduler run times over the measured interval.
#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTimer>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <thread>

#include "app/config.h"
#include "app/limits.h"
#include "bench/bench_support.h"
#include "bench/bench_window.h"
#include "mainwindow/MainWindow.h"
#include "mainwindow/startup.h"
#include "sim/SimPtyHost.h"
#include "ui_MainWindow.h"
#include "workers/BoardSession.h"

namespace {

constexpr int kConnectWaitMs = 15000;

// The child: the tool's start-up with monitoring switched on for all 8
// channels as soon as the chip answers.
int MonitoringChild(int argc, char** argv) { return bench::RunMonitoringTool(argc, argv); }

struct Measure {
    double share = -1.0;  // of one core
    std::string perThread;
    size_t exchanges = 0;
    size_t publishing = 0;  // reads of the first data block of a cycle
};

Measure Watch(const bench::Child& child, SimPtyHost& host, int seconds) {
    Measure m;
    // Connected and answering: the first table read is done and the probe runs.
    QElapsedTimer wait;
    wait.start();
    while (host.log()->count('R') < 10 && wait.elapsed() < kConnectWaitMs)
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    if (host.log()->count('R') < 10) return m;
    std::this_thread::sleep_for(std::chrono::seconds(2));  // past the connect and the first monitoring rounds
    host.clearLog();
    const long long before = bench::ProcessCpuNs(child.pid);
    const auto threadsBefore = bench::ThreadCpuNs(child.pid);
    QElapsedTimer t;
    t.start();
    std::this_thread::sleep_for(std::chrono::seconds(seconds));
    const long long after = bench::ProcessCpuNs(child.pid);
    for (const auto& [name, ns] : bench::ThreadCpuNs(child.pid)) {
        long long was = 0;
        for (const auto& e : threadsBefore)
            if (e.first == name) was = e.second;
        const double share = static_cast<double>(ns - was) / static_cast<double>(t.nsecsElapsed());
        if (share >= 0.0005) m.perThread += bench::Fmt(" %.2f%%", 100 * share) + " " + name + ";";
    }
    const double wallNs = static_cast<double>(t.nsecsElapsed());
    if (before < 0 || after < 0) return m;
    m.share = static_cast<double>(after - before) / wallNs;
    const auto frames = host.log()->frames();
    m.exchanges = frames.size();
    for (const SimFrame& f : frames) m.publishing += f.letter == 'R' && f.reg == 0xC0;
    return m;
}

Measure Run(const std::string& program, const std::vector<std::string>& extraArgs, int seconds) {
    SimPtyHost host("TK2C", 8, 4);
    std::string why;
    if (!host.start(std::string(), &why)) {
        std::fprintf(stderr, "simulated board: %s\n", why.c_str());
        return Measure();
    }
    host.setPacing(true);
    std::vector<std::string> args{program};
    args.insert(args.end(), extraArgs.begin(), extraArgs.end());
    args.push_back("--port");
    args.push_back(host.slavePath());
    bench::Child child = bench::Spawn(args, {"QT_QPA_PLATFORM=offscreen"}, false);
    if (child.pid < 0) return Measure();
    const Measure m = Watch(child, host, seconds);
    ::kill(child.pid, SIGTERM);
    bench::Reap(child);
    host.stop();
    return m;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc > 1 && std::string(argv[1]) == "--monitoring-child") return MonitoringChild(argc, argv);

    const int seconds = argc > 1 ? std::max(2, std::atoi(argv[1])) : 10;
    const std::string self = QDir(QString::fromLocal8Bit(argv[0])).absolutePath().toStdString();
    const QDir here = QFileInfo(QString::fromStdString(self)).absoluteDir();
    const std::string tool = QDir::cleanPath(here.filePath(QStringLiteral("../tkeval"))).toStdString();

    QTemporaryDir work;
    if (!work.isValid() || !bench::WriteWorkingFiles(work.path(), "TK2C", false) || !QDir::setCurrent(work.path())) {
        std::fprintf(stderr, "no working directory\n");
        return 1;
    }

    const Measure off = Run(tool, {}, seconds);
    const Measure on = Run(self, {"--monitoring-child"}, seconds);
    if (off.share < 0 || on.share < 0) {
        std::fprintf(stderr, "the tool did not connect to the simulated board\n");
        return 1;
    }
    bench::Row("at rest, connected, chip answering, monitoring off: CPU share of one core",
               bench::Fmt("%.2f%%", 100 * off.share), "<= 1%", bench::Verdict(off.share <= 0.01));
    bench::Row("  the same with monitoring on (8 channels, 9600 baud)", bench::Fmt("%.2f%%", 100 * on.share), "-", "-");
    std::printf(
        "at rest: %d s each; board exchanges %zu with monitoring off (the probe), %zu with it on "
        "(%zu monitoring cycles)\n",
        seconds, off.exchanges, on.exchanges, on.publishing);
    std::printf("at rest, by thread, monitoring off:%s\n", off.perThread.c_str());
    std::printf("at rest, by thread, monitoring on:%s\n", on.perThread.c_str());
    return 0;
}
