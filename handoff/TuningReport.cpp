#include "handoff/TuningReport.h"

#include <cmath>

#include "app/limits.h"
#include "handoff/SvgChart.h"
#include "tuning/SnrMath.h"
#include "workers/ChipFamily.h"

namespace {

// Escaped, and without the control characters XML forbids (a stray byte in
// hint.txt must not make the report unreadable to an XML tool).
QString Esc(const QString& text) {
    QString clean = text;
    for (QChar& c : clean)
        if (c.unicode() < 0x20 && c != QLatin1Char('\n') && c != QLatin1Char('\t')) c = QLatin1Char(' ');
    return clean.toHtmlEscaped();
}

QString Hex2(int v) { return QString::asprintf("%02X", static_cast<unsigned>(v) & 0xFFu); }

const char kStyle[] = R"(
body { font-family: "DejaVu Sans", "Liberation Sans", Arial, sans-serif; font-size: 10.5pt; color: #222;
       margin: 24px auto; max-width: 1040px; }
h1 { font-size: 18pt; margin: 0 0 8px; }
h2 { font-size: 13.5pt; border-bottom: 2px solid #4a6fa5; padding-bottom: 2px; margin-top: 26px; }
h3 { font-size: 11pt; margin: 14px 0 4px; }
table { border-collapse: collapse; margin: 6px 0; }
th, td { border: 1px solid #bbb; padding: 2px 8px; text-align: left; vertical-align: top; }
th { background: #e8edf4; }
td.key { white-space: nowrap; }
td.num { text-align: right; font-variant-numeric: tabular-nums; }
td.mono, span.mono { font-family: "DejaVu Sans Mono", monospace; }
table.meta th { width: 11em; }
.note { white-space: pre-wrap; }
tr.fail td { background: #fbe3e3; }
tr.fail td.result { color: #b00020; font-weight: bold; }
td.result { color: #1b7a1b; font-weight: bold; }
p.remark { color: #8a5a00; margin: 4px 0; }
p.summary { margin: 4px 0 8px; }
div.regs { display: flex; flex-wrap: wrap; gap: 0 24px; align-items: flex-start; }
div.key { break-inside: avoid; page-break-inside: avoid; margin-bottom: 10px; }
div.charts { display: flex; flex-wrap: wrap; gap: 10px; align-items: flex-start; }
svg { background: #fff; }
svg text { font-size: 10px; fill: #444; font-family: "DejaVu Sans", Arial, sans-serif; }
svg .grid line { stroke: #e2e2e2; stroke-width: 1; }
svg rect.box { fill: none; stroke: #888; }
svg rect.touch { fill: #ffe8a8; }
svg polyline.diff { fill: none; stroke: #2a5db0; stroke-width: 1.2; }
svg polyline.threshold { fill: none; stroke: #c62828; stroke-width: 1.4; stroke-dasharray: 6 4; }
svg rect.bar { fill: #5a7fbf; }
.legend span { margin-right: 14px; }
.swatch { display: inline-block; width: 18px; height: 8px; margin-right: 4px; vertical-align: middle; }
footer { margin-top: 24px; color: #777; font-size: 9pt; }
@page { size: A4; margin: 14mm; }
@media print {
  body { margin: 0; max-width: none; font-size: 9.5pt; }
  h2 { break-after: avoid; page-break-after: avoid; }
  tr { break-inside: avoid; page-break-inside: avoid; }
  th, tr.fail td { -webkit-print-color-adjust: exact; print-color-adjust: exact; }
  svg { print-color-adjust: exact; -webkit-print-color-adjust: exact; }
  th, td { padding: 1px 5px; }
  /* A key's two charts side by side across the page width. */
  div.charts { flex-wrap: nowrap; }
  svg.trace { width: 68%; height: auto; }
  svg.histogram { width: 30%; height: auto; }
}
)";

QString Row(const QString& name, const QString& value, const QString& cls = QString()) {
    return QStringLiteral("<tr><th>%1</th><td%3>%2</td></tr>\n")
        .arg(Esc(name), value, cls.isEmpty() ? QString() : QStringLiteral(" class=\"%1\"").arg(cls));
}

QString Header(const TuningReport& r) {
    const HandoffInfo& i = r.info;
    QString s = QStringLiteral("<section id=\"header\">\n<table class=\"meta\">\n");
    s += Row(QStringLiteral("Device"), Esc(i.device.isEmpty() ? QStringLiteral("unknown") : i.device));
    s += Row(QStringLiteral("Family"), i.family < 0 ? QStringLiteral("unknown") : QString::number(i.family));
    s += Row(QStringLiteral("Firmware"), Esc(i.firmware.isEmpty() ? QStringLiteral("unknown") : i.firmware));
    s += Row(QStringLiteral("I2C address"),
             QStringLiteral("0x%1 (8-bit; 7-bit 0x%2)").arg(Hex2(i.i2c), Hex2((i.i2c & 0xFF) >> 1)));
    s += Row(QStringLiteral("Tool"), QStringLiteral("tkeval %1").arg(Esc(i.toolVersion)));
    s += Row(QStringLiteral("Date"), Esc(Handoff_DateText(i.date)));
    s += Row(QStringLiteral("Register set"), Esc(i.source.isEmpty() ? QStringLiteral("none") : i.source));
    s += Row(QStringLiteral("Signals"), Esc(r.traceSource.isEmpty() ? QStringLiteral("none") : r.traceSource));
    s += Row(QStringLiteral("Note"), Esc(i.note), QStringLiteral("note"));
    s += QStringLiteral("</table>\n");
    for (const QString& n : r.notes) s += QStringLiteral("<p class=\"remark\">%1</p>\n").arg(Esc(n));
    return s + QStringLiteral("</section>\n");
}

QString Registers(const TuningReport& r) {
    QString s = QStringLiteral("<section id=\"registers\">\n<h2>Register set</h2>\n");
    if (r.registers.isEmpty()) return s + QStringLiteral("<p>No register set was given.</p>\n</section>\n");
    s += QStringLiteral("<p class=\"summary\">%1 registers from %2.</p>\n")
             .arg(r.registers.size())
             .arg(Esc(r.info.source));
    // Two tables side by side keep a long set on one page; a browser's
    // multi-column text would lose the column heads.
    const int n = r.registers.size();
    const int perTable = n > 16 ? (n + 1) / 2 : n;
    s += QStringLiteral("<div class=\"regs\">\n");
    for (int first = 0; first < n; first += perTable) {
        s += QStringLiteral(
            "<table class=\"register-table\">\n<thead><tr><th>Reg</th><th>Name</th><th>Value</th>"
            "<th>Dec</th></tr></thead>\n<tbody>\n");
        for (int i = first; i < qMin(n, first + perTable); ++i) {
            const NamedRegister& g = r.registers[i];
            s += QStringLiteral(
                     "<tr data-reg=\"%1\"><td class=\"mono\">%1</td><td>%2</td>"
                     "<td class=\"mono num\">%3</td><td class=\"num\">%4</td></tr>\n")
                     .arg(Hex2(g.reg), Esc(g.hint.isEmpty() ? QStringLiteral("\u2014") : g.hint), Hex2(g.value))
                     .arg(g.value);
        }
        s += QStringLiteral("</tbody>\n</table>\n");
    }
    return s + QStringLiteral("</div>\n</section>\n");
}

QString Sensitivity(int value, SnrCheck check) {
    if (value < 0) return QStringLiteral("\u2014");
    return QStringLiteral("0x%1 (%2) %3").arg(Hex2(value)).arg(value).arg(Snr_CheckWord(check));
}

QString Snr(const TuningReport& r) {
    QString s = QStringLiteral("<section id=\"snr\">\n<h2>Signal-to-noise test</h2>\n");
    if (!r.haveSnr) return s + QStringLiteral("<p>No SNR test result was given.</p>\n</section>\n");
    const QVector<SnrResult>& res = r.snr.results;
    int failing = 0;
    for (const SnrResult& x : res) failing += x.pass ? 0 : 1;
    s += QStringLiteral("<p class=\"summary\">Tested %1 (margin %2): %3.</p>\n")
             .arg(Esc(Handoff_DateText(r.snr.info.date)), Snr_FormatNumber(static_cast<double>(r.snr.info.margin)),
                  failing == 0 ? QStringLiteral("every key passes")
                               : QStringLiteral("<strong>%1 of %2 keys fail</strong>").arg(failing).arg(res.size()));
    s += QStringLiteral(
        "<table id=\"snr-table\">\n<thead><tr><th>Key</th><th>SBF</th><th>Noise p-p</th><th>Noise RMS</th>"
        "<th>Signal</th><th>SNR</th><th>Min</th><th>Result</th><th>Sensitivity now</th><th>Recommended</th>"
        "</tr></thead>\n<tbody>\n");
    for (const SnrResult& x : res) {
        s += QStringLiteral("<tr data-key=\"%1\"%2><td class=\"key\">SIN %1</td><td class=\"num\">%3</td>")
                 .arg(x.channel + 1)
                 .arg(x.pass ? QString() : QStringLiteral(" class=\"fail\""))
                 .arg(x.sbf + 1);
        for (double v : {x.noisePeakToPeak, x.noiseRms, x.signal, x.snr, x.minSnr})
            s += QStringLiteral("<td class=\"num\">%1</td>").arg(Esc(Snr_DisplayNumber(v)));
        s += QStringLiteral("<td class=\"result\">%1</td><td>%2</td><td>%3</td></tr>\n")
                 .arg(x.pass ? QStringLiteral("pass") : QStringLiteral("FAIL"),
                      Sensitivity(x.sensitivityNow, x.checkNow), Sensitivity(x.recommended, x.checkRecommended));
    }
    return s + QStringLiteral("</tbody>\n</table>\n</section>\n");
}

QString Keys(const TuningReport& r) {
    QString s = QStringLiteral("<section id=\"keys\">\n<h2>Keys over time</h2>\n");
    if (r.traces.isEmpty()) return s + QStringLiteral("<p>No log or signal history was given.</p>\n</section>\n");
    s += QStringLiteral("<p class=\"summary\">From %1, %2 s.</p>\n")
             .arg(Esc(r.traceSource))
             .arg(QString::number((r.toMs - r.fromMs) / 1000.0, 'f', 1));
    s += QStringLiteral(
        "<p class=\"legend\"><span><span class=\"swatch\" style=\"background:#2a5db0\"></span>diff</span>"
        "<span><span class=\"swatch\" style=\"background:#c62828\"></span>threshold (sensitivity register)</span>"
        "<span><span class=\"swatch\" style=\"background:#ffe8a8\"></span>touched</span></p>\n");
    for (const KeyTrace& t : r.traces) {
        const SnrStats st = Snr_Stats(t.untouched);
        s += QStringLiteral("<div class=\"key\" data-key=\"%1\">\n<h3>SIN %1 <small>(SBF %2)</small></h3>\n")
                 .arg(t.channel + 1)
                 .arg(t.sbf + 1);
        s += QStringLiteral(
                 "<p class=\"summary\">%1 samples, %2; untouched: %3 samples, mean %4, "
                 "p-p %5, RMS %6%7</p>\n")
                 .arg(t.tMs.size())
                 .arg(t.touches.size() == 1 ? QStringLiteral("1 touch")
                                            : QStringLiteral("%1 touches").arg(t.touches.size()))
                 .arg(st.count)
                 .arg(Snr_FormatNumber(st.mean), Snr_FormatNumber(st.peakToPeak), Snr_FormatNumber(st.rms),
                      t.threshold.isEmpty() ? QStringLiteral("; threshold unknown")
                                            : QStringLiteral("; threshold %1").arg(t.threshold.last().value));
        s += QStringLiteral("<div class=\"charts\">\n%1\n%2\n</div>\n</div>\n")
                 .arg(SvgChart_Trace(t, r.fromMs, r.toMs), SvgChart_Histogram(t));
    }
    return s + QStringLiteral("</section>\n");
}

}  // namespace

QVector<int> TuningReport_SbfOf(const TuningReport& report, int sbfCount) {
    QVector<int> sbf(kMaxChannels, Snr_DefaultSbf(sbfCount));
    if (report.haveSnr)
        for (const SnrResult& r : report.snr.results)
            if (r.channel >= 0 && r.channel < kMaxChannels) sbf[r.channel] = r.sbf;
    return sbf;
}

QVector<int> TuningReport_Thresholds(const TuningReport& report, int family) {
    QVector<int> th(kMaxChannels, -1);
    if (report.haveSnr)
        for (const SnrResult& r : report.snr.results)
            if (r.channel >= 0 && r.channel < kMaxChannels) th[r.channel] = r.sensitivityNow;
    for (int c = 0; c < kMaxChannels; ++c) {
        const int reg = ChipFamily_SensitivityRegister(family, c);
        for (const NamedRegister& g : report.registers)
            if (g.reg == reg) th[c] = g.value;
    }
    return th;
}

QByteArray TuningReport_Html(const TuningReport& r) {
    const QString title = QStringLiteral("Tuning report \u2014 %1")
                              .arg(r.info.device.isEmpty() ? QStringLiteral("touch keys") : r.info.device);
    QString s;
    s += QStringLiteral("<!DOCTYPE html>\n<html lang=\"en\">\n<head>\n<meta charset=\"utf-8\"/>\n");
    s += QStringLiteral("<title>%1</title>\n<style>%2</style>\n</head>\n<body>\n")
             .arg(Esc(title), QLatin1String(kStyle));
    s += QStringLiteral("<h1>%1</h1>\n").arg(Esc(title));
    s += Header(r) + Registers(r) + Snr(r) + Keys(r);
    s += QStringLiteral("<footer>Written by tkeval %1 on %2.</footer>\n</body>\n</html>\n")
             .arg(Esc(r.info.toolVersion), Esc(Handoff_DateText(r.info.date)));
    return s.toUtf8();
}
