#include "cli/CliCommands.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonObject>
#include <QVector>
#include <cstdio>

#include "app/config.h"
#include "app/globals.h"
#include "app/hintfile.h"
#include "app/regfile.h"
#include "cli/CliOutput.h"
#include "cli/CliSession.h"
#include "link/PortDiscovery.h"
#include "link/commands.h"
#include "platform/ini.h"
#include "workers/BoardOps.h"

namespace {

struct RegValue {
    int reg;
    uint8_t value;
};

QString RangeName(int first, int count) {
    return count == 1 ? QStringLiteral("register %1").arg(Hex2Upper(first))
                      : QStringLiteral("registers %1-%2").arg(Hex2Upper(first), Hex2Upper(first + count - 1));
}

// Reads the given registers (ascending) in runs of consecutive addresses of at
// most 8, as the window's table read does. Returns an exit code.
int ReadRegisters(CliSession& s, const QVector<int>& regs, QVector<RegValue>* values) {
    int i = 0;
    while (i < regs.size()) {
        int len = 1;
        while (i + len < regs.size() && len < kMaxRegsPerFrame && regs[i + len] == regs[i] + len) ++len;
        uint8_t buf[kMaxRegsPerFrame] = {};
        const char r = CMD_Read(s.dev(), static_cast<uint8_t>(regs[i]), static_cast<uint8_t>(len), buf);
        if (r != '0') return s.exchangeFailed(QStringLiteral("reading ") + RangeName(regs[i], len), r);
        for (int k = 0; k < len; ++k) values->append({regs[i] + k, buf[k]});
        i += len;
    }
    return kExitOk;
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

bool WantArgs(const CliArgs& a, int min, int max, CliOutput* out, int* code) {
    const int n = a.positional.size();
    if (n >= min && (max < 0 || n <= max)) return true;
    *code = Usage(out, n < min ? QStringLiteral("'%1' needs more arguments (tkeval-cli --help)").arg(a.command)
                               : QStringLiteral("'%1': unexpected argument '%2'").arg(a.command, a.positional[max]));
    return false;
}

// --- commands -----------------------------------------------------------------

int CmdPorts(const CliArgs& a, CliOutput* out) {
    int code = kExitOk;
    if (!WantArgs(a, 0, 0, out, &code)) return code;
    const QStringList extra = Split_PortList(
        Ini_GetString(WorkDir_IniFile("config.ini"), QStringLiteral("PORT"), QStringLiteral("EXTRA"), QString()));
    QStringList cmdLine;
    if (a.has("port")) cmdLine << a.value("port");
    QStringList ports = Discover_Ports(QString::fromLatin1(kSysClassTty), extra, cmdLine, nullptr);
    ports.removeAll(QString::fromLatin1(kNoPort));
    for (const QString& p : ports) out->line(p);
    out->set(QStringLiteral("ports"), QJsonArray::fromStringList(ports));
    return kExitOk;
}

int CmdInfo(const CliArgs& a, CliOutput* out, CliSession& s) {
    int code = kExitOk;
    if (!WantArgs(a, 0, 0, out, &code)) return code;
    code = s.connectBoard();
    if (code != kExitOk) return code;
    const bool chip = s.probeChip();
    if (!chip && (s.portFailed() || g_UART_Connected.load() == 0)) return s.exchangeFailed("chip probe", 'A');
    const QString addr = Hex2Upper(s.dev());
    out->line(QStringLiteral("firmware %1").arg(Firmware_Text(s.firmware())));
    out->line(QStringLiteral("device %1").arg(s.device()));
    out->line(QStringLiteral("family %1").arg(g_DeviceType.load()));
    out->line(QStringLiteral("channels %1").arg(g_SizeOfChannel.load()));
    out->line(QStringLiteral("sbfs %1").arg(g_SizeOfSBF.load()));
    out->line(QStringLiteral("address %1").arg(addr));
    out->line(chip ? QStringLiteral("chip answers") : QStringLiteral("chip does not answer"));
    out->set("port", s.port());
    out->set("firmware", Firmware_Text(s.firmware()));
    out->set("device", s.device());
    out->set("family", g_DeviceType.load());
    out->set("channels", g_SizeOfChannel.load());
    out->set("sbfs", g_SizeOfSBF.load());
    out->set("address", addr);
    out->set("chip_answers", chip);
    if (!chip)
        return out->fail(kExitBoard, QStringLiteral("%1: no chip answers at I2C address %2").arg(s.port(), addr));
    return kExitOk;
}

int CmdRead(const CliArgs& a, CliOutput* out, CliSession& s) {
    int code = kExitOk;
    if (!WantArgs(a, 1, 2, out, &code)) return code;
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

int CmdWrite(const CliArgs& a, CliOutput* out, CliSession& s) {
    int code = kExitOk;
    if (!WantArgs(a, 2, -1, out, &code)) return code;
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
        const char r = CMD_Write(s.dev(), static_cast<uint8_t>(v.reg), 1, &v.value);
        if (r != '0') return s.exchangeFailed(QStringLiteral("writing register %1").arg(Hex2Upper(v.reg)), r);
        wanted.insert(v.reg, v.value);
    }
    if (!a.has("no-verify")) {
        code = VerifyWrites(s, out, wanted);
        if (code != kExitOk) return code;
    }
    PrintRegisters(out, values);
    return kExitOk;
}

int CmdDump(const CliArgs& a, CliOutput* out, CliSession& s) {
    int code = kExitOk;
    if (!WantArgs(a, 0, 1, out, &code)) return code;
    QVector<int> regs;
    if (a.has("hinted")) {
        QFile hint(WorkDir_TextFile("hint.txt"));
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

int CmdLoad(const CliArgs& a, CliOutput* out, CliSession& s) {
    int code = kExitOk;
    if (!WantArgs(a, 1, 1, out, &code)) return code;
    const QString path = Cli_UserPath(a.positional[0]);
    RegFileReader reader;
    if (!reader.open(path))
        return out->fail(kExitFile, QStringLiteral("%1: cannot be read: %2").arg(path, reader.errorString()));
    code = s.connectChip();
    if (code != kExitOk) return code;

    QMap<int, uint8_t> wanted;
    const RegLoadResult r = RegFile_WriteToChip(
        &reader, s.dev(), [&wanted](const RegFileLine& line) { wanted.insert(line.address, line.value); });
    out->set("file", path);
    out->set("written", r.written);
    out->set("skipped", r.skipped);
    if (s.portFailed() || g_UART_Connected.load() == 0) return s.exchangeFailed(QStringLiteral("loading ") + path, 'A');
    if (reader.failed())
        return out->fail(kExitFile, QStringLiteral("%1: reading stopped after line %2: %3")
                                        .arg(path)
                                        .arg(reader.lineNumber())
                                        .arg(reader.errorString()));
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
    // The good lines went to the chip as the window writes them; a line that
    // looks like a write but is not one still makes the file bad.
    if (r.firstBadLine > 0)
        return out->fail(kExitFile,
                         QStringLiteral("%1: line %2 is not a register write (w, two hex digits, a hex value)")
                             .arg(path)
                             .arg(r.firstBadLine));
    return kExitOk;
}

int CmdReset(const CliArgs& a, CliOutput* out, CliSession& s) {
    int code = kExitOk;
    if (!WantArgs(a, 0, 0, out, &code)) return code;
    code = s.connectChip();
    if (code != kExitOk) return code;
    const int family = g_DeviceType.load();
    const uint8_t reg = Chip_ResetRegister(family);
    // The window puts the register back as its table last showed it; here
    // that is a fresh read.
    uint8_t current = 0;
    const char r = CMD_Read(s.dev(), reg, 1, &current);
    if (r != '0') return s.exchangeFailed(QStringLiteral("reading register %1").arg(Hex2Upper(reg)), r);
    Chip_Reset(s.dev(), family, current);
    if (s.portFailed() || g_UART_Connected.load() == 0) return s.exchangeFailed(QStringLiteral("reset"), 'A');
    out->line(QStringLiteral("chip reset (family %1, register %2)").arg(family).arg(Hex2Upper(reg)));
    out->set("reset", true);
    out->set("family", family);
    return kExitOk;
}

int CmdSearch(const CliArgs& a, CliOutput* out, CliSession& s) {
    int code = kExitOk;
    if (!WantArgs(a, 0, 0, out, &code)) return code;
    code = s.connectBoard();
    if (code != kExitOk) return code;
    const int found = I2C_Search();
    if (s.portFailed() || g_UART_Connected.load() == 0) return s.exchangeFailed(QStringLiteral("I2C search"), 'A');
    if (found < 0)
        return out->fail(kExitBoard,
                         QStringLiteral("%1: no chip answers at any I2C address %2 to %3")
                             .arg(s.port(), Hex2Upper(kI2CSearchFirst), Hex2Upper(kI2CSearchEnd - kI2CSearchStep)));
    g_I2C_Addr.store(found, std::memory_order_release);
    out->line(Hex2Upper(found));
    out->set("address", Hex2Upper(found));
    if (a.has("save")) {
        if (!Config_WriteKey(QStringLiteral("I2C"), QStringLiteral("I2C_ADDR"), Hex2(found)))
            return out->fail(kExitFile,
                             QStringLiteral("%1: the address could not be saved").arg(WorkDir_IniFile("config.ini")));
        out->set("saved", true);
    }
    return kExitOk;
}

}  // namespace

int Cli_Run(const CliArgs& a, CliOutput* out) {
    CliSession session(a, out);
    int code = session.loadConfig();
    if (code != kExitOk) return code;
    const QString& c = a.command;
    if (c == QLatin1String("ports")) return CmdPorts(a, out);
    if (c == QLatin1String("info")) return CmdInfo(a, out, session);
    if (c == QLatin1String("read")) return CmdRead(a, out, session);
    if (c == QLatin1String("write")) return CmdWrite(a, out, session);
    if (c == QLatin1String("dump")) return CmdDump(a, out, session);
    if (c == QLatin1String("load")) return CmdLoad(a, out, session);
    if (c == QLatin1String("reset")) return CmdReset(a, out, session);
    if (c == QLatin1String("search")) return CmdSearch(a, out, session);
    return out->fail(kExitUsage, QStringLiteral("'%1' is not available in this build").arg(c));
}
