// tkeval-cli export, diff and report, run as a separate process against the
// simulated board where they need a chip, and on files alone where not.
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtTest>
#include <memory>

#include "sim/SimPtyHost.h"

namespace {

struct Run {
    int code = -1;
    QByteArray out;
    QByteArray err;
};

}  // namespace

class tst_cli_handoff : public QObject {
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void export_fromChip_compilesAndCarriesTheChipsValues();
    void export_fromFile_needsNoBoard();
    void export_refusals_data();
    void export_refusals();
    void diff_files_data();
    void diff_files();
    void diff_againstChip();
    void report_fromFiles();

private:
    Run cli(const QStringList& args);
    void writeFile(const QString& name, const QByteArray& content);
    QByteArray readFile(const QString& name) const;
    QString path(const QString& name) const { return m_dir->filePath(name); }
    void poke(uint8_t reg, uint8_t value);
    uint8_t peek(uint8_t reg);

    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<SimPtyHost> m_sim;
    QString m_port;
};

void tst_cli_handoff::init() {
    m_dir = std::make_unique<QTemporaryDir>();
    QVERIFY(m_dir->isValid());
    writeFile("system.ini", "[SYSTEM]\nDEVICE=TK2C\nSIZEOFCHANNEL=8\nSIZEOFSBF=4\n");
    writeFile("config.ini", "[I2C]\nI2C_ADDR=b0\n");
    // Cells for 0x10-0x13 with awkward hints; 0x12 and 0x13 share one.
    writeFile("hint.txt", QByteArray(16, '\n') + "[Chip */ mode]\n[감도]\n[SIN 1 sens]\n[SIN 1 sens]\n");
    m_sim = std::make_unique<SimPtyHost>("TK2C", 8, 4);
    std::string why;
    QVERIFY2(m_sim->start(std::string(), &why), why.c_str());
    m_port = QString::fromStdString(m_sim->slavePath());
}

void tst_cli_handoff::cleanup() {
    if (m_sim) m_sim->stop();
    m_sim.reset();
    m_dir.reset();
}

Run tst_cli_handoff::cli(const QStringList& args) {
    QProcess p;
    p.setWorkingDirectory(m_dir->path());
    p.start(QStringLiteral(TKEVAL_CLI_EXE), args);
    Run r;
    if (!p.waitForStarted(60000) || !p.waitForFinished(60000)) {
        p.kill();
        p.waitForFinished();
        r.err = "did not finish";
        return r;
    }
    r.code = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -2;
    r.out = p.readAllStandardOutput();
    r.err = p.readAllStandardError();
    return r;
}

void tst_cli_handoff::writeFile(const QString& name, const QByteArray& content) {
    QFile f(path(name));
    QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    f.write(content);
}

QByteArray tst_cli_handoff::readFile(const QString& name) const {
    QFile f(path(name));
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

void tst_cli_handoff::poke(uint8_t reg, uint8_t value) {
    m_sim->withBoard([&](SimBoard& b, uint32_t now) { b.chip().write(reg, 1, &value, now); });
}

uint8_t tst_cli_handoff::peek(uint8_t reg) {
    uint8_t v = 0;
    m_sim->withBoard([&](SimBoard& b, uint32_t) { v = b.chip().peek(reg); });
    return v;
}

void tst_cli_handoff::export_fromChip_compilesAndCarriesTheChipsValues() {
    for (int r = 0x10; r <= 0x13; ++r) poke(static_cast<uint8_t>(r), static_cast<uint8_t>(0x40 + r));
    const Run r = cli({"export", "tuned.h", "--port", m_port, "--prefix", "tk"});
    QVERIFY2(r.code == 0, r.err.constData());

    const QString cc = QStandardPaths::findExecutable("cc");
    if (cc.isEmpty()) QSKIP("no system compiler");
    writeFile("main.c",
              "#include <stdio.h>\n#include \"tuned.h\"\n"
              "int main(void) {\n    unsigned i;\n"
              "    printf(\"%02X %02X %02X %02X %02X\\n\", (unsigned)TK_I2C_ADDR, (unsigned)TK_CHIP_MODE,\n"
              "           (unsigned)TK_REG_11, (unsigned)TK_SIN_1_SENS_12, (unsigned)TK_SIN_1_SENS_13);\n"
              "    for (i = 0; i < TK_REG_VALUE_COUNT; ++i)\n"
              "        printf(\"%02X=%02X\\n\", (unsigned)tk_reg_values[i].reg, (unsigned)tk_reg_values[i].value);\n"
              "    return 0;\n}\n");
    QProcess build;
    build.setWorkingDirectory(m_dir->path());
    build.setProcessChannelMode(QProcess::MergedChannels);
    build.start(cc, {"-std=c99", "-Wall", "-Wextra", "-Werror", "-pedantic", "main.c", "-o", "main"});
    QVERIFY(build.waitForFinished(120000));
    QVERIFY2(build.exitCode() == 0, build.readAll().constData());
    QProcess run;
    run.start(path("main"), {});
    QVERIFY(run.waitForFinished(30000));
    QByteArray want = "B0 10 11 12 13\n";
    for (int reg = 0x10; reg <= 0x13; ++reg)
        want +=
            QByteArray::number(reg, 16).toUpper() + "=" + QByteArray::number(peek(uint8_t(reg)), 16).toUpper() + "\n";
    QCOMPARE(run.readAllStandardOutput(), want);
    QVERIFY(readFile("tuned.h").contains(" * firmware: v3."));
}

void tst_cli_handoff::export_fromFile_needsNoBoard() {
    writeFile("a.sf", "w1001\nw1102\nw1203\nw2004\n");
    Run r = cli({"export", "a.json", "--from", "a.sf", "--format", "json", "--all"});
    QVERIFY2(r.code == 0, r.err.constData());
    const QJsonObject doc = QJsonDocument::fromJson(readFile("a.json")).object();
    const QJsonArray regs = doc.value("registers").toArray();
    QCOMPARE(regs.size(), 4);
    QCOMPARE(regs[3].toObject().value("name").toString(), QStringLiteral("TK2C_REG_20"));
    QCOMPARE(regs[3].toObject().value("value").toString(), QStringLiteral("04"));
    QCOMPARE(doc.value("source").toString(), QStringLiteral("file a.sf"));

    // By default only registers with a cell; 0x13 is not in the file.
    r = cli({"export", "a.h", "--from", "a.sf"});
    QCOMPARE(r.code, 0);
    QVERIFY2(r.err.contains("1 of the 4 registers"), r.err.constData());
    QVERIFY(readFile("a.h").contains("#define TK2C_REG_VALUE_COUNT 3u"));
}

void tst_cli_handoff::export_refusals_data() {
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<int>("code");
    QTest::addColumn<QString>("named");
    QTest::newRow("prefix with a hyphen")
        << QStringList{"export", "x.h", "--from", "a.sf", "--prefix", "my-tk"} << 1 << "my-tk";
    QTest::newRow("prefix with a digit first")
        << QStringList{"export", "x.h", "--from", "a.sf", "--prefix", "2tk"} << 1 << "2tk";
    QTest::newRow("unknown format") << QStringList{"export", "x.h", "--from", "a.sf", "--format", "yaml"} << 1
                                    << "yaml";
    QTest::newRow("malformed file") << QStringList{"export", "x.h", "--from", "bad.sf"} << 4 << "bad.sf: line 2";
    QTest::newRow("prefix on another command") << QStringList{"diff", "a.sf", "--prefix", "tk"} << 1 << "--prefix";
}

void tst_cli_handoff::export_refusals() {
    QFETCH(QStringList, args);
    QFETCH(int, code);
    QFETCH(QString, named);
    writeFile("a.sf", "w1001\n");
    writeFile("bad.sf", "w1001\nw11XY\n");
    writeFile("x.h", "old");
    const Run r = cli(args);
    QCOMPARE(r.code, code);
    QVERIFY2(QString::fromLocal8Bit(r.err).contains(named), r.err.constData());
    QCOMPARE(readFile("x.h"), QByteArray("old"));
}

void tst_cli_handoff::diff_files_data() {
    QTest::addColumn<QByteArray>("a");
    QTest::addColumn<QByteArray>("b");
    QTest::addColumn<int>("code");
    QTest::addColumn<QByteArray>("out");
    QTest::newRow("equal") << QByteArray("w1001\nw1102\n") << QByteArray("; notes\r\nw1102\r\nw1001\r\n") << 0
                           << QByteArray();
    QTest::newRow("different") << QByteArray("w1001\nw1102\nw1203\nw3001\n") << QByteArray("w1001\nw1105\nw1203\n") << 5
                               << QByteArray("11 REG_11 02 05\n30 REG_30 01 --\n");
    QTest::newRow("duplicate hint names") << QByteArray("w1200\nw1300\n") << QByteArray("w1201\nw1301\n") << 5
                                          << QByteArray("12 SIN_1_SENS_12 00 01\n13 SIN_1_SENS_13 00 01\n");
    QTest::newRow("malformed second") << QByteArray("w1001\n") << QByteArray("w1001\nw1\n") << 4 << QByteArray();
}

void tst_cli_handoff::diff_files() {
    QFETCH(QByteArray, a);
    QFETCH(QByteArray, b);
    QFETCH(int, code);
    QFETCH(QByteArray, out);
    writeFile("a.sf", a);
    writeFile("b.sf", b);
    Run r = cli({"diff", "a.sf", "b.sf"});
    QCOMPARE(r.code, code);
    QCOMPARE(r.out, out);
    if (code == 4) {
        QVERIFY2(r.err.contains(path("b.sf").toLocal8Bit() + ": line 2:"), r.err.constData());
        return;
    }
    r = cli({"diff", "a.sf", "b.sf", "--json"});
    QCOMPARE(r.code, code);
    const QJsonObject doc = QJsonDocument::fromJson(r.out).object();
    QCOMPARE(doc.value("equal").toBool(), code == 0);
    QCOMPARE(doc.value("differences").toArray().size(), out.count('\n'));
}

void tst_cli_handoff::diff_againstChip() {
    poke(0x10, 0x01);
    poke(0x11, 0x02);
    writeFile("a.sf", "w1001\nw1107\n");
    Run r = cli({"diff", "a.sf", "--port", m_port});
    QCOMPARE(r.code, 5);
    QCOMPARE(r.out, QByteArray("11 REG_11 07 02\n"));
    QCOMPARE(cli({"load", "a.sf", "--port", m_port}).code, 0);
    r = cli({"diff", "a.sf", "--port", m_port});
    QCOMPARE(r.code, 0);
    QCOMPARE(r.out, QByteArray());
}

void tst_cli_handoff::report_fromFiles() {
    writeFile("t.sf", "w1001\nw2028\n");
    writeFile("snr.csv",
              "# tkeval snr 1\n# date=2026-03-04T05:10:00.000+01:00 device=TK2C firmware=v3.2 i2c=0xB2 margin=0.6\n"
              "channel,sbf,samples_untouched,samples_touched,mean_untouched,noise_pp,noise_rms,signal,snr,min_snr,"
              "pass,sensitivity_now,check_now,sensitivity_recommended,check_recommended\n"
              "1,3,50,50,0.5,4,1.2,60,15,5,yes,32,safe,36,safe\n");
    Run r = cli({"report", "-o", "r.html", "--snr", "snr.csv", "--regs", "t.sf", "--note", "bench <3>"});
    QVERIFY2(r.code == 0, r.err.constData());
    const QByteArray html = readFile("r.html");
    QVERIFY(html.contains("bench &lt;3&gt;"));
    QVERIFY(html.contains("0xB2"));
    QVERIFY(html.contains("data-reg=\"20\""));
    QVERIFY(html.contains("<tr data-key=\"1\">"));

    // A bad input leaves the old report alone.
    writeFile("snr.csv", "# tkeval snr 1\n# date=x\n");
    r = cli({"report", "-o", "r.html", "--snr", "snr.csv"});
    QCOMPARE(r.code, 4);
    QVERIFY2(r.err.contains("snr.csv: line 2"), r.err.constData());
    QCOMPARE(readFile("r.html"), html);
    QCOMPARE(cli({"report", "--snr", "snr.csv"}).code, 1);
}

QTEST_GUILESS_MAIN(tst_cli_handoff)
#include "tst_cli_handoff.moc"
