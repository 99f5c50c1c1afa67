// Start-up: time from spawning the tool to its first shown window, and its
// peak resident memory, next to a minimal Qt Widgets program measured in the
// same run, runs of the two interleaved so that load spreads over both.
//
//   bench_startup [runs]     (default 10 of each)
//
// The tool starts in a fresh working directory with its INI and hint files,
// offscreen, with TKEVAL_EXIT_WHEN_SHOWN=1; no board is attached, so its port
// search finds nothing to open.
#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QTemporaryDir>
#include <cstdio>
#include <cstdlib>

#include "bench/bench_support.h"

namespace {

struct Sample {
    double ms = 0.0;
    long peakKiB = -1;
    bool ok = false;
};

Sample StartOnce(const std::string& program) {
    Sample s;
    QElapsedTimer t;
    t.start();
    bench::Child c = bench::Spawn({program}, {"QT_QPA_PLATFORM=offscreen", "TKEVAL_EXIT_WHEN_SHOWN=1"}, true);
    if (c.pid < 0) return s;
    s.ok = bench::AwaitLine(c.out, "shown", 20000);
    s.ms = t.nsecsElapsed() / 1e6;
    if (!s.ok) ::kill(c.pid, SIGKILL);
    s.peakKiB = bench::Reap(c);
    return s;
}

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const int runs = argc > 1 ? std::max(3, std::atoi(argv[1])) : 10;
    const QDir here(QCoreApplication::applicationDirPath());
    const std::string tool = QDir::cleanPath(here.filePath(QStringLiteral("../tkeval"))).toStdString();
    const std::string minimal = here.filePath(QStringLiteral("minimal_widgets")).toStdString();

    QTemporaryDir work;
    if (!work.isValid() || !bench::WriteWorkingFiles(work.path(), "TK2C", false) || !QDir::setCurrent(work.path())) {
        std::fprintf(stderr, "no working directory\n");
        return 1;
    }

    std::vector<double> toolMs, minMs, toolKiB, minKiB;
    StartOnce(minimal);  // warm the file cache for both
    StartOnce(tool);
    for (int i = 0; i < runs; ++i) {
        const Sample m = StartOnce(minimal);
        const Sample a = StartOnce(tool);
        if (!m.ok || !a.ok) {
            std::fprintf(stderr, "a start-up did not report its window (%s)\n", m.ok ? tool.c_str() : minimal.c_str());
            return 1;
        }
        minMs.push_back(m.ms);
        toolMs.push_back(a.ms);
        minKiB.push_back(static_cast<double>(m.peakKiB));
        toolKiB.push_back(static_cast<double>(a.peakKiB));
    }
    const double tm = bench::Percentile(toolMs, 50), mm = bench::Percentile(minMs, 50);
    const double tk = bench::Percentile(toolKiB, 50), mk = bench::Percentile(minKiB, 50);
    bench::Row("start-up to first shown window: tool / minimal Qt Widgets program",
               bench::Fmt("%.1f ms / %.1f ms = %.2f", tm, mm, tm / mm), "<= 1.5", bench::Verdict(tm / mm <= 1.5));
    bench::Row("  peak resident memory at that point: tool / minimal",
               bench::Fmt("%.1f MiB / %.1f MiB = %.2f", tk / 1024, mk / 1024, tk / mk), "-", "-");
    std::printf("start-up: medians of %d interleaved runs each; p90 tool %.1f ms, minimal %.1f ms\n", runs,
                bench::Percentile(toolMs, 90), bench::Percentile(minMs, 90));
    return 0;
}
