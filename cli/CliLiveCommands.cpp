// The commands that follow the board's live samples: monitor, autosen and
// snr. Each runs the session's worker threads through CliLive until its
// procedure ends or the user interrupts it.
#include <unistd.h>

#include <QDateTime>
#include <QFile>
#include <QJsonArray>
#include <QJsonObject>
#include <QTimer>
#include <QVector>
#include <cstdio>

#include "app/config.h"
#include "app/limits.h"
#include "cli/CliArgs.h"
#include "cli/CliCommands.h"
#include "cli/CliLive.h"
#include "cli/CliOutput.h"
#include "cli/CliSession.h"
#include "data/LogWriter.h"
#include "data/SampleStream.h"
#include "link/commands.h"
#include "tuning/MonitorNarrowing.h"
#include "tuning/SensitivityProcedure.h"
#include "tuning/SnrProcedure.h"
#include "tuning/SnrReport.h"
#include "workers/BoardOps.h"
#include "workers/BoardSession.h"
#include "workers/ChipFamily.h"

namespace {

int Usage(CliOutput* out, const QString& message) { return out->fail(kExitUsage, message); }

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

namespace {

// What monitor was asked for.
struct MonitorRequest {
    qint64 limitMs = -1;  // --seconds; -1: until interrupted
    uint16_t mask = 0;    // --channels
    QString target;       // --csv: a file or "-"
};

int ParseMonitor(const CliArgs& a, CliOutput* out, const CliSession& s, MonitorRequest* r) {
    if (a.has("seconds")) {
        bool ok = false;
        const double secs = a.value("seconds").toDouble(&ok);
        if (!ok || !(secs > 0) || secs > 1e9)
            return Usage(out, QStringLiteral("--seconds %1: not a positive number").arg(a.value("seconds")));
        r->limitMs = static_cast<qint64>(secs * 1000.0);
    }
    int code = kExitOk;
    const int channels = MonitorChannels(s, out, &code);
    if (code != kExitOk) return code;
    r->mask = static_cast<uint16_t>((1u << channels) - 1u);
    QString why;
    if (a.has("channels") && !Cli_ParseChannels(a.value("channels"), channels, &r->mask, &why)) return Usage(out, why);
    if (r->mask == 0) return Usage(out, QStringLiteral("the chip has no channel to monitor"));
    r->target = a.has("csv") ? a.value("csv") : QStringLiteral("-");
    if (r->target == QLatin1String("-") && out->json())
        return Usage(out, QStringLiteral("--json and a log on standard output do not mix; give --csv FILE"));
    return kExitOk;
}

}  // namespace

int Cli_CmdMonitor(const CliArgs& a, CliOutput* out, CliSession& s) {
    MonitorRequest request;
    int code = ParseMonitor(a, out, s, &request);
    if (code != kExitOk) return code;
    const QString& target = request.target;
    const qint64 limitMs = request.limitMs;
    const uint16_t mask = request.mask;

    code = s.connectChip();
    if (code != kExitOk) return code;

    const LogHeader header = s.board().logHeader(s.port(), Firmware_Text(s.firmware()));
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

// The end of an autosen run, as it is printed and returned.
int ReportProposal(const SensitivityProcedure& run, const CliLive& live, const CliSession& s, CliOutput* out,
                   bool write) {
    using State = SensitivityProcedure::State;
    const int sin = run.channel() + 1;
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

// The SNR test's settings: config.ini's, as the options change them.
int ParseSnr(const CliArgs& a, CliOutput* out, const CliSession& s, int channels, SnrSettings* result) {
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
    *result = settings;
    return kExitOk;
}

// The SNR test's results: a line each, the JSON rows, the report file, and
// the first channel below the minimum as the failure.
int ReportSnr(const CliArgs& a, CliOutput* out, const CliSession& s, const SnrSettings& settings,
              const QVector<SnrResult>& results) {
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

    return ReportProposal(run, live, s, out, write);
}

int Cli_CmdSnr(const CliArgs& a, CliOutput* out, CliSession& s) {
    int code = kExitOk;
    const int channels = MonitorChannels(s, out, &code);
    if (code != kExitOk) return code;
    SnrSettings settings;
    code = ParseSnr(a, out, s, channels, &settings);
    if (code != kExitOk) return code;

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
        if (s.portFailed() || !s.link().isLive())
            return s.exchangeFailed(QStringLiteral("SNR test"), ExchangeResult::noPort());
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

    return ReportSnr(a, out, s, settings, test.results());
}
