// tkeval-cli: a full dump against the paced simulated board (how close its
// register reads come to the wire's own time, as for the window's table
// read), and the start-up of "tkeval-cli --version" next to a minimal Qt Core
// program.
//
//   bench_cli [runs]     (default 5 dumps, 20 start-ups of each)
#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QTemporaryDir>
#include <cstdio>
#include <cstdlib>

#include "bench/bench_support.h"
#include "sim/SimPtyHost.h"

namespace {

struct DumpFigures {
    bool ok = false;
    double wireMs = 0.0;     // the dump's reads, both ways
    double spanMs = 0.0;     // first command byte to last reply byte, on the board's clock
    double processMs = 0.0;  // spawn to exit
};

DumpFigures DumpOnce(const std::string& cli, SimPtyHost& host) {
    DumpFigures d;
    host.clearLog();
    QElapsedTimer t;
    t.start();
    bench::Child c = bench::Spawn({cli, "dump", "--port", host.slavePath()}, {}, false);
    if (c.pid < 0) return d;
    bench::Reap(c);
    d.processMs = t.nsecsElapsed() / 1e6;

    // The dump's reads are the 8-register ones; the connect's probe reads one.
    double first = -1.0;
    double last = 0.0;
    int reads = 0;
    for (const SimFrame& f : host.log()->frames()) {
        if (f.letter != 'R' || f.data.size() != 8) continue;
        const double cmd = bench::WireMs(static_cast<double>(f.body.size()) + 2);
        const double all = bench::WireMs(bench::ExchangeBytes(f));
        if (first < 0) first = f.timeMs - cmd;
        last = f.timeMs + (all - cmd);
        d.wireMs += all;
        ++reads;
    }
    d.spanMs = last - first;
    d.ok = reads == 32;
    return d;
}

double RunOnce(const std::vector<std::string>& args) {
    QElapsedTimer t;
    t.start();
    bench::Child c = bench::Spawn(args, {}, true);
    if (c.pid < 0) return -1.0;
    bench::Reap(c);
    return t.nsecsElapsed() / 1e6;
}

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const int runs = argc > 1 ? std::max(3, std::atoi(argv[1])) : 5;
    const QDir here(QCoreApplication::applicationDirPath());
    const std::string cli = QDir::cleanPath(here.filePath(QStringLiteral("../tkeval-cli"))).toStdString();
    const std::string minimal = here.filePath(QStringLiteral("minimal_core")).toStdString();

    QTemporaryDir work;
    if (!work.isValid() || !bench::WriteWorkingFiles(work.path(), "TK2C", false) || !QDir::setCurrent(work.path())) {
        std::fprintf(stderr, "no working directory\n");
        return 1;
    }
    SimPtyHost host("TK2C", 8, 4);
    std::string why;
    if (!host.start(std::string(), &why)) {
        std::fprintf(stderr, "simulated board: %s\n", why.c_str());
        return 1;
    }
    host.setNoise(0, 1);
    host.setPacing(true);

    std::vector<double> ratios, process;
    double wire = 0.0;
    for (int i = 0; i < runs; ++i) {
        const DumpFigures d = DumpOnce(cli, host);
        if (!d.ok) {
            std::fprintf(stderr, "a dump did not read all 256 registers\n");
            return 1;
        }
        wire = d.wireMs;
        ratios.push_back(d.wireMs / d.spanMs);
        process.push_back(d.processMs);
    }
    host.stop();

    const double median = bench::Percentile(ratios, 50);
    bench::Row("tkeval-cli dump, 256 registers, 9600 baud: wire / measured",
               bench::Fmt("%.3f (median of %.0f dumps, worst %.3f)", median, runs, bench::Percentile(ratios, 0)),
               ">= 0.97", bench::Verdict(median >= 0.97));
    std::printf("cli dump: reads %.1f ms on the wire; whole process (start, connect, dump) median %.0f ms\n", wire,
                bench::Percentile(process, 50));

    std::vector<double> cliMs, minMs;
    RunOnce({minimal});  // warm the file cache for both
    RunOnce({cli, "--version"});
    for (int i = 0; i < 4 * runs; ++i) {
        minMs.push_back(RunOnce({minimal}));
        cliMs.push_back(RunOnce({cli, "--version"}));
    }
    const double cm = bench::Percentile(cliMs, 50), mm = bench::Percentile(minMs, 50);
    bench::Row("start-up and exit of tkeval-cli --version / minimal Qt Core program",
               bench::Fmt("%.1f ms / %.1f ms = %.2f", cm, mm, cm / mm), "-", "-");
    return 0;
}
