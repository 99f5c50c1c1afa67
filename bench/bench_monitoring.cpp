// Monitoring throughput: publications per second of the processing thread
// against a simulated board paced at 9600 baud, next to the most the link
// and the cycle pause allow, for a family-4 (TK2C) and a family-2 (TK2A)
// model with 8 configured channels.
//
//   bench_monitoring [seconds]     (default 10 per model)
//
// The bound comes from what the board saw in the measured interval: every
// cycle costs at least the 50 ms pause plus the wire time of its frames, 10
// bits per byte both ways. Cycles that do not publish (the chip had not
// switched yet, or the selection had to be written again) are counted in the
// bound's time but not in its publications, so they show up as a lower bound
// and in the cycle counts rather than as lost efficiency.
//
// Then both models at once, each board served by its own board session as
// the window serves one (its own receive, chip-poll and monitor threads, its
// samples through its own stream), half the channels each: every board
// keeps its rate, and no stream carries the other board's channels.
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QObject>
#include <QTimer>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <thread>
#include <vector>

#include "app/limits.h"
#include "bench/bench_support.h"
#include "data/SampleStream.h"
#include "link/ReceiveThread.h"
#include "link/commands.h"
#include "sim/SimChip.h"
#include "sim/SimPtyHost.h"
#include "workers/BoardOps.h"
#include "workers/BoardSession.h"
#include "workers/MonitorThread.h"
#include "workers/decode.h"

namespace {
constexpr int kChannels = 8;

// What the board saw, cut into cycles: each starts with the read of the
// selection register and ends where the next one starts. Cycles are timed on
// the board's clock (when each command was complete), so the cycle that the
// interval cut short counts nowhere.
struct Cycles {
    size_t publishing = 0;  // went on to read the data blocks
    size_t selecting = 0;   // found another channel selected and wrote it
    size_t early = 0;       // the channel check failed: the chip had not switched
    size_t exchanges = 0;
    size_t cycleExchanges = 0;      // in the complete cycles
    double spanMs = 0.0;            // from the first cycle's start to the last one's end
    double wireMs = 0.0;            // frames of the complete cycles, both ways
    double publishingWireMs = 0.0;  // of the publishing cycles alone
    size_t count() const { return publishing + selecting + early; }
};

Cycles Classify(const std::vector<SimFrame>& frames, int family) {
    const int selReg = decode::Selection_Register(family);
    Cycles c;
    c.exchanges = frames.size();
    auto starts = [&](size_t i) { return frames[i].letter == 'R' && frames[i].reg == selReg; };
    size_t first = 0;
    while (first < frames.size() && !starts(first)) ++first;
    size_t i = first;
    while (i < frames.size()) {
        size_t end = i + 1;
        while (end < frames.size() && !starts(end)) ++end;
        if (end == frames.size()) break;
        double wire = 0.0;
        for (size_t k = i; k < end; ++k) wire += bench::WireMs(bench::ExchangeBytes(frames[k]));
        c.wireMs += wire;
        c.cycleExchanges += end - i;
        const size_t n = end - i;
        if (n == 2 && frames[i + 1].letter == 'W') {
            ++c.selecting;
        } else if (n > 3) {
            ++c.publishing;
            c.publishingWireMs += wire;
        } else {
            ++c.early;
        }
        c.spanMs = static_cast<double>(frames[end].timeMs - frames[first].timeMs);
        i = end;
    }
    return c;
}

struct Result {
    double measured = 0.0;  // publications per second
    double bound = 0.0;
    double ideal = 0.0;  // every cycle publishing
    double publishingWireMs = 0.0;
    double elapsed = 0.0;
    long pubs = 0;
    Cycles cycles;
    bool ok = false;
};

// The bound and the rates from what the board saw; false when no cycle
// published.
bool Rate(Result& res) {
    if (res.cycles.publishing == 0 || res.cycles.spanMs <= 0.0) return false;
    const double pauseMs = MonitorThread::kCycleIntervalMs;
    const Cycles& c = res.cycles;
    res.bound = 1000.0 * c.publishing / (c.count() * pauseMs + c.wireMs);
    res.measured = 1000.0 * c.publishing / c.spanMs;
    res.publishingWireMs = c.publishingWireMs / c.publishing;
    res.ideal = 1000.0 / (pauseMs + res.publishingWireMs);
    res.ok = true;
    return true;
}

Result Run(const char* model, int seconds) {
    Result res;
    const int family = SimChip::familyForModel(model);
    SimPtyHost host(model, kChannels, 4);
    std::string why;
    if (!host.start(std::string(), &why)) {
        std::fprintf(stderr, "simulated board: %s\n", why.c_str());
        return res;
    }
    host.setPacing(true);

    auto session = std::make_unique<BoardSession>();
    BoardConfig config;
    config.family = family;
    config.channels = kChannels;
    config.sbfs = 4;
    session->setConfig(config);
    BoardLink* link = &session->link();
    ReceiveThread* uart = link->receiver();
    if (uart->Open_Port(QString::fromStdString(host.slavePath())) != 1) {
        std::fprintf(stderr, "could not open %s\n", host.slavePath().c_str());
        return res;
    }
    link->resetRings();
    link->setLive(true);
    uart->start();
    const bool device = CMD_Device(*link, static_cast<uint8_t>(family)).ok();

    std::atomic<long> published{0};
    auto* proc = new MonitorThread(*session);
    QObject::connect(
        proc, &MonitorThread::sampleReady, proc, [&] { published.fetch_add(1); }, Qt::DirectConnection);
    session->setChipPresent(true);
    session->setMonitoredChannels((1u << kChannels) - 1);
    session->setSensing(true);
    if (device) {
        proc->start();
        // Let the first round settle (the first channel needs a selection cycle).
        std::this_thread::sleep_for(std::chrono::seconds(1));
        host.clearLog();
        const long before = published.load();
        QElapsedTimer t;
        t.start();
        std::this_thread::sleep_for(std::chrono::seconds(seconds));
        res.pubs = published.load() - before;
        res.elapsed = t.elapsed() / 1000.0;
        res.cycles = Classify(host.log()->frames(), family);
    } else {
        std::fprintf(stderr, "the board did not take the chip family\n");
    }

    session->setSensing(false);
    session->setMonitoredChannels(0);
    session->setChipPresent(false);
    proc->Stop();
    proc->wait();
    delete proc;
    link->setLive(false);
    session.reset();  // stops the receive thread and closes the port
    host.stop();
    if (device) Rate(res);
    return res;
}

// One of two boards served at once, through its session's own live side.
struct PairBoard {
    explicit PairBoard(const char* m, uint16_t channels)
        : model(m), family(SimChip::familyForModel(m)), mask(channels), host(m, kChannels, 4) {}

    bool start() {
        std::string why;
        if (!host.start(std::string(), &why)) {
            std::fprintf(stderr, "%s: simulated board: %s\n", model, why.c_str());
            return false;
        }
        host.setPacing(true);
        BoardConfig config;
        config.family = family;
        config.channels = kChannels;
        config.sbfs = 4;
        session->setConfig(config);
        session->startReceiver();
        if (session->link().receiver()->Open_Port(QString::fromStdString(host.slavePath())) != 1) {
            std::fprintf(stderr, "%s: could not open %s\n", model, host.slavePath().c_str());
            return false;
        }
        session->portOpened();
        if (!Board_Identify(session->link(), static_cast<uint8_t>(family), false, 3).device.ok()) {
            std::fprintf(stderr, "%s: the board did not take the chip family\n", model);
            return false;
        }
        QObject::connect(session->stream(), &SampleStream::sampleAdded, session.get(), [this](const MonitorSample& m) {
            ++samples;
            if (((mask >> m.channel) & 1u) == 0) ++foreign;
        });
        session->setMonitoredChannels(mask);
        session->setSensing(true);
        session->startWorkers();
        return true;
    }

    void stop() {
        session->setSensing(false);
        session->closePort();
        session->shutDown();
        host.stop();
    }

    const char* model;
    int family;
    uint16_t mask;
    SimPtyHost host;
    std::unique_ptr<BoardSession> session = std::make_unique<BoardSession>();
    long samples = 0;  // reached the session's stream
    long foreign = 0;  // of those, of a channel this board was not asked for
    Result result;
};

void RunEventLoop(int ms) {
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

// Both models at once; false when either could not be measured.
bool RunPair(int seconds) {
    // A family-2 chip's channel tag names channels 0-3 only.
    PairBoard boards[] = {PairBoard("TK2C", 0xF0), PairBoard("TK2A", 0x0F)};
    bool ok = true;
    for (PairBoard& b : boards) ok = ok && b.start();
    if (ok) {
        // The chip-poll threads find the chips; the first round selects.
        RunEventLoop(1500);
        for (PairBoard& b : boards) {
            b.host.clearLog();
            b.samples = 0;
        }
        RunEventLoop(seconds * 1000);
        for (PairBoard& b : boards) {
            b.result.cycles = Classify(b.host.log()->frames(), b.family);
            if (!Rate(b.result)) {
                std::fprintf(stderr, "%s: no publishing cycle (chip %s, %ld samples)\n", b.model,
                             b.session->chipPresent() ? "present" : "absent", b.samples);
                ok = false;
            }
        }
    }
    for (PairBoard& b : boards) b.stop();
    if (!ok) {
        std::fprintf(stderr, "two sessions: a board could not be measured\n");
        return false;
    }
    std::string measured;
    bool met = true;
    for (const PairBoard& b : boards) {
        const double ratio = b.result.measured / b.result.bound;
        met = met && ratio >= 0.98 && b.foreign == 0;
        measured += bench::Fmt("%.2f of bound %.2f = %.3f", b.result.measured, b.result.bound, ratio);
        measured += std::string(" (") + b.model + "), ";
        std::printf("two sessions, %s: %ld samples reached its stream, %ld of the other board's channels\n", b.model,
                    b.samples, b.foreign);
    }
    measured += "samples of the other board's channels: " + std::to_string(boards[0].foreign + boards[1].foreign);
    bench::Row(
        "two sessions in one process monitoring TK2C (ch 4-7) and TK2A (ch 0-3) at once, 9600 baud: "
        "publications/s per board",
        measured, ">= 0.98 each", bench::Verdict(met));
    return true;
}
}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const int seconds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 10;
    int status = 0;
    for (const char* model : {"TK2C", "TK2A"}) {
        const Result r = Run(model, seconds);
        if (!r.ok) {
            std::fprintf(stderr, "%s: no publishing cycle measured\n", model);
            status = 1;
            continue;
        }
        const double ratio = r.measured / r.bound;
        bench::Row(std::string("monitoring ") + model + " (family " + std::to_string(SimChip::familyForModel(model)) +
                       "), 8 ch, 9600 baud: publications/s",
                   bench::Fmt("%.2f of bound %.2f = %.3f", r.measured, r.bound, ratio), ">= 0.95",
                   bench::Verdict(ratio >= 0.95));
        std::printf("%s: publishing cycle %.1f ms on the wire + %.0f ms pause, %.2f/s if every cycle published\n",
                    model, r.publishingWireMs, static_cast<double>(MonitorThread::kCycleIntervalMs), r.ideal);
        const Cycles& c = r.cycles;
        std::printf(
            "%s: over %.1f s: %ld publications seen by the tool; board saw %zu complete cycles in %.0f ms: "
            "%zu publishing, %zu selecting, %zu early\n",
            model, r.elapsed, r.pubs, c.count(), c.spanMs, c.publishing, c.selecting, c.early);
        std::printf("%s: beyond pause and wire: %.2f ms per exchange (%zu exchanges)\n", model,
                    (c.spanMs - c.count() * static_cast<double>(MonitorThread::kCycleIntervalMs) - c.wireMs) /
                        static_cast<double>(c.cycleExchanges),
                    c.cycleExchanges);
    }
    if (!RunPair(seconds)) status = 1;
    return status;
}
