// Logging and replay speed.
//
//   bench_logging [seconds]     (default 12: twice that with logging on, as
//                                long off, in phases of 2 s)
//
// 1. The unpaced simulated board (8 channels, 4 SBFs) monitored by the
//    processing thread into a sample stream, with and without a recorder in
//    short phases interleaved off, on, on, off, ... so that a drift of the
//    shared machine's load falls on both alike: publications per second both
//    ways, counted where the processing thread emits them (their ratio says
//    whether logging slows it; a count taken on the main thread would also
//    see the recorder's sync there delay the queued samples at a phase's
//    end), rows per second written, and the writer's CPU share (the main
//    thread, where the recorder runs, with logging on minus off, over the
//    wall time).
// 2. The writer alone, as fast as it goes: rows per second.
// 3. A one-hour log (20 publications per second, 8 channels, 4 SBFs) read
//    and replayed "as fast as possible" into a stream without views: rows per
//    second, loading included.
#include <time.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTemporaryDir>
#include <QTimer>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <vector>

#include "app/limits.h"
#include "bench/bench_support.h"
#include "data/LogPlayer.h"
#include "data/LogRecorder.h"
#include "data/SampleStream.h"
#include "link/ReceiveThread.h"
#include "link/commands.h"
#include "sim/SimChip.h"
#include "sim/SimPtyHost.h"
#include "workers/BoardSession.h"
#include "workers/MonitorThread.h"

namespace {
constexpr int kChannels = 8;

double ThreadCpuMs() {
    timespec ts{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return ts.tv_sec * 1000.0 + ts.tv_nsec / 1e6;
}

void Spin(int ms) {
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

struct Phase {
    double pubsPerS = 0.0;
    double cpuMs = 0.0;
    double wallMs = 0.0;
};

bool Live(int seconds, const QString& dir) {
    SimPtyHost host("TK2C", kChannels, 4);
    std::string why;
    if (!host.start(std::string(), &why)) {
        std::fprintf(stderr, "simulated board: %s\n", why.c_str());
        return false;
    }
    host.setPacing(false);
    auto session = std::make_unique<BoardSession>();
    BoardConfig config;
    config.family = SimChip::familyForModel("TK2C");
    config.channels = kChannels;
    config.sbfs = 4;
    session->setConfig(config);
    BoardLink* link = &session->link();
    ReceiveThread* uart = link->receiver();
    if (uart->Open_Port(QString::fromStdString(host.slavePath())) != 1) return false;
    link->resetRings();
    link->setLive(true);
    uart->start();
    CMD_Device(*link, static_cast<uint8_t>(session->family()));

    SampleStream stream;
    stream.setMonitoredSource(
        [&session] { return session->monitoringWanted() ? session->monitoredChannels() : uint16_t(0); });
    LogRecorder recorder(&stream);
    auto* proc = new MonitorThread(*session);
    QObject::connect(proc, &MonitorThread::sampleReady, &stream, &SampleStream::publishLive);
    stream.restart();
    session->setChipPresent(true);
    session->setMonitoredChannels((1u << kChannels) - 1);
    session->setSensing(true);
    proc->start();
    Spin(1000);

    // Counted in the processing thread as it publishes.
    std::atomic<quint64> published{0};
    QObject::connect(
        proc, &MonitorThread::sampleReady, proc, [&published] { published.fetch_add(1); }, Qt::DirectConnection);

    auto measure = [&](int ms) {
        Phase p;
        const quint64 before = published.load();
        const double cpu0 = ThreadCpuMs();
        QElapsedTimer t;
        t.start();
        Spin(ms);
        p.wallMs = static_cast<double>(t.elapsed());
        p.cpuMs = ThreadCpuMs() - cpu0;
        p.pubsPerS = static_cast<double>(published.load() - before) * 1000.0 / p.wallMs;
        return p;
    };
    LogHeader header;
    header.started = QDateTime::currentDateTime();
    header.channels = kChannels;
    header.sbf = 4;
    Phase off;
    Phase on;
    qint64 rows = 0;
    auto add = [](Phase* sum, const Phase& p) {
        sum->pubsPerS += p.pubsPerS * p.wallMs;
        sum->cpuMs += p.cpuMs;
        sum->wallMs += p.wallMs;
    };
    // Phases of 2 s in the order off, on, on, off, repeated: each condition
    // sits as often before the other as after it.
    constexpr int kPhaseMs = 2000;
    const int pairs = std::max(1, 2 * seconds * 1000 / kPhaseMs);
    std::vector<double> pairRatios;
    for (int i = 0; i < pairs; ++i) {
        const bool onFirst = i % 2 == 1;
        Phase a, b;
        for (const bool logging : {onFirst, !onFirst}) {
            if (logging) {
                recorder.start(dir + QStringLiteral("/live%1.csv").arg(i), header);
                const Phase p = measure(kPhaseMs);
                rows += recorder.rowCount();
                recorder.stop();
                add(&on, p);
                a = p;
            } else {
                const Phase p = measure(kPhaseMs);
                add(&off, p);
                b = p;
            }
        }
        if (b.pubsPerS > 0) pairRatios.push_back(a.pubsPerS / b.pubsPerS);
    }
    off.pubsPerS /= off.wallMs;
    on.pubsPerS /= on.wallMs;
    std::sort(pairRatios.begin(), pairRatios.end());
    const double medianPair = pairRatios.empty() ? 0.0 : pairRatios[pairRatios.size() / 2];

    session->setSensing(false);
    session->setChipPresent(false);
    proc->Stop();
    proc->wait();
    delete proc;
    stream.setMonitoredSource({});
    link->setLive(false);
    session.reset();  // stops the receive thread and closes the port
    host.stop();

    const double ratio = off.pubsPerS > 0 ? on.pubsPerS / off.pubsPerS : 0.0;
    bench::Row("logging, unpaced simulated board (8 ch, 4 SBFs): rows/s written",
               bench::Fmt("%.0f", rows * 1000.0 / on.wallMs), "-", "-");
    bench::Row("  publications/s with logging on / off (interleaved 2 s phases)",
               bench::Fmt("%.2f / %.2f = %.3f", on.pubsPerS, off.pubsPerS, ratio) +
                   bench::Fmt(" (median of %.0f pairs %.3f)", static_cast<double>(pairRatios.size()), medianPair),
               ">= 0.95", bench::Verdict(ratio >= 0.95));
    bench::Row("  writer's CPU share of one core (main thread, on minus off)",
               bench::Fmt("%.2f%%", 100.0 * (on.cpuMs - off.cpuMs) / on.wallMs), "-", "-");
    std::printf("logging: main thread %.0f ms CPU in %.0f ms with logging off, %.0f ms in %.0f ms on; %lld rows\n",
                off.cpuMs, off.wallMs, on.cpuMs, on.wallMs, static_cast<long long>(rows));
    return true;
}

MonitorSample Sample(int i) {
    MonitorSample s;
    s.wallMs = 1700000000000 + i * 50 / kChannels;
    s.channel = i % kChannels;
    s.sbfCount = 4;
    for (int k = 0; k < 4; ++k) {
        s.ref[k] = static_cast<uint16_t>(2000 + k);
        s.sense[k] = static_cast<uint16_t>(2000 + (i * 7 + k) % 300);
        s.diff[k] = (i * 7 + k) % 300;
        s.offset[k] = -k;
    }
    return s;
}

void WriterAlone(const QString& dir) {
    LogWriter w;
    w.open(dir + "/alone.csv", LogHeader());
    QElapsedTimer t;
    t.start();
    int i = 0;
    while (t.elapsed() < 1000) {
        for (int k = 0; k < 1000; ++k, ++i) w.writeSample(i, Sample(i));
    }
    w.close();
    const double ms = static_cast<double>(t.elapsed());
    bench::Row("log writer alone: rows/s", bench::Fmt("%.0f", w.rowCount() * 1000.0 / ms), "-", "-");
}

void Replay(const QString& dir) {
    const QString path = dir + "/hour.csv";
    const int pubs = 3600 * 20;
    {
        LogWriter w;
        w.open(path, LogHeader());
        for (int i = 0; i < pubs; ++i) w.writeSample(static_cast<qint64>(i) * 50, Sample(i));
        w.close();
    }
    const qint64 rows = static_cast<qint64>(pubs) * 4;
    SampleStream stream;
    LogPlayer player(&stream);
    QElapsedTimer t;
    t.start();
    player.load(path);
    const double loadMs = static_cast<double>(t.elapsed());
    player.setSpeed(LogPlayer::kAsFastAsPossible);
    QEventLoop loop;
    QObject::connect(&player, &LogPlayer::finished, &loop, &QEventLoop::quit);
    player.play();
    loop.exec();
    const double totalMs = static_cast<double>(t.elapsed());
    bench::Row("replay of a one-hour log as fast as possible (no views): rows/s",
               bench::Fmt("%.0f", rows * 1000.0 / totalMs), "-", "-");
    std::printf("replay: %lld rows (%lld publications), read in %.0f ms, played in %.0f ms\n",
                static_cast<long long>(rows), static_cast<long long>(player.publishedCount()), loadMs,
                totalMs - loadMs);
}
}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const int seconds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 12;
    QTemporaryDir dir;
    int status = Live(seconds, dir.path()) ? 0 : 1;
    WriterAlone(dir.path());
    Replay(dir.path());
    return status;
}
