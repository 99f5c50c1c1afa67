// tkeval-cli test and results end to end against simulated boards on
// pseudo-terminals: every verdict, the golden-register mismatch, a board
// pulled mid-test, several boards at once with one pulled, and the spool
// when the PostgreSQL server stops during a run.
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <QXmlStreamReader>
#include <QtTest>
#include <memory>

#include "sim/SimPtyHost.h"
#include "support/pg_server.h"

namespace {

struct Run {
    int code = -1;
    QByteArray out;
    QByteArray err;
};

using SimSetup = std::function<void(SimChip&)>;

}  // namespace

class tst_production_cli : public QObject {
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void verdicts_data();
    void verdicts();
    void boardPulledMidTest_storesAnErrorRecord();
    void severalBoards_onePulledDoesNotStopTheOthers();
    void results_printsYieldAndCpk();
    void postgresStoppedMidRun_recordIsSpooledAndStoredNextRun();
    void refusedLimits_sendNothingToTheBoard();
    void touchPhase_followsThePromptsAndJudgesSignalAndSnr();

private:
    std::unique_ptr<SimPtyHost> board(const SimSetup& setup = {});
    QProcess* startCli(const QStringList& args);
    Run finish(QProcess* p, int timeoutMs = 60000);
    Run cli(const QStringList& args) { return finish(startCli(args)); }
    QJsonObject readJson(const QString& name);
    QString path(const QString& name) const { return m_dir->filePath(name); }

    std::unique_ptr<QTemporaryDir> m_dir;
    std::vector<std::unique_ptr<SimPtyHost>> m_sims;
    std::vector<std::unique_ptr<QProcess>> m_procs;
};

void tst_production_cli::init() {
    m_dir = std::make_unique<QTemporaryDir>();
    QVERIFY(m_dir->isValid());
    const auto write = [this](const char* name, const QByteArray& text) {
        QFile f(path(name));
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(text);
    };
    write("system.ini", "[SYSTEM]\nDEVICE=TK2C\nSIZEOFCHANNEL=8\nSIZEOFSBF=4\n");
    write("config.ini", "[I2C]\nI2C_ADDR=B0\n");
    write("golden.sf", "w1010\nw1120\nw2040\nw2141\n");
    write("limits.json",
          "{\"format\": \"tkeval limits 1\", \"name\": \"panel B\", \"device\": \"TK2C\",\n"
          " \"channels\": [1, 2], \"registers\": \"golden.sf\", \"settle_ms\": 100, \"samples\": 6, \"sbf\": 1,\n"
          " \"limits\": {\"reference\": {\"min\": 8000, \"max\": 10000}, \"noise_pp\": {\"max\": 10},\n"
          "            \"noise_rms\": {\"max\": 3}, \"untouched_diff\": {\"min\": -5, \"max\": 5}}}\n");
}

void tst_production_cli::cleanup() {
    for (auto& p : m_procs) {
        if (p->state() != QProcess::NotRunning) {
            p->kill();
            p->waitForFinished();
        }
    }
    m_procs.clear();
    for (auto& s : m_sims) s->stop();
    m_sims.clear();
    m_dir.reset();
}

std::unique_ptr<SimPtyHost> tst_production_cli::board(const SimSetup& setup) {
    auto sim = std::make_unique<SimPtyHost>("TK2C", 8, 4);
    sim->setNoise(1, 7);
    if (setup) sim->withBoard([&](SimBoard& b, uint32_t) { setup(b.chip()); });
    std::string why;
    if (!sim->start(std::string(), &why)) qWarning("simulated board: %s", why.c_str());
    return sim;
}

QProcess* tst_production_cli::startCli(const QStringList& args) {
    auto p = std::make_unique<QProcess>();
    p->setWorkingDirectory(m_dir->path());
    p->start(QStringLiteral(TKEVAL_CLI_EXE), args);
    p->waitForStarted();
    m_procs.push_back(std::move(p));
    return m_procs.back().get();
}

Run tst_production_cli::finish(QProcess* p, int timeoutMs) {
    Run r;
    if (!p->waitForFinished(timeoutMs)) {
        p->kill();
        p->waitForFinished();
        r.err = "did not finish";
        return r;
    }
    r.code = p->exitStatus() == QProcess::NormalExit ? p->exitCode() : -2;
    r.out = p->readAllStandardOutput();
    r.err = p->readAllStandardError();
    if (r.code != 0)
        qInfo("tkeval-cli %s: exit %d: %s", qPrintable(p->arguments().join(' ')), r.code, r.err.constData());
    return r;
}

QJsonObject tst_production_cli::readJson(const QString& name) {
    QFile f(path(name));
    if (!f.open(QIODevice::ReadOnly)) return {};
    return QJsonDocument::fromJson(f.readAll()).object();
}

namespace {

QStringList Failing(const QJsonObject& record) {
    QStringList out;
    for (const QJsonValue& v : record.value("measurements").toArray()) {
        const QJsonObject m = v.toObject();
        if (m.value("outcome").toString() != QLatin1String("PASS"))
            out << QStringLiteral("%1 %2").arg(m.value("channel").toInt()).arg(m.value("name").toString());
    }
    return out;
}

}  // namespace

void tst_production_cli::verdicts_data() {
    QTest::addColumn<SimSetup>("setup");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QString>("outcome");
    QTest::addColumn<QStringList>("failing");
    QTest::addColumn<QString>("mismatched");

    QTest::newRow("pass") << SimSetup() << 0 << "PASS" << QStringList() << "";
    QTest::newRow("noisy channel") << SimSetup([](SimChip& c) { c.setChannelNoise(1, 40); }) << 5 << "FAIL"
                                   << QStringList{"2 noise_pp", "2 noise_rms"} << "";
    QTest::newRow("baseline out of range") << SimSetup([](SimChip& c) {
        for (int k = 0; k < 4; ++k) c.setBaseRef(0, k, 12000);
    }) << 5 << "FAIL" << QStringList{"1 reference"}
                                           << "";
    QTest::newRow("register does not keep its value")
        << SimSetup([](SimChip& c) { c.setStuckRegister(0x21, 0x00); }) << 5 << "FAIL" << QStringList() << "21:41:00";
}

void tst_production_cli::verdicts() {
    QFETCH(SimSetup, setup);
    QFETCH(int, exitCode);
    QFETCH(QString, outcome);
    QFETCH(QStringList, failing);
    QFETCH(QString, mismatched);
    m_sims.push_back(board(setup));
    const QString port = QString::fromStdString(m_sims.back()->slavePath());
    const Run r = cli({"test", "--port", port, "--limits", "limits.json", "--serial", "SN-1", "--station", "S1",
                       "--operator", "Ann", "--record", "rec.json", "--junit", "junit.xml"});
    QCOMPARE(r.code, exitCode);
    QVERIFY2(r.out.startsWith(outcome.toLatin1() + "  SN-1  panel B"), r.out.constData());

    const QJsonObject rec = readJson("rec.json");
    QCOMPARE(rec.value("format").toString(), QStringLiteral("tkeval test record 1"));
    QCOMPARE(rec.value("outcome").toString(), outcome);
    QCOMPARE(rec.value("serial").toString(), QStringLiteral("SN-1"));
    QCOMPARE(rec.value("operator").toString(), QStringLiteral("Ann"));
    QCOMPARE(rec.value("firmware").toString(), QStringLiteral("v3.2"));
    QVERIFY(QRegularExpression("^\\d{4}-\\d\\d-\\d\\dT\\d\\d:\\d\\d:\\d\\d\\.\\d{3}Z$")
                .match(rec.value("started").toString())
                .hasMatch());
    QCOMPARE(rec.value("measurements").toArray().size(), 8);  // four per channel
    // A noisy channel may miss its diff limit too; what must fail, fails, and nothing on the other channel.
    const QStringList failed = Failing(rec);
    for (const QString& f : failing) QVERIFY2(failed.contains(f), qPrintable(failed.join(", ")));
    QCOMPARE(failed.isEmpty(), failing.isEmpty());
    for (const QString& f : failed) QVERIFY2(f.at(0) == failing.value(0).at(0), qPrintable(failed.join(", ")));
    const QJsonObject regs = rec.value("registers").toObject();
    QCOMPARE(regs.value("written").toInt(), 4);
    QStringList bad;
    for (const QJsonValue& v : regs.value("mismatched").toArray())
        bad << QStringLiteral("%1:%2:%3").arg(v["reg"].toString(), v["wrote"].toString(), v["read"].toString());
    QCOMPARE(bad.join(' '), mismatched);
    QCOMPARE(regs.value("verified").toInt(), 4 - bad.size());
    // Failing measurements lead the summary.
    if (!failing.isEmpty()) QVERIFY2(r.out.split('\n').value(1).startsWith("  FAIL SIN"), r.out.constData());

    QFile junit(path("junit.xml"));
    QVERIFY(junit.open(QIODevice::ReadOnly));
    QXmlStreamReader xml(&junit);
    while (!xml.atEnd()) xml.readNext();
    QVERIFY2(!xml.hasError(), qPrintable(xml.errorString()));

    const Run res = cli({"results", "--json"});
    QCOMPARE(res.code, 0);
    const QJsonObject y = QJsonDocument::fromJson(res.out).object();
    QCOMPARE(y.value("runs").toInt(), 1);
    QCOMPARE(y.value(outcome == "PASS" ? "passes" : "fails").toInt(), 1);
}

void tst_production_cli::boardPulledMidTest_storesAnErrorRecord() {
    m_sims.push_back(board());
    SimPtyHost& sim = *m_sims.back();
    QProcess* p = startCli({"test", "--port", QString::fromStdString(sim.slavePath()), "--limits", "limits.json",
                            "--serial", "SN-9", "--record", "rec.json"});
    // Held hands-off collection: a key that reports a touch pauses it, so the
    // pull surely lands mid-test.
    QTRY_VERIFY_WITH_TIMEOUT(sim.selectionEverWritten(0), 30000);
    sim.touch(0);
    sim.hangup();
    const Run r = finish(p);
    QCOMPARE(r.code, 2);
    const QJsonObject rec = readJson("rec.json");
    QCOMPARE(rec.value("outcome").toString(), QStringLiteral("ERROR"));
    QVERIFY2(rec.value("error").toString().contains(QStringLiteral("port")), qPrintable(rec.value("error").toString()));
    QCOMPARE(rec.value("registers").toObject().value("verified").toInt(), 4);

    const Run res = cli({"results", "--json"});
    QCOMPARE(QJsonDocument::fromJson(res.out).object().value("errors").toInt(), 1);
}

void tst_production_cli::severalBoards_onePulledDoesNotStopTheOthers() {
    m_sims.push_back(board());
    m_sims.push_back(board());
    m_sims.push_back(board([](SimChip& c) { c.setChannelNoise(0, 40); }));
    SimPtyHost& pulled = *m_sims[1];
    pulled.touch(1);  // its collection waits, so the pull lands mid-test
    QStringList args = {"test", "--limits", "limits.json", "--json", "--junit", "junit.xml"};
    for (int i = 0; i < 3; ++i)
        args << "--port" << QString::fromStdString(m_sims[size_t(i)]->slavePath()) << "--serial"
             << QStringLiteral("SN-%1").arg(i + 1);
    QProcess* p = startCli(args);
    QTRY_VERIFY_WITH_TIMEOUT(pulled.selectionEverWritten(0), 30000);
    pulled.hangup();
    const Run r = finish(p);
    QCOMPARE(r.code, 2);  // the pulled board's port failure outranks the other's FAIL
    const QJsonArray runs = QJsonDocument::fromJson(r.out).object().value("runs").toArray();
    QCOMPARE(runs.size(), 3);
    QMap<QString, QString> outcome;
    for (const QJsonValue& v : runs) outcome.insert(v["serial"].toString(), v["outcome"].toString());
    QCOMPARE(outcome.value("SN-1"), QStringLiteral("PASS"));
    QCOMPARE(outcome.value("SN-2"), QStringLiteral("ERROR"));
    QCOMPARE(outcome.value("SN-3"), QStringLiteral("FAIL"));

    QFile junit(path("junit.xml"));
    QVERIFY(junit.open(QIODevice::ReadOnly));
    QXmlStreamReader xml(&junit);
    int suites = 0;
    while (!xml.atEnd())
        if (xml.readNext() == QXmlStreamReader::StartElement && xml.name() == QLatin1String("testsuite")) ++suites;
    QVERIFY(!xml.hasError());
    QCOMPARE(suites, 3);

    const Run res = cli({"results", "--json"});
    const QJsonObject y = QJsonDocument::fromJson(res.out).object();
    QCOMPARE(y.value("runs").toInt(), 3);  // each child stored its own record in the one database
}

void tst_production_cli::results_printsYieldAndCpk() {
    m_sims.push_back(board());
    const QString port = QString::fromStdString(m_sims.back()->slavePath());
    for (const char* sn : {"A", "B", "A"})
        QCOMPARE(cli({"test", "--port", port, "--limits", "limits.json", "--serial", sn, "--station", "S2"}).code, 0);
    m_sims.back()->withBoard([](SimBoard& b, uint32_t) { b.chip().setChannelNoise(1, 40); });
    QCOMPARE(cli({"test", "--port", port, "--limits", "limits.json", "--serial", "C", "--station", "S2"}).code, 5);

    const Run text = cli({"results", "--station", "S2"});
    QCOMPARE(text.code, 0);
    QVERIFY2(text.out.startsWith("runs 4, passes 3, fails 1, errors 0\nfirst-pass yield 66.7% (2 of 3 serials)\n"),
             text.out.constData());
    // The noisy channel's noise has the worst capability: it comes first.
    const Run csv = cli({"results", "--csv"});
    const QList<QByteArray> rows = csv.out.split('\n');
    QCOMPARE(rows.value(0), QByteArray("name,channel,count,min,mean,max,stddev,lower,upper,cpk"));
    QVERIFY2(rows.value(1).startsWith("noise_") && rows.value(1).contains(",2,4,"), csv.out.constData());
    QCOMPARE(cli({"results", "--station", "nowhere", "--json"}).out.contains("\"runs\": 0"), true);
    QCOMPARE(cli({"results", "--since", "yesterday"}).code, 1);
}

void tst_production_cli::postgresStoppedMidRun_recordIsSpooledAndStoredNextRun() {
    PgServer pg;
    QString error;
    QVERIFY2(pg.start(&error), qPrintable(error));
    m_sims.push_back(board());
    SimPtyHost& sim = *m_sims.back();
    const QString port = QString::fromStdString(sim.slavePath());
    QProcess* p = startCli({"test", "--port", port, "--limits", "limits.json", "--serial", "SN-S", "--db", pg.url()});
    QTRY_VERIFY_WITH_TIMEOUT(sim.selectionEverWritten(0), 30000);
    sim.touch(0);  // holds the run until the server is gone
    QVERIFY2(pg.stop(&error), qPrintable(error));
    sim.release(0);
    const Run first = finish(p);
    QCOMPARE(first.code, 0);
    QVERIFY2(first.out.contains("spooled to"), first.out.constData());
    QCOMPARE(QDir(path("spool")).entryList(QDir::Files).size(), 1);

    QVERIFY2(pg.start(&error), qPrintable(error));
    const Run second = cli({"test", "--port", port, "--limits", "limits.json", "--serial", "SN-T", "--db", pg.url()});
    QCOMPARE(second.code, 0);
    QVERIFY2(second.out.contains("(1 spooled record stored first)"), second.out.constData());
    QVERIFY(QDir(path("spool")).entryList(QDir::Files).isEmpty());
    const Run res = cli({"results", "--db", pg.url(), "--json"});
    QCOMPARE(QJsonDocument::fromJson(res.out).object().value("passes").toInt(), 2);
}

void tst_production_cli::refusedLimits_sendNothingToTheBoard() {
    m_sims.push_back(board());
    SimPtyHost& sim = *m_sims.back();
    QFile f(path("bad.json"));
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.write(
        "{\"format\": \"tkeval limits 1\", \"name\": \"x\", \"device\": \"TK2C\", \"channels\": [1, 12],\n"
        " \"registers\": \"golden.sf\"}\n");
    f.close();
    sim.clearLog();
    const Run r =
        cli({"test", "--port", QString::fromStdString(sim.slavePath()), "--limits", "bad.json", "--serial", "X"});
    QCOMPARE(r.code, 4);
    QVERIFY2(r.err.contains("bad.json:1:78: channels[1]: channel 12 is outside the device"), r.err.constData());
    QCOMPARE(sim.log()->frames().size(), size_t(0));
    QVERIFY(!QFile::exists(path("results.db")));
}

void tst_production_cli::touchPhase_followsThePromptsAndJudgesSignalAndSnr() {
    QFile f(path("touch.json"));
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.write(
        "{\"format\": \"tkeval limits 1\", \"name\": \"panel T\", \"device\": \"TK2C\", \"channels\": [1, 2],\n"
        " \"registers\": \"golden.sf\", \"samples\": 6, \"limits\": {\"noise_pp\": {\"max\": 10}},\n"
        " \"per_channel\": {\"2\": {\"signal\": {\"min\": 80}}},\n"
        " \"touch\": {\"signal\": {\"min\": 40}, \"snr\": {\"min\": 5}}}\n");
    f.close();
    m_sims.push_back(board());
    SimPtyHost& sim = *m_sims.back();
    QProcess* p = startCli({"test", "--port", QString::fromStdString(sim.slavePath()), "--limits", "touch.json",
                            "--serial", "SN-T", "--touch", "--record", "rec.json"});
    // The operator: touches the key named by each prompt, lets go when asked.
    QByteArray pending;
    QStringList prompts;
    connect(p, &QProcess::readyReadStandardError, this, [&] {
        pending += p->readAllStandardError();
        int eol;
        while ((eol = pending.indexOf('\n')) >= 0) {
            const QString line = QString::fromUtf8(pending.left(eol));
            pending.remove(0, eol + 1);
            prompts << line;
            const QRegularExpressionMatch touch = QRegularExpression("^Touch SIN (\\d+) and hold").match(line);
            const QRegularExpressionMatch release = QRegularExpression("^Release SIN (\\d+)").match(line);
            if (touch.hasMatch()) sim.touch(touch.captured(1).toInt() - 1);
            if (release.hasMatch()) sim.release(release.captured(1).toInt() - 1);
        }
    });
    QTRY_VERIFY_WITH_TIMEOUT(p->state() == QProcess::NotRunning, 60000);
    QCOMPARE(p->exitCode(), 5);  // SIN 2's own signal bound is above the key's level
    QVERIFY2(prompts.contains("Touch SIN 2 and hold"), qPrintable(prompts.join(" | ")));
    const QJsonObject rec = readJson("rec.json");
    QCOMPARE(rec.value("outcome").toString(), QStringLiteral("FAIL"));
    QStringList touchFigures;
    for (const QJsonValue& v : rec.value("measurements").toArray())
        if (v["name"].toString() == "signal" || v["name"].toString() == "snr")
            touchFigures << QStringLiteral("%1 %2 %3")
                                .arg(v["channel"].toInt())
                                .arg(v["name"].toString(), v["outcome"].toString());
    QCOMPARE(touchFigures, (QStringList{"1 signal PASS", "1 snr PASS", "2 signal FAIL", "2 snr PASS"}));
}

QTEST_GUILESS_MAIN(tst_production_cli)
#include "tst_production_cli.moc"
