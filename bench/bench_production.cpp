// The production station: one board's test against the wire time of the
// exchanges it made, four boards at once against one, and records stored per
// second in SQLite and in a PostgreSQL server started for the run, with four
// processes storing 250 records each into one database.
//
//   bench_production [runs]            (default 3 runs of each board test)
//   bench_production store URL N TAG  (a child: stores N records, prints how many)
#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <cstdio>
#include <cstdlib>
#include <memory>

#include "bench/bench_support.h"
#include "production/ResultStore.h"
#include "sim/SimPtyHost.h"
#include "support/pg_server.h"
#include "workers/MonitorThread.h"

namespace {

TestRecord Record(const QString& tag, int i) {
    TestRecord r;
    r.serial = QStringLiteral("%1-%2").arg(tag).arg(i);
    r.station = tag;
    r.started = QDateTime::currentDateTimeUtc();
    r.ended = r.started.addMSecs(2500);
    r.outcome = QStringLiteral("PASS");
    r.limitsName = QStringLiteral("bench");
    for (int ch = 1; ch <= 4; ++ch)
        for (const char* name : {"reference", "noise_pp", "noise_rms", "untouched_diff"}) {
            Measurement m;
            m.name = QLatin1String(name);
            m.channel = ch;
            m.sbf = 1;
            m.value = ch + i;
            m.max = 100000;
            r.measurements << m;
        }
    return r;
}

// Stores n records through one connection; the count stored.
int StoreMany(const QString& url, int n, const QString& tag, double* seconds) {
    StoreTarget t;
    QString error;
    if (!Store_ParseUrl(url, QDir::currentPath(), &t, &error)) return 0;
    ResultStore store;
    if (!store.open(t, &error)) {
        std::fprintf(stderr, "%s\n", qPrintable(error));
        return 0;
    }
    QElapsedTimer timer;
    timer.start();
    int stored = 0;
    for (int i = 0; i < n; ++i) stored += store.store(Record(tag, i), &error) ? 1 : 0;
    *seconds = timer.nsecsElapsed() / 1e9;
    return stored;
}

struct BoardRun {
    bool ok = false;
    double spanMs = 0.0;  // first command byte to last reply byte, board clock
    double wireMs = 0.0;  // every exchange of the run, both ways
    double processMs = 0.0;
};

BoardRun TestBoards(const std::string& cli, std::vector<std::unique_ptr<SimPtyHost>>& hosts, int boards) {
    BoardRun r;
    std::vector<std::string> args = {cli, "test", "--limits", "limits.json", "--db", "sqlite:bench.db"};
    for (int b = 0; b < boards; ++b) {
        hosts[size_t(b)]->clearLog();
        args.insert(args.end(), {"--port", hosts[size_t(b)]->slavePath(), "--serial", "B" + std::to_string(b)});
    }
    QElapsedTimer t;
    t.start();
    bench::Child c = bench::Spawn(args, {}, false);
    if (c.pid < 0) return r;
    int status = 0;
    if (::waitpid(c.pid, &status, 0) != c.pid) return r;
    r.processMs = t.nsecsElapsed() / 1e6;
    r.ok = WIFEXITED(status) && WEXITSTATUS(status) == 0;
    // The first board's wire, which the others share in time.
    double first = -1.0, last = 0.0;
    for (const SimFrame& f : hosts[0]->log()->frames()) {
        const double cmd = bench::WireMs(static_cast<double>(f.body.size()) + 2);
        const double all = bench::WireMs(bench::ExchangeBytes(f));
        if (first < 0) first = f.timeMs - cmd;
        last = f.timeMs + (all - cmd);
        r.wireMs += all;
    }
    r.spanMs = last - first;
    return r;
}

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    if (argc == 5 && qstrcmp(argv[1], "store") == 0) {
        double s = 0.0;
        std::printf("%d\n", StoreMany(QString::fromLocal8Bit(argv[2]), std::atoi(argv[3]),
                                      QString::fromLocal8Bit(argv[4]), &s));
        return 0;
    }
    const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 3;
    const QDir here(QCoreApplication::applicationDirPath());
    const std::string cli = QDir::cleanPath(here.filePath(QStringLiteral("../tkeval-cli"))).toStdString();
    const std::string self = QCoreApplication::applicationFilePath().toStdString();

    QTemporaryDir work;
    if (!work.isValid() || !bench::WriteWorkingFiles(work.path(), "TK2C", false) || !QDir::setCurrent(work.path())) {
        std::fprintf(stderr, "no working directory\n");
        return 1;
    }
    QFile golden(QStringLiteral("golden.sf"));
    QFile limits(QStringLiteral("limits.json"));
    if (!golden.open(QIODevice::WriteOnly) || !limits.open(QIODevice::WriteOnly)) return 1;
    golden.write("w1010\nw1120\nw2040\nw2140\nw2240\nw2340\n");
    golden.close();
    limits.write(
        "{\"format\": \"tkeval limits 1\", \"name\": \"bench\", \"device\": \"TK2C\", \"channels\": [1, 2, 3, 4],\n"
        " \"registers\": \"golden.sf\", \"settle_ms\": 0, \"samples\": 50, \"sbf\": 1,\n"
        " \"limits\": {\"noise_pp\": {\"max\": 10}, \"reference\": {\"min\": 8000, \"max\": 10000}}}\n");
    limits.close();

    std::vector<std::unique_ptr<SimPtyHost>> hosts;
    for (int b = 0; b < 4; ++b) {
        auto h = std::make_unique<SimPtyHost>("TK2C", 8, 4);
        std::string why;
        if (!h->start(std::string(), &why)) {
            std::fprintf(stderr, "simulated board: %s\n", why.c_str());
            return 1;
        }
        h->setNoise(1, 11 + b);
        h->setPacing(true);
        hosts.push_back(std::move(h));
    }

    std::vector<double> ratio, bounded, one, four;
    // The monitor keeps a pause per cycle; each of the 200 samples needs one cycle at least.
    const double pausesMs = 4 * 50 * double(MonitorThread::kCycleIntervalMs);
    for (int i = 0; i < runs; ++i) {
        const BoardRun r1 = TestBoards(cli, hosts, 1);
        const BoardRun r4 = TestBoards(cli, hosts, 4);
        if (!r1.ok || !r4.ok) {
            std::fprintf(stderr, "a board test did not pass\n");
            return 1;
        }
        ratio.push_back(r1.wireMs / r1.spanMs);
        bounded.push_back((r1.wireMs + pausesMs) / r1.spanMs);
        one.push_back(r1.processMs);
        four.push_back(r4.processMs);
        std::printf("board test run %d: wire %.0f ms in %.0f ms; process %.0f ms; four boards %.0f ms\n", i + 1,
                    r1.wireMs, r1.spanMs, r1.processMs, r4.processMs);
    }
    for (auto& h : hosts) h->stop();
    const double rm = bench::Percentile(ratio, 50);
    const double bm = bench::Percentile(bounded, 50);
    bench::Row("production test, 1 board, 4 ch, 50 samples, 9600 baud: (wire + cycle pauses) / test time",
               bench::Fmt("%.3f (median of %.0f, worst %.3f)", bm, runs, bench::Percentile(bounded, 0)), ">= 0.95",
               bench::Verdict(bm >= 0.95));
    bench::Row("  the wire alone / test time (the monitor pauses 50 ms per cycle by design)", bench::Fmt("%.3f", rm),
               "-", "-");
    const double m1 = bench::Percentile(one, 50), m4 = bench::Percentile(four, 50);
    bench::Row("production test, 4 boards at once / 1 board (process time)",
               bench::Fmt("%.0f ms / %.0f ms = %.2f", m4, m1, m4 / m1), "<= 1.1", bench::Verdict(m4 / m1 <= 1.1));

    // Storage: one process, then four at once into the same database.
    PgServer pg;
    QString error;
    const bool havePg = pg.start(&error);
    if (!havePg) std::printf("no PostgreSQL server: %s\n", qPrintable(error));
    QStringList urls = {QStringLiteral("sqlite:store.db")};
    if (havePg) urls << pg.url();
    for (const QString& url : urls) {
        const QString kind =
            url.startsWith(QLatin1String("sqlite")) ? QStringLiteral("SQLite") : QStringLiteral("PostgreSQL");
        double s = 0.0;
        const int n = StoreMany(url, 500, QStringLiteral("solo"), &s);
        bench::Row(("records stored per second, one process, " + kind + " (16 measurements each)").toStdString(),
                   bench::Fmt("%.0f (%.0f records)", n / s, n), "-", "-");
        QElapsedTimer t;
        t.start();
        std::vector<bench::Child> kids;
        for (int k = 0; k < 4; ++k)
            kids.push_back(bench::Spawn({self, "store", url.toStdString(), "250", "p" + std::to_string(k)}, {}, true));
        int stored = 0;
        for (bench::Child& c : kids) {
            char buf[32] = {};
            const ssize_t got = c.out >= 0 ? ::read(c.out, buf, sizeof buf - 1) : -1;
            if (got > 0) stored += std::atoi(buf);
            bench::Reap(c);
        }
        const double secs = t.nsecsElapsed() / 1e9;
        StoreTarget target;
        Store_ParseUrl(url, QDir::currentPath(), &target, &error);
        ResultStore check;
        int rows = -1;
        if (check.open(target, &error)) rows = check.runCount(&error) - n;
        bench::Row(("four processes x 250 records into one " + kind + " database: stored").toStdString(),
                   bench::Fmt("%.0f of 1000 reported, %.0f rows (%.0f records/s)", stored, rows, 1000 / secs),
                   "1000, none lost", bench::Verdict(stored == 1000 && rows == 1000));
    }
    return 0;
}
