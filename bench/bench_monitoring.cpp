// Monitoring throughput: publications per second of the processing thread
// against a family-4 simulated board paced at 9600 baud, next to the most the
// link and the cycle pause allow.
//
//   bench_monitoring [seconds]     (default 10; one line of figures)
//
// The bound for one publication is one publishing cycle: the 50 ms pause,
// then read 0x6F (1 register), read 0xD8, 0xC0, 0xD0, 0xE0 (8 registers
// each) and the selection write of the next channel, every frame at 10 bits
// per byte. Cycles that end early (the chip had not switched yet, or the
// selection had to be written again) only lower the rate; the figures count
// them separately.
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QObject>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <thread>
#include <vector>

#include "app/globals.h"
#include "link/Class_ThreadUART.h"
#include "link/commands.h"
#include "sim/SimPtyHost.h"
#include "workers/Class_Proc_Thread.h"

namespace {
constexpr double kBitsPerByte = 10.0;  // start, 8 data, stop
constexpr double kBaud = 9600.0;
constexpr int kChannels = 8;

// Command STX 'C' 'R' dev reg len ETX, reply STX 'R' status data ETX.
int ReadExchangeBytes(int regs) { return (3 + 6 + 1) + (3 + 2 * regs + 1); }
// Command STX 'C' 'W' dev reg len data ETX, reply STX 'R' status ETX.
int WriteExchangeBytes(int regs) { return (3 + 6 + 2 * regs + 1) + 4; }
double WireSeconds(int bytes) { return bytes * kBitsPerByte / kBaud; }

// What the board saw, cut into cycles: each cycle starts with the read of
// the selection register.
struct Cycles {
    size_t publishing = 0;  // went on to read the measurement blocks
    size_t selecting = 0;   // found another channel selected and wrote it
    size_t early = 0;       // the channel check failed: the chip had not switched
    size_t exchanges = 0;
};

Cycles Classify(const std::vector<SimFrame>& frames) {
    Cycles c;
    c.exchanges = frames.size();
    for (size_t i = 0; i < frames.size(); ++i) {
        if (frames[i].letter != 'R' || frames[i].reg != 0x6F) continue;
        const SimFrame* next = i + 1 < frames.size() ? &frames[i + 1] : nullptr;
        const SimFrame* third = i + 2 < frames.size() ? &frames[i + 2] : nullptr;
        if (next && next->letter == 'W')
            ++c.selecting;
        else if (third && third->letter == 'R' && third->reg == 0xC0)
            ++c.publishing;
        else if (third)
            ++c.early;
    }
    return c;
}
}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const int seconds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 10;

    SimPtyHost host("TK2C", kChannels, 4);
    std::string why;
    if (!host.start(std::string(), &why)) {
        std::fprintf(stderr, "simulated board: %s\n", why.c_str());
        return 1;
    }
    host.setPacing(true);

    g_DeviceType = 4;
    g_SizeOfChannel = kChannels;
    g_SizeOfSBF = 4;
    g_I2C_Addr = 0xB0;

    auto* uart = new Class_ThreadUART;
    g_ThreadUART = uart;
    if (uart->Open_Port(QString::fromStdString(host.slavePath())) != 1) {
        std::fprintf(stderr, "could not open %s\n", host.slavePath().c_str());
        return 1;
    }
    Reset_Rings();
    g_UART_Connected = 1;
    uart->start();
    if (CMD_Device(4) != '0') {
        std::fprintf(stderr, "the board did not take the chip family\n");
        return 1;
    }

    std::atomic<long> published{0};
    auto* proc = new Class_Proc_Thread;
    g_Proc_Thread = proc;
    QObject::connect(
        proc, &Class_Proc_Thread::Update_MON_Signal, proc, [&] { published.fetch_add(1); }, Qt::DirectConnection);
    g_I2C_Connected = 1;
    g_MonChannelMask = (1u << kChannels) - 1;
    g_SenseOn = 1;
    proc->start();

    // Let the first round settle (the first channel needs a selection cycle).
    std::this_thread::sleep_for(std::chrono::seconds(1));
    host.clearLog();
    const long before = published.load();
    QElapsedTimer t;
    t.start();
    std::this_thread::sleep_for(std::chrono::seconds(seconds));
    const long pubs = published.load() - before;
    const double elapsed = t.elapsed() / 1000.0;

    const Cycles cycles = Classify(host.log()->frames());

    g_SenseOn = 0;
    proc->Stop();
    proc->wait();
    uart->Stop();
    uart->wait();
    uart->Close_Port();
    g_UART_Connected = 0;
    delete proc;
    delete uart;
    host.stop();

    const int publishBytes = ReadExchangeBytes(1) + 4 * ReadExchangeBytes(8) + WriteExchangeBytes(1);
    const int selectBytes = ReadExchangeBytes(1) + WriteExchangeBytes(1);
    const int earlyBytes = ReadExchangeBytes(1) + ReadExchangeBytes(8);
    const double pause = Class_Proc_Thread::kCycleIntervalMs / 1000.0;
    // Every cycle the board saw costs at least its pause and its wire time;
    // with no selection or early cycles this is 1 / (pause + publishing cycle).
    const double perPublication = pause + WireSeconds(publishBytes);
    double spent = cycles.publishing * perPublication;
    spent += cycles.selecting * (pause + WireSeconds(selectBytes));
    spent += cycles.early * (pause + WireSeconds(earlyBytes));
    const double bound = cycles.publishing > 0 ? cycles.publishing / spent : 1.0 / perPublication;
    const double measured = pubs / elapsed;

    std::printf("%-34s %10s %10s %8s\n", "figure", "measured", "bound", "ratio");
    std::printf("%-34s %10.2f %10.2f %8.2f\n", "publications/s (TK2C, 8 ch, 9600)", measured, bound, measured / bound);
    std::printf("  publishing cycle: %d bytes on the wire = %.1f ms, + %.0f ms pause; ideal %.2f/s\n", publishBytes,
                WireSeconds(publishBytes) * 1000.0, pause * 1000.0, 1.0 / perPublication);
    std::printf("  over %.1f s: %ld publications; cycles: %zu publishing, %zu selecting, %zu early; %zu exchanges\n",
                elapsed, pubs, cycles.publishing, cycles.selecting, cycles.early, cycles.exchanges);
    return 0;
}
