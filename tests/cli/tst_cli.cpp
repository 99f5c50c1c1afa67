// tkeval-cli run as a separate process against the simulated board on a
// pseudo-terminal: what goes over the wire, what comes out, and the exit code
// of each kind of failure.
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>
#include <csignal>
#include <memory>

#include "sim/SimPtyHost.h"

namespace {

struct Run {
    int code = -1;
    QByteArray out;
    QByteArray err;
};

}  // namespace

class tst_cli : public QObject {
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void read_sendsRunsOfEightAndPrintsEachRegister();
    void write_sendsOneFramePerRegisterAndReadsBack();
    void dumpThenLoad_restoresTheRegisters();
    void load_appliesTheWindowsSkipRules();
    void load_strictRefusesBeforeWriting();
    void commandLine_data();
    void commandLine();
    void completion_data();
    void completion();
    void monitor_closedStdoutEndsQuietly_data();
    void monitor_closedStdoutEndsQuietly();
    void failures_data();
    void failures();
    void info_json();
    void monitor_rowsEqualTheSimulatedValuesAndCtrlCEndsCleanly();
    void monitor_chipMissingOneProbe_goesOn();
    void snr_measuresNoiseAndTouchLevel();
    void autosen_proposesAndWritesOnlyWhenAsked_data();
    void autosen_proposesAndWritesOnlyWhenAsked();
    void binary_linksNoGuiLibrary();

private:
    Run cli(const QStringList& args, int timeoutMs = 60000);
    void writeWorkFiles(int addr = 0xB0);
    QString path(const QString& name) const { return m_dir->filePath(name); }
    uint8_t peek(uint8_t reg);

    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<SimPtyHost> m_sim;
    QString m_port;
};

void tst_cli::init() {
    m_dir = std::make_unique<QTemporaryDir>();
    QVERIFY(m_dir->isValid());
    writeWorkFiles();
    m_sim = std::make_unique<SimPtyHost>("TK2C", 8, 4);
    std::string why;
    QVERIFY2(m_sim->start(std::string(), &why), why.c_str());
    m_sim->setNoise(0, 1);
    m_port = QString::fromStdString(m_sim->slavePath());
}

void tst_cli::cleanup() {
    if (m_sim) m_sim->stop();
    m_sim.reset();
    m_dir.reset();
}

void tst_cli::writeWorkFiles(int addr) {
    QFile sys(path("system.ini"));
    QVERIFY(sys.open(QIODevice::WriteOnly));
    sys.write("[SYSTEM]\nDEVICE=TK2C\nSIZEOFCHANNEL=8\nSIZEOFSBF=4\n");
    QFile cfg(path("config.ini"));
    QVERIFY(cfg.open(QIODevice::WriteOnly));
    cfg.write(QStringLiteral("[I2C]\nI2C_ADDR=%1\n").arg(addr, 2, 16).toLatin1());
    // Cells for the writable settings 0x10-0x1F only.
    QFile hint(path("hint.txt"));
    QVERIFY(hint.open(QIODevice::WriteOnly));
    for (int a = 0; a < 0x20; ++a) hint.write(a >= 0x10 ? QByteArray("[R") + QByteArray::number(a, 16) + "]\n" : "\n");
}

Run tst_cli::cli(const QStringList& args, int timeoutMs) {
    QProcess p;
    p.setWorkingDirectory(m_dir->path());
    p.start(QStringLiteral(TKEVAL_CLI_EXE), args);
    Run r;
    if (!p.waitForStarted(timeoutMs) || !p.waitForFinished(timeoutMs)) {
        p.kill();
        p.waitForFinished();
        r.err = "did not finish";
        return r;
    }
    r.code = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -2;
    r.out = p.readAllStandardOutput();
    r.err = p.readAllStandardError();
    if (r.code != 0) qInfo("tkeval-cli %s: exit %d: %s", qPrintable(args.join(' ')), r.code, r.err.constData());
    return r;
}

uint8_t tst_cli::peek(uint8_t reg) {
    uint8_t v = 0;
    m_sim->withBoard([&](SimBoard& b, uint32_t) { v = b.chip().peek(reg); });
    return v;
}

void tst_cli::read_sendsRunsOfEightAndPrintsEachRegister() {
    m_sim->withBoard([](SimBoard& b, uint32_t now) {
        for (int r = 0x10; r < 0x1A; ++r) {
            const uint8_t v = static_cast<uint8_t>(0xA0 + r);
            b.chip().write(static_cast<uint8_t>(r), 1, &v, now);
        }
    });
    m_sim->clearLog();
    const Run r = cli({"read", "0x10", "10", "--port", m_port});
    QCOMPARE(r.code, 0);
    QByteArray want;
    for (int reg = 0x10; reg < 0x1A; ++reg)
        want += QByteArray::number(reg, 16).toUpper() + ": " + QByteArray::number(0xA0 + reg, 16).toUpper() + "\n";
    QCOMPARE(r.out, want);

    // After the connect (version, family, probe): one 8-register and one
    // 2-register read at the configured address.
    QList<QByteArray> reads;
    for (const SimFrame& f : m_sim->log()->frames())
        if (f.letter == 'R') reads.append(QByteArray::fromStdString(f.body));
    QVERIFY(reads.size() >= 3);
    QCOMPARE(reads.mid(reads.size() - 2), (QList<QByteArray>{"CRB01008", "CRB01802"}));
    QCOMPARE(m_sim->log()->count('V'), size_t(1));
    QCOMPARE(m_sim->log()->count('D'), size_t(1));
}

void tst_cli::write_sendsOneFramePerRegisterAndReadsBack() {
    m_sim->clearLog();
    const Run r = cli({"--port", m_port, "write", "20", "0x0A", "b", "FF"});
    QCOMPARE(r.code, 0);
    QCOMPARE(r.out, QByteArray("20: 0A\n21: 0B\n22: FF\n"));
    QList<QByteArray> writes;
    for (const SimFrame& f : m_sim->log()->frames())
        if (f.letter == 'W') writes.append(QByteArray::fromStdString(f.body));
    QCOMPARE(writes, (QList<QByteArray>{"CWB020010A", "CWB021010B", "CWB02201FF"}));
    QCOMPARE(peek(0x21), uint8_t(0x0B));
    // The read-back covers the three registers in one run.
    QCOMPARE(QByteArray::fromStdString(m_sim->log()->frames().back().body), QByteArray("CRB02003"));

    m_sim->clearLog();
    QCOMPARE(cli({"--port", m_port, "--no-verify", "write", "20", "1"}).code, 0);
    QCOMPARE(m_sim->log()->frames().back().letter, 'W');
}

void tst_cli::dumpThenLoad_restoresTheRegisters() {
    const Run full = cli({"dump", "--port", m_port});
    QCOMPARE(full.code, 0);
    const QList<QByteArray> lines = full.out.split('\n');
    QCOMPARE(lines.size(), 257);  // 256 lines and the end
    QCOMPARE(lines[0x2A].left(3), QByteArray("w2A"));
    QCOMPARE(lines[0x2A].size(), 5);

    QCOMPARE(cli({"--port", m_port, "write", "10", "11", "22", "33"}).code, 0);
    const Run saved = cli({"dump", "--hinted", "regs.sf", "--port", m_port});
    QCOMPARE(saved.code, 0);
    QFile f(path("regs.sf"));
    QVERIFY(f.open(QIODevice::ReadOnly));
    const QByteArray content = f.readAll();
    QVERIFY(content.startsWith("w1011\nw1122\nw1233\nw13"));
    QCOMPARE(content.count('\n'), 16);

    QCOMPARE(cli({"--port", m_port, "write", "10", "0", "0", "0"}).code, 0);
    const Run loaded = cli({"--port", m_port, "load", "regs.sf"});
    QCOMPARE(loaded.code, 0);
    QCOMPARE(loaded.out, QByteArray("16 registers written, 0 lines skipped\n"));
    QCOMPARE(peek(0x10), uint8_t(0x11));
    QCOMPARE(peek(0x12), uint8_t(0x33));

    // A whole dump sets read-only registers too, which the read-back catches
    // once the chip's own values have moved on.
    QFile all(path("all.sf"));
    QVERIFY(all.open(QIODevice::WriteOnly));
    all.write(QByteArray(full.out).replace(
        0xC0 * 6, 6, "wC0" + QByteArray::number(peek(0xC0) ^ 0x5A, 16).rightJustified(2, '0') + "\n"));
    all.close();
    const Run strict = cli({"--port", m_port, "load", "all.sf"});
    QCOMPARE(strict.code, 3);
    QVERIFY2(strict.err.contains("register C0") && strict.err.contains("read back"), strict.err.constData());
    QCOMPARE(cli({"--port", m_port, "load", "all.sf", "--no-verify"}).code, 0);
}

void tst_cli::load_appliesTheWindowsSkipRules() {
    QFile f(path("mixed.sf"));
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.write("; settings\nW1099\nw1005\n\nw11\r\nw127\n");
    f.close();
    const Run r = cli({"--port", m_port, "load", "mixed.sf"});
    QCOMPARE(r.code, 0);
    QCOMPARE(r.out, QByteArray("3 registers written, 3 lines skipped\n"));
    QCOMPARE(peek(0x10), uint8_t(0x05));
    QCOMPARE(peek(0x11), uint8_t(0x00));
    QCOMPARE(peek(0x12), uint8_t(0x07));

    // A line that looks like a write but is not one: skipped as the window
    // skips it, named in a warning, and the load succeeds.
    QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    f.write("w1001\nwZZ01\nw1102\n");
    f.close();
    const Run bad = cli({"--port", m_port, "load", "mixed.sf"});
    QCOMPARE(bad.code, 0);
    QVERIFY2(bad.err.contains("warning") && bad.err.contains("line 2"), bad.err.constData());
    QCOMPARE(peek(0x11), uint8_t(0x02));
}

void tst_cli::load_strictRefusesBeforeWriting() {
    QFile f(path("bad.sf"));
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.write("w1001\nwZZ01\n; note\nw1102\nw12G7\nw13\n");
    f.close();
    m_sim->clearLog();
    const Run strict = cli({"--port", m_port, "--strict", "load", "bad.sf"});
    QCOMPARE(strict.code, 4);
    QCOMPARE(strict.err.trimmed().count('\n'), 0);
    QVERIFY2(strict.err.contains("lines 2, 5") && strict.err.contains("bad.sf"), strict.err.constData());
    QCOMPARE(m_sim->log()->count('W'), size_t(0));
    QCOMPARE(peek(0x11), uint8_t(0x00));

    // Without --strict: every bad line named, the rest written.
    const Run loose = cli({"--port", m_port, "load", "bad.sf"});
    QCOMPARE(loose.code, 0);
    const QList<QByteArray> warnings = loose.err.trimmed().split('\n');
    QCOMPARE(warnings.size(), 2);
    QVERIFY2(warnings[0].contains("line 2") && warnings[1].contains("line 5"), loose.err.constData());
    QCOMPARE(loose.out, QByteArray("3 registers written, 3 lines skipped\n"));
    QCOMPARE(peek(0x11), uint8_t(0x02));

    // A good file loads under --strict as without it.
    QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    f.write("w1105\n; note\n");
    f.close();
    QCOMPARE(cli({"--port", m_port, "load", "--strict", "bad.sf"}).code, 0);
    QCOMPARE(peek(0x11), uint8_t(0x05));
}

void tst_cli::failures_data() {
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<QString>("setup");
    QTest::addColumn<int>("code");
    QTest::addColumn<QString>("named");  // what the stderr line must name; @ = the port

    QTest::newRow("no port given") << QStringList{"read", "10"} << "" << 1 << "--port";
    QTest::newRow("unknown command") << QStringList{"frob", "--port", "@"} << "" << 1 << "frob";
    QTest::newRow("register out of range") << QStringList{"read", "1FF", "--port", "@"} << "" << 1 << "1FF";
    QTest::newRow("read past FF") << QStringList{"read", "F8", "9", "--port", "@"} << "" << 1 << "F8";
    QTest::newRow("option of another command")
        << QStringList{"read", "10", "--hinted", "--port", "@"} << "" << 1 << "--hinted";
    QTest::newRow("missing port") << QStringList{"info", "--port", "/nonexistent/tty"} << "" << 2 << "/nonexistent/tty";
    QTest::newRow("absent chip") << QStringList{"read", "10", "--addr", "B4", "--port", "@"} << "" << 3 << "B4";
    QTest::newRow("info, absent chip") << QStringList{"info", "--addr", "B4", "--port", "@"} << "" << 3 << "B4";
    QTest::newRow("silent board") << QStringList{"read", "10", "--port", "@"} << "silent" << 3 << "@";
    QTest::newRow("old firmware") << QStringList{"info", "--port", "@"} << "v40" << 3 << "v4.0";
    QTest::newRow("read-only register") << QStringList{"write", "C0", "1", "--port", "@"} << "" << 3 << "C0";
    QTest::newRow("load, no such file") << QStringList{"load", "none.sf", "--port", "@"} << "" << 4 << "none.sf";
    QTest::newRow("dump, unwritable file")
        << QStringList{"dump", "/nonexistent/x.sf", "--port", "@"} << "" << 4 << "/nonexistent/x.sf";
    QTest::newRow("search, none answers") << QStringList{"search", "--port", "@"} << "addr 50" << 3 << "B0";
}

void tst_cli::failures() {
    QFETCH(QStringList, args);
    QFETCH(QString, setup);
    QFETCH(int, code);
    QFETCH(QString, named);
    if (setup == QLatin1String("silent")) m_sim->setSilent(true);
    if (setup == QLatin1String("v40")) m_sim->setVersion(40);
    if (setup == QLatin1String("addr 50")) m_sim->setAddr(0x50);
    args.replaceInStrings(QStringLiteral("@"), m_port);
    named.replace(QLatin1Char('@'), m_port);

    const Run r = cli(args);
    QCOMPARE(r.code, code);
    const QList<QByteArray> lines = r.err.trimmed().split('\n');
    QCOMPARE(lines.size(), 1);
    QVERIFY2(r.err.contains(named.toLocal8Bit()), r.err.constData());
}

void tst_cli::info_json() {
    m_sim->setVersion(37);
    const Run r = cli({"--json", "info", "--port", m_port});
    QCOMPARE(r.code, 0);
    const QJsonObject o = QJsonDocument::fromJson(r.out).object();
    QCOMPARE(o.value("firmware").toString(), QStringLiteral("v3.7"));
    QCOMPARE(o.value("family").toInt(), 4);
    QCOMPARE(o.value("channels").toInt(), 8);
    QCOMPARE(o.value("address").toString(), QStringLiteral("B0"));
    QCOMPARE(o.value("chip_answers").toBool(), true);
    QCOMPARE(o.value("exit_code").toInt(), 0);

    m_sim->setVersion(40);
    QCOMPARE(cli({"--any-firmware", "info", "--port", m_port}).code, 0);
}

void tst_cli::autosen_proposesAndWritesOnlyWhenAsked_data() {
    QTest::addColumn<bool>("held");
    QTest::addColumn<bool>("write");
    QTest::addColumn<int>("code");
    QTest::newRow("held, proposal only") << true << false << 0;
    QTest::newRow("held, --write") << true << true << 0;
    QTest::newRow("not touched: too few samples") << false << true << 5;
}

// The key held at a difference of 50: the margin (0.6 unless config.ini
// says otherwise) gives 30 = 0x1E. The register holds the run's own value
// while sampling and goes back unless the proposal is written.
void tst_cli::autosen_proposesAndWritesOnlyWhenAsked() {
    QFETCH(bool, held);
    QFETCH(bool, write);
    QFETCH(int, code);
    const uint8_t reg = 0x22;  // family 4: 0x20 + channel
    const uint8_t before = peek(reg);
    m_sim->setLevel(2, 50);
    if (held) m_sim->touch(2);
    QStringList args{"autosen", "3", "--port", m_port, "--json"};
    if (write) args << "--write";
    const Run r = cli(args);
    QVERIFY2(r.code == code, r.err.constData());
    if (code != 0) {
        QVERIFY(r.err.contains("SIN 3"));
        QCOMPARE(peek(reg), before);
        return;
    }
    const QJsonObject doc = QJsonDocument::fromJson(r.out).object();
    QCOMPARE(doc.value("sensitivity").toString(), QStringLiteral("1E"));
    QVERIFY(doc.value("samples").toInt() >= 5);
    QCOMPARE(doc.value("written").toBool(), write);
    QCOMPARE(peek(reg), write ? uint8_t(0x1E) : before);
}

// A chip that misses one probe (the board's thread held up on a busy PC)
// and answers the next must not end a live command.
void tst_cli::monitor_chipMissingOneProbe_goesOn() {
    QProcess p;
    p.setWorkingDirectory(m_dir->path());
    p.start(QStringLiteral(TKEVAL_CLI_EXE), {"monitor", "--channels", "1", "--csv", "-", "--port", m_port});
    QByteArray out;
    QObject::connect(&p, &QProcess::readyReadStandardOutput, [&] { out += p.readAllStandardOutput(); });
    QTRY_VERIFY_WITH_TIMEOUT(out.count(",sample,1,") >= 2, 30000);
    // Silent until a probe has gone unanswered.
    const auto probes = [this] {
        int n = 0;
        for (const SimFrame& f : m_sim->log()->frames()) n += f.body == "CRB00001" && f.status == 0;
        return n;
    };
    m_sim->setSilent(true);
    QTRY_VERIFY_WITH_TIMEOUT(probes() > 0, 10000);
    m_sim->setSilent(false);
    const int before = int(out.count(",sample,1,"));
    QTRY_VERIFY_WITH_TIMEOUT(out.count(",sample,1,") >= before + 3 || p.state() == QProcess::NotRunning, 30000);
    QVERIFY2(p.state() == QProcess::Running, p.readAllStandardError().constData());
    ::kill(static_cast<pid_t>(p.processId()), SIGINT);
    QVERIFY(p.waitForFinished(30000));
    QCOMPARE(p.exitCode(), 0);
}

void tst_cli::monitor_rowsEqualTheSimulatedValuesAndCtrlCEndsCleanly() {
    // At the line's real 9600 baud. Unpaced, monitoring moves four times the
    // bytes any board can, and a busy machine that holds the program back
    // for a quarter of a second lets the receive ring lap over the touch
    // frame this test waits for.
    m_sim->setPacing(true);
    const std::unique_ptr<SimPtyHost, void (*)(SimPtyHost*)> unpaced(m_sim.get(),
                                                                     [](SimPtyHost* s) { s->setPacing(false); });
    m_sim->setLevel(1, 80);
    m_sim->touch(1);
    QProcess p;
    p.setWorkingDirectory(m_dir->path());
    p.start(QStringLiteral(TKEVAL_CLI_EXE), {"monitor", "--channels", "1-2", "--csv", "-", "--port", m_port});
    QByteArray out;
    QObject::connect(&p, &QProcess::readyReadStandardOutput, [&] { out += p.readAllStandardOutput(); });
    QTRY_VERIFY_WITH_TIMEOUT(out.count(",sample,2,") >= 8, 30000);
    // A key outside the monitored ones still gives a touch row.
    m_sim->touch(4);
    QTRY_VERIFY_WITH_TIMEOUT(out.contains(",touch,,,,,,,0012,"), 30000);
    ::kill(static_cast<pid_t>(p.processId()), SIGINT);
    QVERIFY(p.state() == QProcess::NotRunning || p.waitForFinished(30000));
    out += p.readAllStandardOutput();
    QCOMPARE(p.exitStatus(), QProcess::NormalExit);
    QCOMPARE(p.exitCode(), 0);

    QVERIFY(out.startsWith("# tkeval log 1\n"));
    QVERIFY(out.endsWith('\n'));
    const QList<QByteArray> lines = out.split('\n');
    int samples = 0;
    for (const QByteArray& line : lines.mid(3)) {
        if (line.isEmpty()) continue;
        const QList<QByteArray> f = line.split(',');
        QCOMPARE(f.size(), 11);
        if (f[2] == "touch") continue;
        QCOMPARE(f[2], QByteArray("sample"));
        const int ch = f[3].toInt() - 1;
        const int sbf = f[4].toInt() - 1;
        QVERIFY(ch == 0 || ch == 1);
        SimSensing want;
        m_sim->withBoard([&](SimBoard& b, uint32_t) { want = b.chip().intended(ch, sbf); });
        QCOMPARE(f[5].toInt(), want.ref);
        QCOMPARE(f[6].toInt(), want.sense);
        QCOMPARE(f[7].toInt(), want.diff);
        QCOMPARE(f[8].toInt(), want.offset);
        ++samples;
    }
    QVERIFY(samples >= 16);
    // The port was closed: the next run opens it at once.
    QCOMPARE(cli({"read", "0", "--port", m_port}).code, 0);
}

void tst_cli::snr_measuresNoiseAndTouchLevel() {
    m_sim->setNoise(3, 7);
    m_sim->setLevel(0, 60);
    for (const bool byChip : {true, false}) {
        QProcess p;
        p.setWorkingDirectory(m_dir->path());
        p.start(QStringLiteral(TKEVAL_CLI_EXE),
                {"snr", "--channels", "1", "--samples", "12", "--min", "4", "--report", "snr.csv", "--port", m_port});
        QByteArray err;
        QObject::connect(&p, &QProcess::readyReadStandardError, [&] { err += p.readAllStandardError(); });
        QTRY_VERIFY_WITH_TIMEOUT(err.contains("Touch SIN 1 and hold"), 30000);
        if (byChip) {
            m_sim->touch(0);
            QTRY_VERIFY_WITH_TIMEOUT(err.contains("Release SIN 1"), 30000);
            m_sim->release(0);
        } else {
            // Enter starts the touch phase with no finger on the key: no signal.
            p.write("\n");
            QTRY_VERIFY_WITH_TIMEOUT(err.contains("Release SIN 1"), 30000);
        }
        // It may have ended already while the events above were handled.
        QVERIFY2(p.state() == QProcess::NotRunning || p.waitForFinished(30000), err.constData());
        err += p.readAllStandardError();
        if (!byChip) {
            QCOMPARE(p.exitCode(), 5);
            QVERIFY2(err.contains("SIN 1: SNR"), err.constData());
            continue;
        }
        QCOMPARE(p.exitCode(), 0);
        QFile report(path("snr.csv"));
        QVERIFY(report.open(QIODevice::ReadOnly));
        const QList<QByteArray> lines = report.readAll().split('\n');
        QVERIFY(lines[0].startsWith("# tkeval snr 1"));
        const QList<QByteArray> cols = lines[2].split(',');
        const QList<QByteArray> row = lines[3].split(',');
        const auto value = [&](const char* name) { return row.value(cols.indexOf(name)).toDouble(); };
        QCOMPARE(value("channel"), 1.0);
        QCOMPARE(value("samples_touched"), 12.0);
        QVERIFY2(qAbs(value("signal") - 60) <= 6, lines[3].constData());
        QVERIFY2(value("noise_pp") > 0 && value("noise_pp") <= 6, lines[3].constData());
        QVERIFY(value("snr") >= 4);
    }
}

// Answers that need no board: the parser's forms, help and usage errors.
void tst_cli::commandLine_data() {
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<int>("code");
    QTest::addColumn<QString>("out");  // must contain
    QTest::addColumn<QString>("err");  // must contain; "" = stderr empty

    QTest::newRow("--help") << QStringList{"--help"} << 0 << "load FILE"
                            << "";
    QTest::newRow("-h after a command") << QStringList{"read", "-h"} << 0 << "read REG [COUNT]"
                                        << "";
    QTest::newRow("help COMMAND") << QStringList{"help", "load"} << 0 << "--strict"
                                  << "";
    QTest::newRow("COMMAND --help") << QStringList{"monitor", "--help"} << 0 << "--csv FILE|-"
                                    << "";
    QTest::newRow("command help leaves others out") << QStringList{"help", "read"} << 0 << "--port PATH"
                                                    << "";
    QTest::newRow("help of nothing known") << QStringList{"help", "frob"} << 1 << ""
                                           << "frob";
    QTest::newRow("--version") << QStringList{"--version"} << 0 << "tkeval-cli "
                               << "";
    QTest::newRow("nothing") << QStringList{} << 1 << ""
                             << "no command given";
    QTest::newRow("unknown option") << QStringList{"read", "10", "--frob=1"} << 1 << ""
                                    << "unknown option --frob=1";
    QTest::newRow("flag with a value") << QStringList{"--json=1", "ports"} << 1 << ""
                                       << "--json takes no value";
    QTest::newRow("value missing") << QStringList{"read", "10", "--port"} << 1 << ""
                                   << "--port needs a value";
    QTest::newRow("value joined by =") << QStringList{"read", "10", "--port=/nonexistent/tty"} << 2 << ""
                                       << "/nonexistent/tty";
    QTest::newRow("-- ends the options") << QStringList{"read", "--port", "/nonexistent/tty", "--", "--1"} << 1 << ""
                                         << "REG '--1': not a hex byte";
    QTest::newRow("too few arguments") << QStringList{"write", "10", "--port", "/nonexistent/tty"} << 1 << ""
                                       << "'write' needs more arguments";
    QTest::newRow("too many arguments") << QStringList{"info", "x", "--port", "/nonexistent/tty"} << 1 << ""
                                        << "'info': unexpected argument 'x'";
    QTest::newRow("--strict on write") << QStringList{"write", "10", "1", "--strict"} << 1 << ""
                                       << "option --strict does not apply to 'write'";
    QTest::newRow("--json usage error") << QStringList{"--json", "frob"} << 1 << "\"exit_code\": 1"
                                        << "frob";
}

void tst_cli::commandLine() {
    QFETCH(QStringList, args);
    QFETCH(int, code);
    QFETCH(QString, out);
    QFETCH(QString, err);
    const Run r = cli(args);
    QCOMPARE(r.code, code);
    QVERIFY2(r.out.contains(out.toLocal8Bit()), r.out.constData());
    if (err.isEmpty())
        QVERIFY2(r.err.isEmpty(), r.err.constData());
    else
        QVERIFY2(r.err.contains(err.toLocal8Bit()) && r.err.trimmed().count('\n') == 0, r.err.constData());
    if (args.contains("help") && args.size() == 2 && code == 0) {
        // One command's help names its own options, not another's.
        QVERIFY(!r.out.contains("--hinted"));
        QVERIFY(r.out.contains("Usage: tkeval-cli"));
    }
}

// The installed bash completion, run as bash would on a partial line; COMPREPLY
// joined by spaces. The words start with the program's path.
void tst_cli::completion_data() {
    QTest::addColumn<QStringList>("words");
    QTest::addColumn<QStringList>("offered");
    QTest::addColumn<QStringList>("notOffered");

    QTest::newRow("commands") << QStringList{""} << QStringList{"ports", "load", "monitor", "help"}
                              << QStringList{"--port"};
    QTest::newRow("command prefix") << QStringList{"re"} << QStringList{"read", "reset"} << QStringList{"write"};
    QTest::newRow("after a global option")
        << QStringList{"--port", "/dev/null", "du"} << QStringList{"dump"} << QStringList{};
    QTest::newRow("a command's options") << QStringList{"load", "--"}
                                         << QStringList{"--strict", "--no-verify", "--port"}
                                         << QStringList{"--hinted", "--csv"};
    QTest::newRow("options before the command")
        << QStringList{"--"} << QStringList{"--csv", "--port", "--json"} << QStringList{};
    QTest::newRow("port from the list") << QStringList{"--port", ""} << QStringList{"@"} << QStringList{};
    QTest::newRow("port by path") << QStringList{"info", "--port", "/dev/nul"} << QStringList{"/dev/null"}
                                  << QStringList{};
    QTest::newRow("port joined by =") << QStringList{"info", "--port", "=", ""} << QStringList{"@"} << QStringList{};
    QTest::newRow("port in one word with =")
        << QStringList{"info", "--port=/dev/nul"} << QStringList{"--port=/dev/null"} << QStringList{};
    QTest::newRow("a file to load") << QStringList{"load", "reg"} << QStringList{"regs.sf"} << QStringList{"read"};
    QTest::newRow("no file for read") << QStringList{"read", "reg"} << QStringList{} << QStringList{"regs.sf"};
    QTest::newRow("help topics") << QStringList{"help", "mo"} << QStringList{"monitor"} << QStringList{};
}

void tst_cli::completion() {
    QFETCH(QStringList, words);
    QFETCH(QStringList, offered);
    QFETCH(QStringList, notOffered);
    // The port list holds config.ini's EXTRA ports: the simulated board's.
    QFile cfg(path("config.ini"));
    QVERIFY(cfg.open(QIODevice::Append));
    cfg.write(QStringLiteral("[PORT]\nEXTRA=%1\n").arg(m_port).toLocal8Bit());
    cfg.close();
    QFile(path("regs.sf")).open(QIODevice::WriteOnly);
    offered.replaceInStrings(QStringLiteral("@"), m_port);

    // bash -c CODE NAME ARGS: NAME is $0, ARGS are "$@".
    QProcess bash;
    bash.setWorkingDirectory(m_dir->path());
    bash.start(QStringLiteral("bash"),
               QStringList{"-c",
                           "source \"$0\" && COMP_WORDS=(\"$@\") && COMP_CWORD=$(($# - 1)) && _tkeval_cli && "
                           "echo \"${COMPREPLY[*]}\"",
                           QStringLiteral(TKEVAL_SOURCE_DIR "/packaging/tkeval-cli.bash-completion"),
                           QStringLiteral(TKEVAL_CLI_EXE)} +
                   words);
    QVERIFY(bash.waitForFinished(60000));
    QCOMPARE(bash.exitCode(), 0);
    const QStringList got = QString::fromLocal8Bit(bash.readAllStandardOutput()).trimmed().split(QLatin1Char(' '));
    for (const QString& w : offered) QVERIFY2(got.contains(w), qPrintable(w + " not in " + got.join(' ')));
    for (const QString& w : notOffered) QVERIFY2(!got.contains(w), qPrintable(w + " in " + got.join(' ')));
    if (offered.isEmpty()) QCOMPARE(got, QStringList{QString()});
}

// "monitor --csv - | head": the reader leaves, the stream ends, nothing is
// reported and the exit code is 0; also when it leaves before the header.
void tst_cli::monitor_closedStdoutEndsQuietly_data() {
    QTest::addColumn<QString>("lines");
    QTest::newRow("after some rows") << "5";
    QTest::newRow("at once") << "0";
}

void tst_cli::monitor_closedStdoutEndsQuietly() {
    QFETCH(QString, lines);
    QProcess monitor;
    QProcess head;
    monitor.setWorkingDirectory(m_dir->path());
    monitor.setStandardOutputProcess(&head);
    head.setStandardOutputFile(QProcess::nullDevice());
    head.start(QStringLiteral("head"), {"-n", lines});
    monitor.start(QStringLiteral(TKEVAL_CLI_EXE), {"monitor", "--csv", "-", "--port", m_port});
    QVERIFY(head.waitForFinished(60000));
    QVERIFY(monitor.waitForFinished(60000));
    const QByteArray err = monitor.readAllStandardError();
    QCOMPARE(monitor.exitStatus(), QProcess::NormalExit);
    QVERIFY2(monitor.exitCode() == 0, err.constData());
    QVERIFY2(err.isEmpty(), err.constData());
    // The port was closed on the way out.
    QCOMPARE(cli({"read", "0", "--port", m_port}).code, 0);
}

void tst_cli::binary_linksNoGuiLibrary() {
    QProcess p;
    p.start(QStringLiteral("readelf"), {"-d", QStringLiteral(TKEVAL_CLI_EXE)});
    QVERIFY(p.waitForFinished(30000));
    const QByteArray dyn = p.readAllStandardOutput();
    QVERIFY2(dyn.contains("libQt6Core"), dyn.constData());
    for (const char* lib : {"libQt6Widgets", "libQt6Gui", "libQt6OpenGL", "libX11", "libxcb"})
        QVERIFY2(!dyn.contains(lib), lib);
}

QTEST_GUILESS_MAIN(tst_cli)
#include "tst_cli.moc"
