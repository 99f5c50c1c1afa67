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
    if (!chip && (s.portFailed() || !s.link().isLive())) return s.exchangeFailed("chip probe", 'A');
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
        const char r =
            s.retried([&] { return CMD_Write(s.link(), s.dev(), static_cast<uint8_t>(v.reg), 1, &v.value); });
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
    if (s.portFailed() || !s.link().isLive()) return s.exchangeFailed(QStringLiteral("loading ") + path, 'A');
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
    const char r = s.retried([&] { return CMD_Read(s.link(), s.dev(), reg, 1, &current); });
    if (r != '0') return s.exchangeFailed(QStringLiteral("reading register %1").arg(Hex2Upper(reg)), r);
    Chip_Reset(s.link(), s.dev(), family, current);
    if (s.portFailed() || !s.link().isLive()) return s.exchangeFailed(QStringLiteral("reset"), 'A');
    out->line(QStringLiteral("chip reset (family %1, register %2)").arg(family).arg(Hex2Upper(reg)));
    out->set("reset", true);
    out->set("family", family);
    return kExitOk;
}

int Cli_CmdSearch(const CliArgs& a, CliOutput* out, CliSession& s) {
    int code = s.connectBoard();
    if (code != kExitOk) return code;
    const int found = I2C_Search(s.link(), s.image());
    if (s.portFailed() || !s.link().isLive()) return s.exchangeFailed(QStringLiteral("I2C search"), 'A');
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

namespace {

// The channels a monitor cycle of the configured family can visit.
int MonitorChannels(const CliSession& s, CliOutput* out, int* code) {
    const ChipFamily* f = ChipFamily_Find(s.board().family());
    if (f == nullptr || f->selectionReg < 0) {
        *code = out->fail(kExitUsage, QStringLiteral("family %1 has no monitoring cycle").arg(s.board().family()));
        return 0;
    }
    return qMin(s.board().channelCount(), f->monitorChannels);
}

}  // namespace

int Cli_CmdMonitor(const CliArgs& a, CliOutput* out, CliSession& s) {
    int code = kExitOk;
    qint64 limitMs = -1;
    if (a.has("seconds")) {
        bool ok = false;
        const double secs = a.value("seconds").toDouble(&ok);
        if (!ok || !(secs > 0) || secs > 1e9)
            return Usage(out, QStringLiteral("--seconds %1: not a positive number").arg(a.value("seconds")));
        limitMs = static_cast<qint64>(secs * 1000.0);
    }
    const int channels = MonitorChannels(s, out, &code);
    if (code != kExitOk) return code;
    uint16_t mask = static_cast<uint16_t>((1u << channels) - 1u);
    QString why;
    if (a.has("channels") && !Cli_ParseChannels(a.value("channels"), channels, &mask, &why)) return Usage(out, why);
    if (mask == 0) return Usage(out, QStringLiteral("the chip has no channel to monitor"));
    const QString target = a.has("csv") ? a.value("csv") : QStringLiteral("-");
    if (target == QLatin1String("-") && out->json())
        return Usage(out, QStringLiteral("--json and a log on standard output do not mix; give --csv FILE"));

    code = s.connectChip();
    if (code != kExitOk) return code;

    LogHeader header;
    header.started = QDateTime::currentDateTime();
    header.device = s.device();
    header.family = s.board().family();
    header.channels = s.board().channelCount();
    header.sbf = s.board().sbfCount();
    header.i2c = s.dev();
    header.firmware = Firmware_Text(s.firmware());
    header.port = s.port();
    const QString path = target == QLatin1String("-") ? QStringLiteral("/dev/stdout") : Cli_UserPath(target);
    LogWriter writer;
    const bool toStdout = target == QLatin1String("-");
    // A reader that went away (monitor --csv - | head) has had what it wanted:
    // the end of the stream, as for any Unix tool, not a failure.
    const auto readerGone = [&] { return toStdout && writer.readerGone(); };
    if (!writer.open(path, header)) return readerGone() ? kExitOk : out->fail(kExitFile, writer.error());

    CliLive live(&s, out);
    qint64 samples = 0;
    uint16_t touch = 0;
    QObject::connect(live.stream(), &SampleStream::sampleAdded, &writer, [&](const MonitorSample& m) {
        ++samples;
        writer.writeSample(m.tMs, m);
    });
    QObject::connect(live.stream(), &SampleStream::touchChanged, &writer, [&](const TouchEvent& e) {
        touch = e.mask;
        writer.writeTouch(e.tMs, e);
    });
    QObject::connect(&writer, &LogWriter::failedWith, &live,
                     [&](const QString& m) { live.quit(readerGone() ? kExitOk : out->fail(kExitFile, m)); });
    live.start();
    s.board().setMonitoredChannels(mask);
    s.board().setSensing(true);

    // The live line only where someone watches it.
    const bool tty = ::isatty(STDERR_FILENO) != 0;
    QTimer summary;
    QObject::connect(&summary, &QTimer::timeout, &live, [&] {
        const QString text = QStringLiteral("%1 s, %2 samples, %3 rows, touch %4")
                                 .arg(live.stream()->elapsedMs() / 1000.0, 0, 'f', 1)
                                 .arg(samples)
                                 .arg(writer.rowCount())
                                 .arg(QString::asprintf("%04X", touch));
        std::fprintf(stderr, "\r%s   ", text.toLocal8Bit().constData());
        std::fflush(stderr);
    });
    if (tty) summary.start(1000);
    code = live.exec(limitMs);
    summary.stop();
    if (tty) std::fputs("\n", stderr);
    s.board().setSensing(false);
    writer.close();
    if (code == kExitOk && writer.failed() && !readerGone()) code = out->fail(kExitFile, writer.error());
    out->set("file", target == QLatin1String("-") ? QJsonValue() : QJsonValue(path));
    out->set("samples", samples);
    out->set("rows", writer.rowCount());
    out->set("interrupted", live.interrupted());
    return code;
}

namespace {

QString SnrLine(const SnrResult& r) {
    return QStringLiteral(
               "SIN %1 SBF %2: SNR %3 (signal %4, noise p-p %5, rms %6) %7; sensitivity %8 %9, "
               "recommended %10 %11")
        .arg(r.channel + 1)
        .arg(r.sbf + 1)
        .arg(Snr_FormatNumber(r.snr), Snr_FormatNumber(r.signal), Snr_FormatNumber(r.noisePeakToPeak),
             Snr_FormatNumber(r.noiseRms), r.pass ? QStringLiteral("pass") : QStringLiteral("FAIL"),
             r.sensitivityNow < 0 ? QStringLiteral("--") : Hex2Upper(r.sensitivityNow), Snr_CheckWord(r.checkNow),
             Hex2Upper(r.recommended), Snr_CheckWord(r.checkRecommended));
}

}  // namespace

int Cli_CmdAutosen(const CliArgs& a, CliOutput* out, CliSession& s) {
    int code = kExitOk;
    const int channels = MonitorChannels(s, out, &code);
    if (code != kExitOk) return code;
    int sin = 0;
    if (!Cli_ParseCount(a.positional.value(0), &sin) || sin < 1 || sin > channels)
        return Usage(out, QStringLiteral("'%1': not a channel from 1 to %2").arg(a.positional.value(0)).arg(channels));
    const int ch = sin - 1;

    code = s.connectChip();
    if (code != kExitOk) return code;

    CliLive live(&s, out);
    live.start();
    MonitorNarrowing narrowing(&s.board());
    SensitivityProcedure run(live.stream(), &narrowing, s.board().family(), ch);
    run.setSession(&s.board());
    run.setMargin(s.board().margin());
    const bool write = a.has("write");
    using State = SensitivityProcedure::State;
    QObject::connect(&run, &SensitivityProcedure::stateChanged, &live, [&](State state) {
        switch (state) {
            case State::Sampling:
                CliOutput::note(QStringLiteral("Touch SIN %1 and hold it until the proposal is printed").arg(sin));
                break;
            case State::AwaitWrite:
                if (write)
                    run.write();
                else
                    run.cancel();
                break;
            case State::AwaitRetry:
                run.cancel();
                break;
            case State::Done:
            case State::Cancelled:
            case State::Aborted:
            case State::Refused:
                live.quit(kExitOk);
                break;
            default:
                break;
        }
    });
    run.start();
    code = run.finished() ? kExitOk : live.exec(-1);
    // Ctrl+C or a lost board: put back what the run changed, if the board lets us.
    if (!run.finished()) run.cancel();
    if (code != kExitOk) return code;

    const QString reg = Hex2Upper(run.sensitivityRegister());
    if (live.interrupted() && run.samples() == 0)
        return out->fail(kExitTest, QStringLiteral("SIN %1: cancelled before any sample; nothing proposed").arg(sin));
    if (run.state() == State::Aborted)
        return out->fail(kExitBoard, QStringLiteral("%1: an exchange failed; the run was abandoned").arg(s.port()));
    if (run.samples() < kAutoSenMinSamples || live.interrupted())
        return out->fail(kExitTest, QStringLiteral("SIN %1: %2 samples above %3, %4 needed; touch the key firmly and "
                                                   "try again")
                                        .arg(sin)
                                        .arg(run.samples())
                                        .arg(kAutoSenMinDiff)
                                        .arg(kAutoSenMinSamples));
    out->line(QStringLiteral("SIN %1: sensitivity 0x%2 (register %3; %4 samples, computed %5)%6")
                  .arg(sin)
                  .arg(Hex2Upper(run.proposal()), reg)
                  .arg(run.samples())
                  .arg(run.computed())
                  .arg(write ? QStringLiteral(", written") : QString()));
    out->set("channel", sin);
    out->set("register", reg);
    out->set("sensitivity", Hex2Upper(run.proposal()));
    out->set("computed", run.computed());
    out->set("samples", run.samples());
    out->set("written", run.state() == State::Done);
    return kExitOk;
}

int Cli_CmdSnr(const CliArgs& a, CliOutput* out, CliSession& s) {
    int code = kExitOk;
    const int channels = MonitorChannels(s, out, &code);
    if (code != kExitOk) return code;
    QStringList messages;
    SnrSettings settings = Snr_DefaultSettings(s.board().config(), s.board().monitoredChannels(), &messages);
    for (const QString& m : messages) CliOutput::note(QStringLiteral("tkeval-cli: warning: ") + m);
    QString why;
    if (a.has("channels")) {
        uint16_t mask = 0;
        if (!Cli_ParseChannels(a.value("channels"), channels, &mask, &why)) return Usage(out, why);
        settings.channels.clear();
        for (int c = 0; c < channels; ++c)
            if (mask & (1u << c)) settings.channels.append(c);
    } else {
        while (!settings.channels.isEmpty() && settings.channels.last() >= channels) settings.channels.removeLast();
    }
    if (a.has("sbf")) {
        int k = 0;
        if (!Cli_ParseCount(a.value("sbf"), &k) || k < 1)
            return Usage(out, QStringLiteral("--sbf %1: not an SBF number from 1").arg(a.value("sbf")));
        settings.sbf = k - 1;
    }
    if (a.has("samples") && !Cli_ParseCount(a.value("samples"), &settings.samples))
        return Usage(out, QStringLiteral("--samples %1: not a whole number").arg(a.value("samples")));
    if (a.has("min")) {
        bool ok = false;
        settings.minSnr = a.value("min").toDouble(&ok);
        if (!ok) return Usage(out, QStringLiteral("--min %1: not a number").arg(a.value("min")));
    }
    why = Snr_CheckSettings(settings, channels, s.board().sbfCount());
    if (!why.isEmpty()) return Usage(out, why);

    code = s.connectChip();
    if (code != kExitOk) return code;

    CliLive live(&s, out);
    live.start();
    SnrProcedure test(live.stream());
    test.setSession(&s.board());
    QString shown;
    QObject::connect(&test, &SnrProcedure::changed, &live, [&] {
        const QString prompt = test.prompt();
        if (prompt == shown || !test.running()) return;
        shown = prompt;
        CliOutput::note(prompt);
    });
    QObject::connect(&live, &CliLive::enterPressed, &test, &SnrProcedure::touchingNow);
    QObject::connect(&test, &SnrProcedure::finished, &live, [&] { live.quit(kExitOk); });
    if (!test.start(settings)) {
        if (s.portFailed() || !s.link().isLive()) return s.exchangeFailed(QStringLiteral("SNR test"), 'A');
        return out->fail(kExitBoard, QStringLiteral("%1: %2").arg(s.port(), test.errorText()));
    }
    if (shown != test.prompt()) CliOutput::note(test.prompt());
    code = live.exec(-1);
    if (test.running()) test.cancel();
    if (code != kExitOk) return code;
    if (live.interrupted())
        return out->fail(kExitTest, QStringLiteral("the SNR test was cancelled before it finished; no result"));
    if (test.phase() != SnrProcedure::Phase::Done)
        return out->fail(kExitBoard, QStringLiteral("%1: the SNR test stopped: %2").arg(s.port(), test.errorText()));

    const QVector<SnrResult>& results = test.results();
    QJsonArray rows;
    const SnrResult* failed = nullptr;
    for (const SnrResult& r : results) {
        out->line(SnrLine(r));
        rows.append(
            QJsonObject{{"channel", r.channel + 1},
                        {"sbf", r.sbf + 1},
                        {"snr", Snr_FormatNumber(r.snr)},
                        {"signal", r.signal},
                        {"noise_pp", r.noisePeakToPeak},
                        {"noise_rms", r.noiseRms},
                        {"pass", r.pass},
                        {"sensitivity", r.sensitivityNow < 0 ? QJsonValue() : QJsonValue(Hex2Upper(r.sensitivityNow))},
                        {"recommended", Hex2Upper(r.recommended)}});
        if (!r.pass && failed == nullptr) failed = &r;
    }
    out->set("results", rows);
    if (a.has("report")) {
        SnrReportInfo info;
        info.date = QDateTime::currentDateTime();
        info.device = s.device();
        info.firmware = Firmware_Text(s.firmware());
        info.i2c = s.dev();
        info.margin = settings.margin;
        QString error;
        const QString path = Cli_UserPath(a.value("report"));
        if (!Snr_WriteReport(path, info, results, &error)) return out->fail(kExitFile, error);
        out->set("report", path);
    }
    if (failed != nullptr)
        return out->fail(kExitTest, QStringLiteral("SIN %1: SNR %2 is below the minimum %3")
                                        .arg(failed->channel + 1)
                                        .arg(Snr_FormatNumber(failed->snr), Snr_FormatNumber(failed->minSnr)));
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
