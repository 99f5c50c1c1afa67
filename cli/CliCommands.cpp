#include "cli/CliCommands.h"

#include <unistd.h>

#include <QDateTime>
#include <QFile>
#include <QJsonArray>
#include <QJsonObject>
#include <QTimer>
#include <QVector>
#include <cstdio>

#include "app/config.h"
#include "app/hintfile.h"
#include "app/limits.h"
#include "app/regfile.h"
#include "cli/CliCommand.h"
#include "cli/CliLive.h"
#include "cli/CliOutput.h"
#include "cli/CliSession.h"
#include "data/LogWriter.h"
#include "data/SampleStream.h"
#include "link/PortDiscovery.h"
#include "link/commands.h"
#include "platform/ini.h"
#include "tuning/MonitorNarrowing.h"
#include "tuning/SensitivityProcedure.h"
#include "tuning/SnrProcedure.h"
#include "tuning/SnrReport.h"
#include "workers/BoardOps.h"
#include "workers/BoardSession.h"
#include "workers/ChipFamily.h"

namespace {

struct RegValue {
    int reg;
    uint8_t value;
};

// Reads the given registers (ascending) in runs of consecutive addresses of at
// most 8, as the window's table read does. Returns an exit code.
int ReadRegisters(CliSession& s, const QVector<int>& regs, QVector<RegValue>* values) {
    return s.readRegisters(regs, [values](int reg, uint8_t value) { values->append({reg, value}); });
}

void PrintRegisters(CliOutput* out, const QVector<RegValue>& values) {
    QJsonArray regs;
    for (const RegValue& v : values) {
        out->line(QStringLiteral("%1: %2").arg(Hex2Upper(v.reg), Hex2Upper(v.value)));
        regs.append(QJsonObject{{"reg", Hex2Upper(v.reg)}, {"value", Hex2Upper(v.value)}});
    }
    out->set(QStringLiteral("registers"), regs);
}

// Reads back what was written last to each register and compares.
int VerifyWrites(CliSession& s, CliOutput* out, const QMap<int, uint8_t>& wanted) {
    QVector<RegValue> got;
    const int code = ReadRegisters(s, QVector<int>(wanted.keyBegin(), wanted.keyEnd()), &got);
    if (code != kExitOk) return code;
    const RegValue* first = nullptr;
    int differing = 0;
    for (const RegValue& v : got) {
        if (v.value == wanted.value(v.reg)) continue;
        if (first == nullptr) first = &v;
        ++differing;
    }
    if (first == nullptr) return kExitOk;
    QString more;
    if (differing > 1) more = QStringLiteral(" (%1 more differ)").arg(differing - 1);
    return out->fail(
        kExitBoard,
        QStringLiteral("%1: register %2: wrote %3, read back %4%5; --no-verify skips the read-back")
            .arg(s.port(), Hex2Upper(first->reg), Hex2Upper(wanted.value(first->reg)), Hex2Upper(first->value), more));
}

int Usage(CliOutput* out, const QString& message) { return out->fail(kExitUsage, message); }

}  // namespace

// --- commands -----------------------------------------------------------------

int Cli_CmdPorts(const CliArgs& a, CliOutput* out, CliSession& s) {
    const QStringList extra = Split_PortList(
        Ini_GetString(s.board().workFile("config.ini"), QStringLiteral("PORT"), QStringLiteral("EXTRA"), QString()));
    QStringList cmdLine;
    if (a.has("port")) cmdLine << a.value("port");
    QStringList ports = Discover_Ports(QString::fromLatin1(kSysClassTty), extra, cmdLine, nullptr);
    ports.removeAll(QString::fromLatin1(kNoPort));
    for (const QString& p : ports) out->line(p);
    out->set(QStringLiteral("ports"), QJsonArray::fromStringList(ports));
    return kExitOk;
}

int Cli_CmdInfo(const CliArgs&, CliOutput* out, CliSession& s) {
    int code = s.connectBoard();
    if (code != kExitOk) return code;
    const bool chip = s.probeChip();
    if (!chip && (s.portFailed() || !s.link().isLive()))
        return s.exchangeFailed("chip probe", ExchangeResult::noPort());
    const QString addr = Hex2Upper(s.dev());
    out->line(QStringLiteral("firmware %1").arg(Firmware_Text(s.firmware())));
    out->line(QStringLiteral("device %1").arg(s.device()));
    out->line(QStringLiteral("family %1").arg(s.board().family()));
    out->line(QStringLiteral("channels %1").arg(s.board().channelCount()));
    out->line(QStringLiteral("sbfs %1").arg(s.board().sbfCount()));
    out->line(QStringLiteral("address %1").arg(addr));
    out->line(chip ? QStringLiteral("chip answers") : QStringLiteral("chip does not answer"));
    out->set("port", s.port());
    out->set("firmware", Firmware_Text(s.firmware()));
    out->set("device", s.device());
    out->set("family", s.board().family());
    out->set("channels", s.board().channelCount());
    out->set("sbfs", s.board().sbfCount());
    out->set("address", addr);
    out->set("chip_answers", chip);
    if (!chip)
        return out->fail(kExitBoard, QStringLiteral("%1: no chip answers at I2C address %2").arg(s.port(), addr));
    return kExitOk;
}

int Cli_CmdRead(const CliArgs& a, CliOutput* out, CliSession& s) {
    int code = kExitOk;
    int reg = 0;
    int count = 1;
    if (!Cli_ParseHexByte(a.positional[0], &reg))
        return Usage(out, QStringLiteral("REG '%1': not a hex byte").arg(a.positional[0]));
    if (a.positional.size() > 1 && (!Cli_ParseCount(a.positional[1], &count) || count < 1))
        return Usage(out, QStringLiteral("COUNT '%1': not a positive decimal number").arg(a.positional[1]));
    if (reg + count > 256)
        return Usage(out, QStringLiteral("%1 registers from %2 run past FF").arg(count).arg(Hex2Upper(reg)));
    code = s.connectChip();
    if (code != kExitOk) return code;
    QVector<int> regs;
    for (int r = reg; r < reg + count; ++r) regs.append(r);
    QVector<RegValue> values;
    code = ReadRegisters(s, regs, &values);
    if (code != kExitOk) return code;
    PrintRegisters(out, values);
    return kExitOk;
}

int Cli_CmdWrite(const CliArgs& a, CliOutput* out, CliSession& s) {
    int code = kExitOk;
    int reg = 0;
    if (!Cli_ParseHexByte(a.positional[0], &reg))
        return Usage(out, QStringLiteral("REG '%1': not a hex byte").arg(a.positional[0]));
    QVector<RegValue> values;
    for (int i = 1; i < a.positional.size(); ++i) {
        int v = 0;
        if (!Cli_ParseHexByte(a.positional[i], &v))
            return Usage(out, QStringLiteral("VALUE '%1': not a hex byte").arg(a.positional[i]));
        values.append({reg + i - 1, static_cast<uint8_t>(v)});
    }
    if (values.last().reg > 0xFF)
        return Usage(out, QStringLiteral("%1 values from %2 run past FF").arg(values.size()).arg(Hex2Upper(reg)));
    code = s.connectChip();
    if (code != kExitOk) return code;
    QMap<int, uint8_t> wanted;
    for (const RegValue& v : values) {
        // Writing the same value again is harmless if the first did arrive.
        const ExchangeResult r =
            s.retried([&] { return CMD_Write(s.link(), s.dev(), static_cast<uint8_t>(v.reg), 1, &v.value); });
        if (!r.ok()) return s.exchangeFailed(QStringLiteral("writing register %1").arg(Hex2Upper(v.reg)), r);
        wanted.insert(v.reg, v.value);
    }
    if (!a.has("no-verify")) {
        code = VerifyWrites(s, out, wanted);
        if (code != kExitOk) return code;
    }
    PrintRegisters(out, values);
    return kExitOk;
}

int Cli_CmdDump(const CliArgs& a, CliOutput* out, CliSession& s) {
    int code = kExitOk;
    QVector<int> regs;
    if (a.has("hinted")) {
        QFile hint(s.board().workFile("hint.txt"));
        if (!hint.open(QIODevice::ReadOnly | QIODevice::Text))
            return out->fail(kExitFile,
                             QStringLiteral("%1: cannot be read: %2").arg(hint.fileName(), hint.errorString()));
        for (const HintEntry& e : HintFile_Read(&hint)) regs.append(e.address);
    } else {
        for (int r = 0; r < 256; ++r) regs.append(r);
    }
    code = s.connectChip();
    if (code != kExitOk) return code;
    QVector<RegValue> values;
    code = ReadRegisters(s, regs, &values);
    if (code != kExitOk) return code;

    QByteArray content;
    for (const RegValue& v : values) content += RegFile_FormatLine(v.reg, Hex2Upper(v.value).toLatin1());
    if (a.positional.isEmpty()) {
        if (!out->json()) std::fwrite(content.constData(), 1, static_cast<size_t>(content.size()), stdout);
        PrintRegisters(out, {});  // nothing printed in text mode
        QJsonArray regsJson;
        for (const RegValue& v : values)
            regsJson.append(QJsonObject{{"reg", Hex2Upper(v.reg)}, {"value", Hex2Upper(v.value)}});
        out->set(QStringLiteral("registers"), regsJson);
        return kExitOk;
    }
    const QString path = Cli_UserPath(a.positional[0]);
    QString why;
    if (!RegFile_Save(path, content, &why))
        return out->fail(kExitFile, QStringLiteral("%1: not written: %2").arg(path, why));
    out->line(QStringLiteral("%1 registers saved to %2").arg(values.size()).arg(path));
    out->set("file", path);
    out->set("registers_saved", values.size());
    return kExitOk;
}

int Cli_CmdLoad(const CliArgs& a, CliOutput* out, CliSession& s) {
    const QString path = Cli_UserPath(a.positional[0]);
    RegFileReader reader;
    if (!reader.open(path))
        return out->fail(kExitFile, QStringLiteral("%1: cannot be read: %2").arg(path, reader.errorString()));
    // Decided before the first write: a script must never leave the chip
    // holding part of a file it was told was refused.
    QStringList bad;
    RegFileLine scanned;
    while (reader.next(&scanned))
        if (scanned.kind == RegLineKind::BadAddress || scanned.kind == RegLineKind::BadValue)
            bad << QString::number(reader.lineNumber());
    QJsonArray badJson;
    for (const QString& n : bad) badJson.append(n.toInt());
    out->set("file", path);
    out->set("bad_lines", badJson);
    const QString what = QStringLiteral("(w, two hex digits, a hex value)");
    if (!bad.isEmpty() && a.has("strict")) {
        out->set("written", 0);
        return out->fail(kExitFile,
                         QStringLiteral("%1: %2 %3 not a register write %4; nothing written (--strict)")
                             .arg(path,
                                  bad.size() == 1 ? QStringLiteral("line ") + bad.first()
                                                  : QStringLiteral("lines ") + bad.join(QStringLiteral(", ")),
                                  bad.size() == 1 ? QStringLiteral("is") : QStringLiteral("are"), what));
    }
    for (const QString& n : bad)
        CliOutput::note(
            QStringLiteral("tkeval-cli: warning: %1: line %2 is not a register write %3; skipped").arg(path, n, what));

    int code = s.connectChip();
    if (code != kExitOk) return code;
    // The same bytes again from the first line, not the file once more.
    const QByteArray content = reader.data();
    reader.setData(content);
    QMap<int, uint8_t> wanted;
    const RegLoadResult r = RegFile_WriteToChip(
        s.link(), &reader, s.dev(), [&wanted](const RegFileLine& line) { wanted.insert(line.address, line.value); },
        // Writing the same value again is harmless if the first did arrive.
        [&s](uint8_t reg, uint8_t value) {
            return s.retried([&] { return CMD_Write(s.link(), s.dev(), reg, 1, &value); });
        });
    out->set("written", r.written);
    out->set("skipped", r.skipped);
    if (s.portFailed() || !s.link().isLive())
        return s.exchangeFailed(QStringLiteral("loading ") + path, ExchangeResult::noPort());
    if (r.refused > 0)
        return out->fail(kExitBoard, QStringLiteral("%1: %2 of %3 writes from %4 not acknowledged by the board")
                                         .arg(s.port())
                                         .arg(r.refused)
                                         .arg(r.written)
                                         .arg(path));
    if (!a.has("no-verify") && !wanted.isEmpty()) {
        code = VerifyWrites(s, out, wanted);
        if (code != kExitOk) return code;
    }
    out->line(QStringLiteral("%1 registers written, %2 lines skipped").arg(r.written).arg(r.skipped));
    return kExitOk;
}

int Cli_CmdReset(const CliArgs&, CliOutput* out, CliSession& s) {
    int code = s.connectChip();
    if (code != kExitOk) return code;
    const int family = s.board().family();
    const uint8_t reg = Chip_ResetRegister(family);
    // The window puts the register back as its table last showed it; here
    // that is a fresh read.
    uint8_t current = 0;
    const ExchangeResult r = s.retried([&] { return CMD_Read(s.link(), s.dev(), reg, 1, &current); });
    if (!r.ok()) return s.exchangeFailed(QStringLiteral("reading register %1").arg(Hex2Upper(reg)), r);
    Chip_Reset(s.link(), s.dev(), family, current);
    if (s.portFailed() || !s.link().isLive())
        return s.exchangeFailed(QStringLiteral("reset"), ExchangeResult::noPort());
    out->line(QStringLiteral("chip reset (family %1, register %2)").arg(family).arg(Hex2Upper(reg)));
    out->set("reset", true);
    out->set("family", family);
    return kExitOk;
}

int Cli_CmdSearch(const CliArgs& a, CliOutput* out, CliSession& s) {
    int code = s.connectBoard();
    if (code != kExitOk) return code;
    const int found = I2C_Search(s.link(), s.image());
    if (s.portFailed() || !s.link().isLive())
        return s.exchangeFailed(QStringLiteral("I2C search"), ExchangeResult::noPort());
    if (found < 0)
        return out->fail(kExitBoard,
                         QStringLiteral("%1: no chip answers at any I2C address %2 to %3")
                             .arg(s.port(), Hex2Upper(kI2CSearchFirst), Hex2Upper(kI2CSearchEnd - kI2CSearchStep)));
    s.board().setI2cAddress(found);
    out->line(Hex2Upper(found));
    out->set("address", Hex2Upper(found));
    if (a.has("save")) {
        if (!Config_WriteKey(s.workDir(), QStringLiteral("I2C"), QStringLiteral("I2C_ADDR"), Hex2(found)))
            return out->fail(
                kExitFile, QStringLiteral("%1: the address could not be saved").arg(s.board().workFile("config.ini")));
        out->set("saved", true);
    }
    return kExitOk;
}

int Cli_Run(const CliArgs& a, CliOutput* out) {
    const CliCommand* command = Cli_FindCommand(a.command);
    if (command == nullptr)
        return out->fail(kExitUsage, QStringLiteral("'%1' is not available in this build").arg(a.command));
    CliSession session(a, out);
    const int code = session.loadConfig();
    if (code != kExitOk) return code;
    const int n = a.positional.size();
    if (n < command->minArgs)
        return Usage(out, QStringLiteral("'%1' needs more arguments (tkeval-cli --help)").arg(a.command));
    if (command->maxArgs >= 0 && n > command->maxArgs)
        return Usage(out,
                     QStringLiteral("'%1': unexpected argument '%2'").arg(a.command, a.positional[command->maxArgs]));
    return command->run(a, out, session);
}
