// What one board exchange costs beyond the wire, and how close a full
// register-table read comes to the wire's own time.
//
//   bench_exchange [exchanges]     (default 1000 per size)
//
// Unpaced, the simulated board answers as soon as the command is complete, so
// the round trip is the tool's own share: writing the frame, the receive
// thread's next poll, and the reply collector's next look at the ring. Paced
// at 9600 baud, the same exchanges also wait for every byte on the wire.
#include <QCoreApplication>
#include <QElapsedTimer>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <vector>

#include "app/limits.h"
#include "bench/bench_support.h"
#include "link/ReceiveThread.h"
#include "link/commands.h"
#include "sim/SimPtyHost.h"

namespace {

constexpr uint8_t kDev = 0xB0;

std::vector<double> RoundTrips(BoardLink& link, int regs, int count, int* failures) {
    std::vector<double> ms;
    ms.reserve(static_cast<size_t>(count));
    uint8_t buf[kMaxRegsPerFrame];
    QElapsedTimer t;
    for (int i = 0; i < count; ++i) {
        t.start();
        const ExchangeResult r =
            CMD_Read(link, kDev, static_cast<uint8_t>((i * 8) & 0xF8), static_cast<uint8_t>(regs), buf);
        ms.push_back(t.nsecsElapsed() / 1e6);
        if (!r.ok()) ++*failures;
    }
    return ms;
}

// One pass over all 256 registers in runs of 8, as the Read button does it
// for a full table; milliseconds.
double TablePass(BoardLink& link, int* failures) {
    uint8_t buf[kMaxRegsPerFrame];
    QElapsedTimer t;
    t.start();
    for (int reg = 0; reg < 256; reg += kMaxRegsPerFrame)
        if (!CMD_Read(link, kDev, static_cast<uint8_t>(reg), kMaxRegsPerFrame, buf).ok()) ++*failures;
    return t.nsecsElapsed() / 1e6;
}

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const int count = argc > 1 ? std::max(100, std::atoi(argv[1])) : 1000;

    SimPtyHost host("TK2C", 8, 4);
    std::string why;
    if (!host.start(std::string(), &why)) {
        std::fprintf(stderr, "simulated board: %s\n", why.c_str());
        return 1;
    }
    host.setNoise(0, 1);

    auto link = std::make_unique<BoardLink>();
    ReceiveThread* uart = link->receiver();
    if (uart->Open_Port(QString::fromStdString(host.slavePath())) != 1) {
        std::fprintf(stderr, "could not open %s\n", host.slavePath().c_str());
        return 1;
    }
    link->resetRings();
    link->setLive(true);
    uart->start();
    if (!CMD_Device(*link, 4).ok()) {
        std::fprintf(stderr, "the board did not answer\n");
        return 1;
    }

    int failures = 0;
    host.setPacing(false);
    RoundTrips(*link, 8, 50, &failures);  // warm-up: page faults, first wake-ups
    const std::vector<double> one = RoundTrips(*link, 1, count, &failures);
    const std::vector<double> eight = RoundTrips(*link, 8, count, &failures);

    host.setPacing(true);
    std::vector<double> pacedEight = RoundTrips(*link, 8, 50, &failures);
    constexpr int kPasses = 5;
    std::vector<double> passes;
    for (int i = 0; i < kPasses; ++i) passes.push_back(TablePass(*link, &failures));

    link->setLive(false);
    link.reset();  // stops the receive thread and closes the port
    host.stop();

    const double wire1 = bench::WireMs(bench::ReadExchangeBytes(1));
    const double wire8 = bench::WireMs(bench::ReadExchangeBytes(8));
    const double med1 = bench::Percentile(one, 50), p99_1 = bench::Percentile(one, 99);
    const double med8 = bench::Percentile(eight, 50), p99_8 = bench::Percentile(eight, 99);

    bench::Row("1-register read, round trip unpaced", bench::Fmt("median %.2f ms, p99 %.2f ms", med1, p99_1), "-", "-");
    bench::Row("  as a share of its wire time (" + bench::Fmt("%.1f ms", wire1) + ")",
               bench::Fmt("median %.1f%%, p99 %.1f%%", 100 * med1 / wire1, 100 * p99_1 / wire1), "-", "-");
    bench::Row("8-register read, round trip unpaced", bench::Fmt("median %.2f ms, p99 %.2f ms", med8, p99_8), "-", "-");
    bench::Row("  as a share of its wire time (" + bench::Fmt("%.1f ms", wire8) + ")",
               bench::Fmt("median %.1f%%, p99 %.1f%%", 100 * med8 / wire8, 100 * p99_8 / wire8), "<= 5%",
               bench::Verdict(med8 / wire8 <= 0.05));

    // Wire time over measured time for the whole table: 32 exchanges of 30 bytes.
    const double tableWire = 32 * wire8;
    std::vector<double> ratios;
    for (double p : passes) ratios.push_back(tableWire / p);
    const double medianRatio = bench::Percentile(ratios, 50);
    bench::Row("256-register table, 32 runs of 8, 9600 baud: wire / measured",
               bench::Fmt("%.3f (median of %.0f passes, worst %.3f)", medianRatio, kPasses,
                          *std::min_element(ratios.begin(), ratios.end())),
               ">= 0.97", bench::Verdict(medianRatio >= 0.97));

    // The same table against a board that answered with no delay of its own:
    // what the tool's own share (the unpaced round trip) leaves of the wire time.
    const double toolOnly = wire8 / (wire8 + med8);
    bench::Row("  the same from the tool's own share alone: wire / (wire + unpaced round trip)",
               bench::Fmt("%.3f", toolOnly), ">= 0.97", bench::Verdict(toolOnly >= 0.97));

    std::printf("exchanges: %d per size unpaced; %d failed of all\n", count, failures);
    std::printf("paced 8-register read: median %.2f ms for %.2f ms on the wire (+%.2f ms)\n",
                bench::Percentile(pacedEight, 50), wire8, bench::Percentile(pacedEight, 50) - wire8);
    std::printf("table passes (ms):");
    for (double p : passes) std::printf(" %.1f", p);
    std::printf("  wire %.1f ms\n", tableWire);
    return failures == 0 ? 0 : 1;
}
