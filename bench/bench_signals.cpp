// The Signals window's cost: how long it takes from opening to its first frame
// on 16 channels x 4 SBFs over a full 10-minute history, how long each redraw
// takes (filling the graphs plus drawing the three plots) and how late the GUI
// event loop runs with it open, fed at the most the processing thread
// publishes (one sample per 50 ms cycle; unpaced, the wire adds next to
// nothing); the memory held after one simulated hour of such
// samples next to ten minutes; and the CPU share of the whole tool monitoring
// a board paced at 9600 baud with the window open and without it.
//
//   bench_signals [seconds]     (default 8 per measured state)
//
// Lateness is that of a zero timer armed again each time it fires: the time
// from arming to firing, so every redraw or other block of the loop shows.
#include <qcustomplot.h>

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
#include <ctime>
#include <functional>
#include <memory>
#include <thread>

#include "app/config.h"
#include "app/limits.h"
#include "bench/bench_support.h"
#include "bench/bench_window.h"
#include "data/RegisterImage.h"
#include "data/SampleStream.h"
#include "mainwindow/MainWindow.h"
#include "mainwindow/startup.h"
#include "sim/SimPtyHost.h"
#include "ui_MainWindow.h"
#include "views/SignalsWindow.h"
#include "views/TraceRaster.h"
#include "workers/BoardSession.h"
#include "workers/MonitorThread.h"

namespace {

// CPU time of the calling thread: on a shared machine the wall times below
// include every wait for a core, this does not.
double ThreadCpuMs() {
    timespec ts{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return ts.tv_sec * 1e3 + ts.tv_nsec / 1e6;
}

constexpr int kChannels = 16;
constexpr int kSbfs = 4;
constexpr int kPublishMs = MonitorThread::kCycleIntervalMs;
constexpr qint64 kTenMinutesMs = 600 * 1000;
constexpr int kConnectWaitMs = 15000;

// A plausible sample of the n-th publication at tMs: channels in turn, a
// touch now and then, counts that wander.
MonitorSample Synthetic(quint64 n, qint64 tMs) {
    MonitorSample s;
    s.tMs = tMs;
    s.wallMs = tMs;
    s.channel = static_cast<int>(n % kChannels);
    s.sbfCount = kSbfs;
    const bool touched = (n / 64) % kChannels == n % kChannels;
    for (int k = 0; k < kSbfs; ++k) {
        s.ref[k] = static_cast<uint16_t>(9000 + 40 * s.channel + k * 15 + (n * 7 + k) % 5);
        s.diff[k] = touched ? 60 - static_cast<int>(n % 3) : static_cast<int>((n * 13 + k) % 5) - 2;
        s.sense[k] = static_cast<uint16_t>(s.ref[k] + s.diff[k]);
        s.offset[k] = static_cast<int>((n + k) % 31) - 15;
    }
    return s;
}

void Feed(SampleStream& stream, quint64* n, qint64 tMs) {
    const MonitorSample s = Synthetic(*n, tMs);
    stream.publish(s);
    if (s.channel == 0) stream.publishTouch({tMs, tMs, static_cast<uint16_t>(1u << ((*n / 64) % kChannels))});
    ++*n;
}

SignalsWindow* OpenWindow(SampleStream& stream, const RegisterImage& image) {
    BoardConfig config;
    config.workDir = QDir::currentPath();
    config.device = QStringLiteral("TK2C");
    config.channels = kChannels;
    config.sbfs = kSbfs;
    config.family = 4;
    auto* w = new SignalsWindow(&stream, &image, config);
    w->setSbfChoice(-1);
    w->setSpanSeconds(600);
    w->resize(1400, 900);
    w->show();
    return w;
}

struct Lateness {
    double p50 = 0, p99 = 0, max = 0;
    size_t count = 0;
    double firstFrameMs = -1, firstFrameCpuMs = -1;
    double redrawP50 = 0, redrawP99 = 0, redrawMax = 0;
    double replotCpuP50 = 0, replotCpuP99 = 0;
    size_t redraws = 0;
    quint64 freshDraws = 0, partialDraws = 0;  // of the kept line images, while measured
};

// A full history, then live samples at the publication rate for the given
// time, with the loop's lateness measured throughout.
Lateness Responsiveness(bool withWindow, int seconds) {
    SampleStream stream;
    RegisterImage image;
    stream.restart(SampleStream::Source::Replay);
    quint64 n = 0;
    for (qint64 t = 0; t < kTenMinutesMs; t += kPublishMs) Feed(stream, &n, t);

    // Opening to the first frame: all three plots drawn once.
    QElapsedTimer clock;
    clock.start();
    const double cpuAtOpen = ThreadCpuMs();
    std::unique_ptr<SignalsWindow> window(withWindow ? OpenWindow(stream, image) : nullptr);
    double firstFrameMs = -1, firstFrameCpuMs = -1;
    double replotMs = 0, replotCpuMs = 0, replotCpuFrom = 0;
    if (window) {
        QCustomPlot* plots[] = {window->diffPlot(), window->countsPlot(), window->barsPlot()};
        int drawn = 0;
        QEventLoop first;
        for (QCustomPlot* plot : plots) {
            QObject::connect(plot, &QCustomPlot::afterReplot, &first, [&] {
                if (window->redrawCount() > 0 && ++drawn == 3) first.quit();
            });
        }
        QTimer::singleShot(10000, &first, &QEventLoop::quit);
        first.exec();
        firstFrameMs = clock.nsecsElapsed() / 1e6;
        firstFrameCpuMs = ThreadCpuMs() - cpuAtOpen;
        for (QCustomPlot* plot : plots) {
            QObject::connect(plot, &QCustomPlot::beforeReplot, plot,
                             [&replotCpuFrom] { replotCpuFrom = ThreadCpuMs(); });
            QObject::connect(plot, &QCustomPlot::afterReplot, plot, [&, plot] {
                replotMs += plot->replotTime();
                replotCpuMs += ThreadCpuMs() - replotCpuFrom;
            });
        }
    }
    QCoreApplication::processEvents();

    auto keptDraws = [&window](quint64* fresh, quint64* partial) {
        *fresh = *partial = 0;
        if (!window) return;
        for (QCustomPlot* plot : {window->diffPlot(), window->countsPlot()}) {
            for (const TraceRaster* lines : plot->findChildren<TraceRaster*>()) {
                *fresh += lines->freshDraws();
                *partial += lines->partialDraws();
            }
        }
    };
    quint64 freshBefore = 0, partialBefore = 0;
    keptDraws(&freshBefore, &partialBefore);

    clock.restart();
    QTimer feed;
    QObject::connect(&feed, &QTimer::timeout, [&] { Feed(stream, &n, kTenMinutesMs + clock.elapsed()); });
    feed.start(kPublishMs);

    // A redraw's cost: its filling, then its three replots, which run on
    // the loop's next turns and are done before the next redraw starts.
    std::vector<double> late, redraws, replotCpu;
    quint64 seenRedraws = window ? window->redrawCount() : 0;
    double fillMs = -1;
    auto countRedraws = [&] {
        if (!window || window->redrawCount() == seenRedraws) return;
        if (fillMs >= 0) {
            redraws.push_back(fillMs + replotMs);
            replotCpu.push_back(replotCpuMs);
        }
        seenRedraws = window->redrawCount();
        fillMs = window->lastFillMs();
        replotMs = 0;
        replotCpuMs = 0;
    };
    QEventLoop loop;
    qint64 armedNs = 0;
    std::function<void()> arm = [&] {
        armedNs = clock.nsecsElapsed();
        QTimer::singleShot(0, [&] {
            late.push_back((clock.nsecsElapsed() - armedNs) / 1e6);
            countRedraws();
            if (clock.elapsed() < seconds * 1000)
                arm();
            else
                loop.quit();
        });
    };
    arm();
    loop.exec();
    feed.stop();
    Lateness out{bench::Percentile(late, 50), bench::Percentile(late, 99), bench::Percentile(late, 100), late.size()};
    out.firstFrameMs = firstFrameMs;
    out.firstFrameCpuMs = firstFrameCpuMs;
    if (!redraws.empty()) {
        out.replotCpuP50 = bench::Percentile(replotCpu, 50);
        out.replotCpuP99 = bench::Percentile(replotCpu, 99);
        out.redrawP50 = bench::Percentile(redraws, 50);
        out.redrawP99 = bench::Percentile(redraws, 99);
        out.redrawMax = bench::Percentile(redraws, 100);
    }
    out.redraws = redraws.size();
    keptDraws(&out.freshDraws, &out.partialDraws);
    out.freshDraws -= freshBefore;
    out.partialDraws -= partialBefore;
    return out;
}

// Resident memory after ten simulated minutes and after an hour of samples
// at the publication rate, window open and redrawing as it goes.
std::pair<long, long> Memory() {
    SampleStream stream;
    RegisterImage image;
    stream.restart(SampleStream::Source::Replay);
    std::unique_ptr<SignalsWindow> window(OpenWindow(stream, image));
    quint64 n = 0;
    long atTen = -1;
    for (qint64 t = 0; t <= 6 * kTenMinutesMs; t += kPublishMs) {
        Feed(stream, &n, t);
        // A redraw every simulated 30 s keeps the window's own buffers in use.
        if (n % 600 == 0) {
            QCoreApplication::processEvents();
            window->follow();
        }
        if (t == kTenMinutesMs) atTen = bench::StatusKiB("VmRSS");
    }
    QCoreApplication::processEvents();
    return {atTen, bench::StatusKiB("VmRSS")};
}

// The child: the tool monitoring all 8 channels once the chip answers, with
// the Signals window opened then when asked.
int ToolChild(int argc, char** argv, bool signalsWindow) {
    return bench::RunMonitoringTool(argc, argv, [signalsWindow](MainWindow* w) {
        if (signalsWindow) w->Show_SignalsWindow();
    });
}

double ToolCpuShare(const std::string& self, bool signalsWindow, int seconds) {
    SimPtyHost host("TK2C", 8, 4);
    std::string why;
    if (!host.start(std::string(), &why)) return -1;
    host.setPacing(true);
    host.setAutoplay(true);
    bench::Child child = bench::Spawn({self, signalsWindow ? "--tool-signals" : "--tool", "--port", host.slavePath()},
                                      {"QT_QPA_PLATFORM=offscreen"}, false);
    double share = -1;
    QElapsedTimer wait;
    wait.start();
    while (host.log()->count('R') < 10 && wait.elapsed() < kConnectWaitMs)
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    if (child.pid > 0 && host.log()->count('R') >= 10) {
        std::this_thread::sleep_for(std::chrono::seconds(3));  // monitoring under way, window drawn
        const long long before = bench::ProcessCpuNs(child.pid);
        QElapsedTimer t;
        t.start();
        std::this_thread::sleep_for(std::chrono::seconds(seconds));
        const long long after = bench::ProcessCpuNs(child.pid);
        if (before >= 0 && after >= 0) share = double(after - before) / double(t.nsecsElapsed());
    }
    if (child.pid > 0) ::kill(child.pid, SIGTERM);
    bench::Reap(child);
    host.stop();
    return share;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc > 1 && std::string(argv[1]) == "--tool") return ToolChild(argc, argv, false);
    if (argc > 1 && std::string(argv[1]) == "--tool-signals") return ToolChild(argc, argv, true);
    const int seconds = argc > 1 ? std::max(2, std::atoi(argv[1])) : 8;
    const std::string self = QDir(QString::fromLocal8Bit(argv[0])).absolutePath().toStdString();

    QTemporaryDir work;
    if (!work.isValid() || !bench::WriteWorkingFiles(work.path(), "TK2C", false) || !QDir::setCurrent(work.path())) {
        std::fprintf(stderr, "no working directory\n");
        return 1;
    }
    const double cpuOff = ToolCpuShare(self, false, seconds);
    const double cpuOn = ToolCpuShare(self, true, seconds);

    QApplication app(argc, argv);
    const Lateness without = Responsiveness(false, seconds);
    const Lateness with = Responsiveness(true, seconds);
    const auto [rssTen, rssHour] = Memory();

    bench::Row("Signals window opened on a full 10 min history (16 ch x 4 SBF, all chosen): first frame",
               bench::Fmt("%.1f ms (%.1f ms of CPU)", with.firstFrameMs, with.firstFrameCpuMs), "<= 100 ms",
               bench::Verdict(with.firstFrameMs >= 0 && with.firstFrameMs <= 100.0));
    bench::Row("  redraw (filling + replotting the three plots), 20 samples/s arriving",
               bench::Fmt("p99 %.2f ms (p50 %.2f, max %.1f)", with.redrawP99, with.redrawP50, with.redrawMax),
               "p99 <= 16 ms", bench::Verdict(with.redraws > 0 && with.redrawP99 <= 16.0));
    bench::Row("  the three replots of a redraw in CPU time of the GUI thread",
               bench::Fmt("p99 %.2f ms (p50 %.2f)", with.replotCpuP99, with.replotCpuP50), "-", "-");
    bench::Row("  event-loop lateness with the window open",
               bench::Fmt("max %.1f ms (p99 %.2f, p50 %.3f)", with.max, with.p99, with.p50), "max <= 50 ms",
               bench::Verdict(with.max <= 50.0));
    bench::Row("  the same without the window",
               bench::Fmt("%.2f ms (p50 %.3f, max %.1f)", without.p99, without.p50, without.max), "-", "-");
    if (cpuOff >= 0 && cpuOn >= 0) {
        bench::Row("tool monitoring 8 channels at 9600 baud, Signals window open: CPU share of one core",
                   bench::Fmt("%.2f%% (%.2f%% without)", 100 * cpuOn, 100 * cpuOff), "-", "-");
    } else {
        std::printf("the tool did not connect to the simulated board; no CPU figures\n");
    }
    const double growthMiB = (rssHour - rssTen) / 1024.0;
    bench::Row("resident memory, one simulated hour of samples vs ten minutes, window open",
               bench::Fmt("%+.2f MiB (%.1f MiB at 10 min)", growthMiB, rssTen / 1024.0), "<= 2 MiB",
               bench::Verdict(rssTen > 0 && growthMiB <= 2.0));
    std::printf("signals: lateness over %d s, %zu timer turns with the window, %zu without; %zu redraws\n", seconds,
                with.count, without.count, with.redraws);
    std::printf("signals: kept line images drawn afresh %llu times, moved and drawn on %llu times\n",
                static_cast<unsigned long long>(with.freshDraws), static_cast<unsigned long long>(with.partialDraws));
    return 0;
}
