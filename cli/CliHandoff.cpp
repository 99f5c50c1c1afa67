#include "cli/CliHandoff.h"

#include <QDateTime>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonObject>
#include <QVector>

#include "app/config.h"
#include "app/limits.h"
#include "app/regfile.h"
#include "cli/CliOutput.h"
#include "cli/CliSession.h"
#include "data/LogReader.h"
#include "handoff/HandoffInfo.h"
#include "handoff/HeaderWriter.h"
#include "handoff/KeyTraceBuilder.h"
#include "handoff/RegisterNames.h"
#include "handoff/RegisterSet.h"
#include "handoff/TuningReport.h"
#include "link/commands.h"
#include "workers/BoardOps.h"
#include "workers/BoardSession.h"

namespace {

int Usage(CliOutput* out, const QString& message) {
    return out->fail(kExitUsage, message + QStringLiteral(" (tkeval-cli --help)"));
}

// The registers, read from the chip in runs of consecutive addresses of at
// most one frame each. An exit code.
int ReadChip(CliSession& s, const QVector<int>& regs, RegisterSet* out) {
    return s.readRegisters(regs, [out](int reg, uint8_t value) { out->insert(reg, value); });
}

HandoffInfo BaseInfo(const CliSession& s) {
    HandoffInfo info;
    info.toolVersion = Handoff_ToolVersion();
    info.date = QDateTime::currentDateTimeUtc();
    info.device = s.device();
    info.family = s.board().family();
    info.i2c = s.dev();
    return info;
}

QVector<NamedRegister> Named(const RegisterSet& set, const QVector<int>& regs, const QMap<int, QString>& hints,
                             const QStringList& reserved) {
    QVector<NamedRegister> named;
    for (int reg : regs)
        if (set.contains(reg)) named.append({reg, set.value(reg), QString(), QString()});
    RegName_Assign(&named, hints, reserved);
    return named;
}

// --- export ---------------------------------------------------------------------

int CmdExport(const CliArgs& a, CliOutput* out, CliSession& s) {
    if (a.positional.size() != 1)
        return Usage(out, a.positional.isEmpty()
                              ? QStringLiteral("'export' needs the FILE to write")
                              : QStringLiteral("'export': unexpected argument '%1'").arg(a.positional[1]));
    const QString format = a.has("format") ? a.value("format") : QStringLiteral("c");
    if (format != QLatin1String("c") && format != QLatin1String("json"))
        return Usage(out, QStringLiteral("--format %1: c or json").arg(format));
    const QString prefix = a.has("prefix") ? a.value("prefix") : Header_DefaultPrefix(s.device());
    const QString bad = Header_CheckPrefix(prefix);
    if (!bad.isEmpty()) return Usage(out, QStringLiteral("--prefix: ") + bad);

    const QMap<int, QString> hints = RegName_ReadHints(s.board().workFile("hint.txt"));
    QVector<int> regs;
    if (a.has("all")) {
        for (int r = 0; r < 256; ++r) regs.append(r);
    } else {
        regs = QVector<int>(hints.keyBegin(), hints.keyEnd());
        if (regs.isEmpty())
            return out->fail(
                kExitFile,
                QStringLiteral("%1 names no register; --all exports all 256").arg(s.board().workFile("hint.txt")));
    }

    HandoffInfo info = BaseInfo(s);
    RegisterSet set;
    QString error;
    if (a.has("from")) {
        const QString from = Cli_UserPath(a.value("from"));
        if (!RegisterSet_Read(from, &set, &error)) return out->fail(kExitFile, error);
        info.source = QStringLiteral("file %1").arg(QFileInfo(from).fileName());
        int missing = 0;
        for (int r : regs) missing += set.contains(r) ? 0 : 1;
        if (missing > 0 && !a.has("all"))
            CliOutput::note(QStringLiteral("tkeval-cli: warning: %1 of the %2 registers with a cell are not in %3; "
                                           "they are left out")
                                .arg(missing)
                                .arg(regs.size())
                                .arg(from));
    } else {
        const int code = s.connectChip();
        if (code != kExitOk) return code;
        const int readCode = ReadChip(s, regs, &set);
        if (readCode != kExitOk) return readCode;
        info.source = QStringLiteral("chip on %1").arg(s.port());
        info.firmware = Firmware_Text(s.firmware());
    }
    const QVector<NamedRegister> named = Named(set, regs, hints, Header_ReservedNames());
    if (named.isEmpty()) return out->fail(kExitFile, QStringLiteral("no register to export"));

    const QByteArray text =
        format == QLatin1String("json") ? Header_JsonText(info, prefix, named) : Header_CText(info, prefix, named);
    const QString path = Cli_UserPath(a.positional[0]);
    if (!RegFile_Save(path, text, &error))
        return out->fail(kExitFile, QStringLiteral("%1: not written: %2").arg(path, error));
    out->line(QStringLiteral("%1 registers exported to %2").arg(named.size()).arg(path));
    out->set("file", path);
    out->set("registers", named.size());
    out->set("prefix", prefix.toUpper());
    return kExitOk;
}

// --- diff -------------------------------------------------------------------------

int CmdDiff(const CliArgs& a, CliOutput* out, CliSession& s) {
    if (a.positional.isEmpty() || a.positional.size() > 2)
        return Usage(out, a.positional.isEmpty()
                              ? QStringLiteral("'diff' needs one or two register files")
                              : QStringLiteral("'diff': unexpected argument '%1'").arg(a.positional[2]));
    const QString pathA = Cli_UserPath(a.positional[0]);
    RegisterSet setA;
    RegisterSet setB;
    QString error;
    if (!RegisterSet_Read(pathA, &setA, &error)) return out->fail(kExitFile, error);
    QString nameB;
    if (a.positional.size() == 2) {
        nameB = Cli_UserPath(a.positional[1]);
        if (!RegisterSet_Read(nameB, &setB, &error)) return out->fail(kExitFile, error);
    } else {
        // The chip's values of the registers the file names.
        const int code = s.connectChip();
        if (code != kExitOk) return code;
        const int readCode = ReadChip(s, QVector<int>(setA.keyBegin(), setA.keyEnd()), &setB);
        if (readCode != kExitOk) return readCode;
        nameB = QStringLiteral("chip");
    }

    const QVector<RegisterDifference> diffs = RegisterSet_Compare(setA, setB);
    QVector<NamedRegister> named;
    for (const RegisterDifference& d : diffs) named.append({d.reg, 0, QString(), QString()});
    RegName_Assign(&named, RegName_ReadHints(s.board().workFile("hint.txt")));
    auto value = [](int v) { return v < 0 ? QStringLiteral("--") : Hex2Upper(v); };
    QJsonArray rows;
    for (int i = 0; i < diffs.size(); ++i) {
        const RegisterDifference& d = diffs[i];
        out->line(QStringLiteral("%1 %2 %3 %4").arg(Hex2Upper(d.reg), named[i].name, value(d.a), value(d.b)));
        rows.append(QJsonObject{{"reg", Hex2Upper(d.reg)},
                                {"name", named[i].name},
                                {"a", d.a < 0 ? QJsonValue() : QJsonValue(Hex2Upper(d.a))},
                                {"b", d.b < 0 ? QJsonValue() : QJsonValue(Hex2Upper(d.b))}});
    }
    out->set("a", pathA);
    out->set("b", nameB);
    out->set("differences", rows);
    out->set("equal", diffs.isEmpty());
    // Exit 5 tells a script "they differ", as diff(1) does with 1.
    return diffs.isEmpty() ? kExitOk : kExitTest;
}

// --- report -----------------------------------------------------------------------

int CmdReport(const CliArgs& a, CliOutput* out, CliSession& s) {
    const QString target = a.value("output");
    if (target.isEmpty()) return Usage(out, QStringLiteral("'report' needs -o FILE.html"));
    if (!a.has("log") && !a.has("snr") && !a.has("regs"))
        return Usage(out, QStringLiteral("'report' needs at least one of --log, --snr, --regs"));

    TuningReport report;
    report.info = BaseInfo(s);
    report.info.note = a.value("note");
    int sbfCount = s.board().sbfCount();
    QString error;
    if (a.has("snr")) {
        if (!SnrReport_Read(Cli_UserPath(a.value("snr")), &report.snr, &error)) return out->fail(kExitFile, error);
        report.haveSnr = true;
        const SnrReportInfo& si = report.snr.info;
        if (!si.device.isEmpty()) report.info.device = si.device;
        report.info.firmware = si.firmware;
        report.info.i2c = si.i2c;
    }
    if (a.has("regs")) {
        const QString path = Cli_UserPath(a.value("regs"));
        RegisterSet set;
        if (!RegisterSet_Read(path, &set, &error)) return out->fail(kExitFile, error);
        report.registers = Named(set, QVector<int>(set.keyBegin(), set.keyEnd()),
                                 RegName_ReadHints(s.board().workFile("hint.txt")), QStringList());
        report.info.source = QStringLiteral("file %1").arg(QFileInfo(path).fileName());
    }
    if (a.has("log")) {
        const QString path = Cli_UserPath(a.value("log"));
        // The log's own header says what was recorded; it wins over the settings.
        LogReader header;
        if (!header.open(path)) return out->fail(kExitFile, header.error());
        const LogHeader& h = header.header();
        report.info.device = h.device;
        report.info.family = h.family;
        if (!h.firmware.isEmpty()) report.info.firmware = h.firmware;
        report.info.i2c = h.i2c;
        sbfCount = h.sbf;
        KeyTraceBuilder traces(h.family, TuningReport_SbfOf(report, sbfCount),
                               TuningReport_Thresholds(report, h.family));
        if (!traces.readLog(path, &error, &report.notes)) return out->fail(kExitFile, error);
        report.traces = traces.finish();
        report.traceSource = QStringLiteral("log %1").arg(QFileInfo(path).fileName());
        report.fromMs = qMax<qint64>(0, traces.firstMs());
        report.toMs = traces.lastMs();
    }
    const QString path = Cli_UserPath(target);
    if (!RegFile_Save(path, TuningReport_Html(report), &error))
        return out->fail(kExitFile, QStringLiteral("%1: not written: %2").arg(path, error));
    out->line(QStringLiteral("report written to %1").arg(path));
    out->set("file", path);
    out->set("keys", report.traces.size());
    out->set("registers", report.registers.size());
    out->set("snr_results", report.snr.results.size());
    return kExitOk;
}

}  // namespace

int Cli_CmdExport(const CliArgs& a, CliOutput* out, CliSession& s) { return CmdExport(a, out, s); }

int Cli_CmdDiff(const CliArgs& a, CliOutput* out, CliSession& s) { return CmdDiff(a, out, s); }

int Cli_CmdReport(const CliArgs& a, CliOutput* out, CliSession& s) { return CmdReport(a, out, s); }
