#include "cli/CliProduction.h"

#include <QJsonDocument>
#include <QSaveFile>
#include <QSysInfo>
#include <cmath>
#include <cstdio>

#include "app/limits.h"
#include "cli/CliArgs.h"
#include "cli/CliLive.h"
#include "cli/CliOutput.h"
#include "cli/CliProductionParts.h"
#include "cli/CliSession.h"
#include "link/BoardLink.h"
#include "production/LimitsFile.h"
#include "production/ProductionTest.h"
#include "production/ResultStats.h"
#include "production/ResultStore.h"
#include "workers/BoardOps.h"
#include "workers/BoardSession.h"
#include "workers/ChipFamily.h"

using namespace cliprod;

namespace {

const QStringList& ValueOptions() {
    static const QStringList v = {"port",     "serial", "workdir", "addr",  "limits", "station",
                                  "operator", "db",     "record",  "junit", "since"};
    return v;
}
const QStringList& FlagOptions() {
    static const QStringList f = {"json", "touch", "csv", "any-firmware", "help"};
    return f;
}

// The first argument that is neither an option nor an option's value.
QString CommandOf(const QStringList& args, int* index) {
    static const QStringList otherValueOptions = {"port", "workdir", "addr",    "seconds", "channels",
                                                  "csv",  "sbf",     "samples", "min",     "report"};
    for (int i = 1; i < args.size(); ++i) {
        const QString& a = args[i];
        if (a == QLatin1String("--")) return i + 1 < args.size() ? args[i + 1] : QString();
        if (a.startsWith(QLatin1String("--"))) {
            const QString name = a.mid(2);
            if (!name.contains(QLatin1Char('=')) && (ValueOptions().contains(name) || otherValueOptions.contains(name)))
                ++i;
            continue;
        }
        if (index) *index = i;
        return a;
    }
    return QString();
}

bool ParseProdArgs(const QStringList& args, ProdArgs* out, QString* error) {
    for (int i = 1; i < args.size(); ++i) {
        const QString& a = args[i];
        if (a.startsWith(QLatin1String("--"))) {
            QString name = a.mid(2);
            QString value;
            const int eq = name.indexOf(QLatin1Char('='));
            if (eq >= 0) {
                value = name.mid(eq + 1);
                name = name.left(eq);
            }
            if (ValueOptions().contains(name)) {
                if (eq < 0) {
                    if (i + 1 >= args.size()) {
                        *error = QStringLiteral("option --%1 needs a value").arg(name);
                        return false;
                    }
                    value = args[++i];
                }
                if (value.isEmpty()) {
                    *error = QStringLiteral("option --%1 needs a value").arg(name);
                    return false;
                }
            } else if (FlagOptions().contains(name)) {
                if (eq >= 0) {
                    *error = QStringLiteral("option --%1 takes no value").arg(name);
                    return false;
                }
            } else {
                *error = QStringLiteral("unknown option %1").arg(a);
                return false;
            }
            out->opts.insert(name, value);
            continue;
        }
        if (out->command.isEmpty())
            out->command = a;
        else
            out->positional << a;
    }
    if (!out->positional.isEmpty()) {
        *error = QStringLiteral("'%1': unexpected argument '%2'").arg(out->command, out->positional.first());
        return false;
    }
    static const QMap<QString, QString> owners = {
        {"port", "test"},         {"serial", "test"},   {"addr", "test"},   {"limits", "test"},
        {"operator", "test"},     {"record", "test"},   {"junit", "test"},  {"touch", "test"},
        {"any-firmware", "test"}, {"since", "results"}, {"csv", "results"},
    };
    for (auto it = out->opts.cbegin(); it != out->opts.cend(); ++it) {
        const QString owner = owners.value(it.key());
        if (!owner.isEmpty() && owner != out->command) {
            *error = QStringLiteral("option --%1 does not apply to '%2'").arg(it.key(), out->command);
            return false;
        }
        const bool repeatable = it.key() == QLatin1String("port") || it.key() == QLatin1String("serial");
        if (!repeatable && out->opts.count(it.key()) > 1) {
            *error = QStringLiteral("option --%1 is given twice").arg(it.key());
            return false;
        }
    }
    return true;
}

QString Usage() {
    return QStringLiteral(
        "Usage: tkeval-cli test --limits FILE --serial SN --port PATH [--station ID] [--operator NAME]\n"
        "                       [--touch] [--db URL] [--record FILE] [--junit FILE] [--json]\n"
        "       tkeval-cli test --limits FILE --port P1 --serial S1 --port P2 --serial S2 ...\n"
        "       tkeval-cli results [--db URL] [--since DATE] [--station ID] [--json | --csv]\n"
        "\n"
        "  --db sqlite:PATH | postgresql://USER@HOST/DB   (default: results.db in the working folder)\n"
        "  --workdir DIR, --addr HEX, --any-firmware      as for the other commands\n"
        "\n"
        "Exit codes of test: 0 PASS, 5 FAIL, 1 usage, 2 port, 3 board or chip, 4 file.\n");
}

QString Bounds(const Measurement& m) {
    if (m.min && m.max) return QStringLiteral("%1..%2").arg(*m.min).arg(*m.max);
    if (m.min) return QStringLiteral("min %1").arg(*m.min);
    if (m.max) return QStringLiteral("max %1").arg(*m.max);
    return QStringLiteral("no limit");
}

QString Number(double v) {
    if (std::isinf(v)) return v > 0 ? QStringLiteral("inf") : QStringLiteral("-inf");
    return QString::number(v, 'g', 6);
}

// --- test, one board ---------------------------------------------------------------

int ExitFor(const TestRecord& r, int errorCode) {
    if (r.outcome == QLatin1String("PASS")) return kExitOk;
    if (r.outcome == QLatin1String("FAIL")) return kExitTest;
    return errorCode != kExitOk ? errorCode : kExitBoard;
}

// A record of one run about to start on the session's board.
TestRecord StartRecord(const ProdArgs& a, const CliSession& session, const ProductionLimits& limits) {
    TestRecord record;
    record.serial = a.value("serial");
    record.station = a.has("station") ? a.value("station") : QSysInfo::machineHostName();
    record.operatorName = a.value("operator");
    record.toolVersion = Record_ToolVersion();
    record.device = session.device();
    record.port = a.value("port");
    record.limitsFile = limits.file;
    record.limitsName = limits.name;
    record.limitsSha256 = limits.sha256;
    record.started = QDateTime::currentDateTimeUtc();
    return record;
}

// The production test on a connected board, with the touch phase's prompts
// on stderr; fills record and returns the exit code of an error that ended
// the run (kExitOk when it ran to its verdict).
int RunConnectedTest(const ProdArgs& a, CliSession& session, CliOutput& out, const ProductionLimits& limits,
                     TestRecord& record) {
    int errorCode = kExitOk;
    record.firmware = Firmware_Text(session.firmware());
    CliLive live(&session, &out);
    live.start();
    ProductionTest test(limits, live.stream());
    test.setSession(&session.board());
    test.setTouchPhase(a.has("touch"));
    TestRecord& r = test.record();
    const QDateTime started = record.started;
    r = record;
    QString shown;
    QObject::connect(&test, &ProductionTest::changed, &live, [&] {
        if (!a.has("touch") || !test.running() || test.prompt() == shown) return;
        shown = test.prompt();
        CliOutput::note(shown);
    });
    QObject::connect(&live, &CliLive::enterPressed, &test, &ProductionTest::touchingNow);
    QObject::connect(&test, &ProductionTest::finished, &live, [&] { live.quit(kExitOk); });
    test.start(session.dev());
    int code = kExitOk;
    if (test.running()) code = live.exec(-1);
    if (test.running()) {
        errorCode = code != kExitOk ? code : kExitBoard;
        test.fail(code != kExitOk ? out.lastError() : QStringLiteral("interrupted before the end"));
    }
    record = test.record();
    record.started = started;
    if (record.outcome == QLatin1String("ERROR") && errorCode == kExitOk)
        errorCode = session.portFailed() || !session.link().isLive() ? kExitPort : kExitBoard;
    if (record.outcome == QLatin1String("ERROR") && !out.lastError().isEmpty() && errorCode == kExitOk)
        errorCode = kExitBoard;
    return errorCode;
}

// Stores the record (or spools it), writes the files asked for and prints
// it; the run's exit code.
int FinishRecord(const ProdArgs& a, const CliSession& session, CliOutput& out, const StoreTarget& store,
                 const TestRecord& record, int errorCode) {
    bool stored = false;
    const QString storage = Store_RecordOrSpool(record, store, session.workDir(), &stored);
    int code = ExitFor(record, errorCode);
    const QByteArray doc = QJsonDocument(record.toJson()).toJson(QJsonDocument::Indented);
    QString why;
    if (a.has("record") && !WriteFile(Cli_UserPath(a.value("record")), doc, &why)) {
        out.fail(kExitFile, why);
        if (code == kExitOk) code = kExitFile;
    }
    if (a.has("junit") && !WriteFile(Cli_UserPath(a.value("junit")), Record_JUnit({record}), &why)) {
        out.fail(kExitFile, why);
        if (code == kExitOk) code = kExitFile;
    }
    if (a.has("json")) {
        Print(doc);
        CliOutput::note(QStringLiteral("tkeval-cli: ") + storage);
    } else {
        QStringList lines = SummaryLines(record);
        lines << QStringLiteral("  ") + storage;
        Print((lines.join(QLatin1Char('\n')) + QLatin1Char('\n')).toLocal8Bit());
    }
    if (!stored && code == kExitOk) code = kExitFile;  // a PASS that was lost must not look done
    return code;
}

int TestOneBoard(const ProdArgs& a) {
    CliArgs sessionArgs;
    sessionArgs.command = QStringLiteral("test");
    for (const char* k : {"port", "workdir", "addr", "any-firmware"})
        if (a.has(k)) sessionArgs.opts.insert(QLatin1String(k), a.value(k));
    // Messages go to stderr; the document on stdout is the record.
    CliOutput out(false);
    CliSession session(sessionArgs, &out);
    int code = session.loadConfig();
    if (code != kExitOk) return code;

    const BoardSession& board = session.board();
    const ChipFamily* family = ChipFamily_Find(board.family());
    LimitsTarget target;
    target.device = session.device();
    target.channels = family ? qMin(board.channelCount(), family->monitorChannels) : 0;
    target.sbfs = board.sbfCount();
    ProductionLimits limits;
    QString why;
    if (!Limits_Load(Cli_UserPath(a.value("limits")), target, &limits, &why)) return out.fail(kExitFile, why);
    if (a.has("touch") && !limits.hasTouch)
        return out.fail(kExitUsage, QStringLiteral("--touch: %1 has no \"touch\" section").arg(limits.file));
    StoreTarget store;
    if (!Store_ParseUrl(a.value("db"), session.workDir(), &store, &why)) return out.fail(kExitUsage, why);

    TestRecord record = StartRecord(a, session, limits);
    int errorCode = session.connectChip();
    if (errorCode != kExitOk) {
        record.error = out.lastError();
        record.ended = QDateTime::currentDateTimeUtc();
        record.firmware = session.firmware() ? Firmware_Text(session.firmware()) : QString();
    } else {
        errorCode = RunConnectedTest(a, session, out, limits, record);
    }
    if (record.outcome == QLatin1String("ERROR") && record.error.isEmpty())
        record.error = QStringLiteral("the run could not finish");
    if (record.outcome == QLatin1String("ERROR") && record.error != out.lastError())
        CliOutput::note(QStringLiteral("tkeval-cli: %1: ERROR: %2").arg(record.port, record.error));
    return FinishRecord(a, session, out, store, record, errorCode);
}

int CmdTest(const ProdArgs& a) {
    CliOutput out(false);
    if (!a.has("limits"))
        return out.fail(kExitUsage, QStringLiteral("'test' needs --limits FILE (tkeval-cli test --help)"));
    if (!a.has("serial")) return out.fail(kExitUsage, QStringLiteral("'test' needs --serial SN"));
    if (!a.has("port")) return out.fail(kExitUsage, QStringLiteral("'test' needs --port PATH"));
    if (a.opts.count(QStringLiteral("port")) > 1 || a.opts.count(QStringLiteral("serial")) > 1)
        return TestSeveralBoards(a);
    return TestOneBoard(a);
}

}  // namespace

namespace cliprod {

void Print(const QByteArray& bytes) {
    std::fwrite(bytes.constData(), 1, static_cast<size_t>(bytes.size()), stdout);
    std::fflush(stdout);
}

bool WriteFile(const QString& path, const QByteArray& content, QString* error) {
    QSaveFile f(path);
    if (!f.open(QIODevice::WriteOnly) || f.write(content) != content.size() || !f.commit()) {
        *error = QStringLiteral("%1: not written: %2").arg(path, f.errorString());
        return false;
    }
    return true;
}

QStringList SummaryLines(const TestRecord& r) {
    QStringList lines;
    lines << QStringLiteral("%1  %2  %3  (station %4, %5 s)")
                 .arg(r.outcome, r.serial, r.limitsName, r.station)
                 .arg(r.started.msecsTo(r.ended) / 1000.0, 0, 'f', 1);
    if (r.outcome == QLatin1String("ERROR")) lines << QStringLiteral("  error: %1").arg(r.error);
    for (const RegisterMismatch& m : r.mismatched)
        lines << QStringLiteral("  FAIL register %1: wrote %2, read back %3")
                     .arg(Hex2Upper(m.reg), Hex2Upper(m.wrote), Hex2Upper(m.read));
    for (const Measurement& m : r.failingFirst())
        lines << QStringLiteral("  %1 SIN %2 %3 = %4 %5 (%6)")
                     .arg(m.pass ? QStringLiteral("pass") : QStringLiteral("FAIL"))
                     .arg(m.channel)
                     .arg(m.name, Number(m.value), m.unit, Bounds(m));
    lines << QStringLiteral("  registers: %1 written, %2 verified, %3 differ")
                 .arg(r.registersWritten)
                 .arg(r.registersVerified)
                 .arg(r.mismatched.size());
    return lines;
}

}  // namespace cliprod

bool Cli_IsProductionCommand(const QStringList& args) {
    const QString c = CommandOf(args, nullptr);
    return c == QLatin1String("test") || c == QLatin1String("results");
}

int Cli_RunProduction(const QStringList& args) {
    ProdArgs a;
    QString error;
    if (!ParseProdArgs(args, &a, &error)) {
        CliOutput out(false);
        return out.fail(kExitUsage, error + QStringLiteral(" (tkeval-cli test --help)"));
    }
    if (a.has("help")) {
        Print(Usage().toLocal8Bit());
        return kExitOk;
    }
    return a.command == QLatin1String("test") ? CmdTest(a) : CmdResults(a);
}
