#include "handoff/SvgChart.h"

#include <QStringList>
#include <algorithm>
#include <cmath>

namespace {

constexpr int kTraceW = 680;
constexpr int kTraceH = 210;
constexpr int kHistW = 300;
constexpr int kHistH = 210;
constexpr int kLeft = 52;
constexpr int kRight = 12;
constexpr int kTop = 12;
constexpr int kBottom = 34;

QString Num(double v) { return QString::number(v, 'f', 1); }

// Round tick steps (1, 2, 5 times a power of ten) giving about n ticks.
double TickStep(double span, int n) {
    if (span <= 0) return 1;
    const double raw = span / n;
    const double mag = std::pow(10.0, std::floor(std::log10(raw)));
    for (double m : {1.0, 2.0, 5.0, 10.0})
        if (raw <= m * mag) return m * mag;
    return 10 * mag;
}

QString TickLabel(double v, double step) { return QString::number(v, 'f', step < 1 ? (step < 0.1 ? 2 : 1) : 0); }

struct Axis {
    double lo = 0;
    double hi = 1;
    double px0 = 0;  // pixel of lo
    double px1 = 1;  // pixel of hi
    double map(double v) const { return px0 + (v - lo) / (hi - lo) * (px1 - px0); }
};

QString Frame(const Axis& x, const Axis& y, const QString& xTitle, int w, int h) {
    QString s;
    const double sx = TickStep(x.hi - x.lo, 6);
    const double sy = TickStep(y.hi - y.lo, 5);
    s += QStringLiteral("<g class=\"grid\">");
    for (double v = std::ceil(y.lo / sy) * sy; v <= y.hi + 1e-9; v += sy) {
        const double py = y.map(v);
        s += QStringLiteral("<line x1=\"%1\" y1=\"%2\" x2=\"%3\" y2=\"%2\"/>").arg(kLeft).arg(Num(py)).arg(w - kRight);
        s += QStringLiteral("<text x=\"%1\" y=\"%2\" text-anchor=\"end\">%3</text>")
                 .arg(kLeft - 4)
                 .arg(Num(py + 4))
                 .arg(TickLabel(v, sy));
    }
    for (double v = std::ceil(x.lo / sx) * sx; v <= x.hi + 1e-9; v += sx) {
        const double px = x.map(v);
        s += QStringLiteral("<line x1=\"%1\" y1=\"%2\" x2=\"%1\" y2=\"%3\"/>").arg(Num(px)).arg(kTop).arg(h - kBottom);
        s += QStringLiteral("<text x=\"%1\" y=\"%2\" text-anchor=\"middle\">%3</text>")
                 .arg(Num(px))
                 .arg(h - kBottom + 14)
                 .arg(TickLabel(v, sx));
    }
    s += QStringLiteral("</g>");
    s += QStringLiteral("<rect class=\"box\" x=\"%1\" y=\"%2\" width=\"%3\" height=\"%4\"/>")
             .arg(kLeft)
             .arg(kTop)
             .arg(w - kLeft - kRight)
             .arg(h - kTop - kBottom);
    s += QStringLiteral("<text class=\"title\" x=\"%1\" y=\"%2\" text-anchor=\"middle\">%3</text>")
             .arg((kLeft + w - kRight) / 2)
             .arg(h - 4)
             .arg(xTitle.toHtmlEscaped());
    return s;
}

QString Open(int w, int h, const QString& cls, const QString& label) {
    return QStringLiteral(
               "<svg class=\"%1\" width=\"%2\" height=\"%3\" viewBox=\"0 0 %2 %3\" role=\"img\" "
               "aria-label=\"%4\">")
        .arg(cls)
        .arg(w)
        .arg(h)
        .arg(label.toHtmlEscaped());
}

// The diff trace's points. At most a minimum and a maximum per pixel column:
// a long log keeps its spikes and the file stays small.
QString DiffPoints(const KeyTrace& t, qint64 fromMs, qint64 toMs, const Axis& x, const Axis& y) {
    const int columns = kTraceW - kLeft - kRight;
    QStringList pts;
    int i = 0;
    const int n = t.tMs.size();
    while (i < n) {
        const int col = static_cast<int>((t.tMs[i] - fromMs) * columns / qMax<qint64>(1, toMs - fromMs));
        int32_t cmin = t.diff[i];
        int32_t cmax = t.diff[i];
        int first = i;
        int j = i + 1;
        while (j < n && static_cast<int>((t.tMs[j] - fromMs) * columns / qMax<qint64>(1, toMs - fromMs)) == col) {
            cmin = qMin(cmin, t.diff[j]);
            cmax = qMax(cmax, t.diff[j]);
            ++j;
        }
        const double px = x.map(t.tMs[first] / 1000.0);
        if (j - first == 1) {
            pts << Num(px) + QLatin1Char(',') + Num(y.map(cmin));
        } else {
            // Keep the order the values came in, so the line does not zig-zag backwards.
            const bool minFirst = std::find(t.diff.cbegin() + first, t.diff.cbegin() + j, cmin) <
                                  std::find(t.diff.cbegin() + first, t.diff.cbegin() + j, cmax);
            pts << Num(px) + QLatin1Char(',') + Num(y.map(minFirst ? cmin : cmax));
            pts << Num(px) + QLatin1Char(',') + Num(y.map(minFirst ? cmax : cmin));
        }
        i = j;
    }
    return pts.join(QLatin1Char(' '));
}

}  // namespace

QString SvgChart_Trace(const KeyTrace& t, qint64 fromMs, qint64 toMs) {
    if (toMs <= fromMs) toMs = fromMs + 1000;
    int32_t lo = 0;
    int32_t hi = 0;
    if (!t.diff.isEmpty()) {
        const auto mm = std::minmax_element(t.diff.cbegin(), t.diff.cend());
        lo = *mm.first;
        hi = *mm.second;
    }
    for (const ThresholdStep& s : t.threshold) {
        lo = qMin(lo, static_cast<int32_t>(s.value));
        hi = qMax(hi, static_cast<int32_t>(s.value));
    }
    const double pad = qMax(1.0, (hi - lo) * 0.08);
    Axis x{fromMs / 1000.0, toMs / 1000.0, static_cast<double>(kLeft), static_cast<double>(kTraceW - kRight)};
    Axis y{lo - pad, hi + pad, static_cast<double>(kTraceH - kBottom), static_cast<double>(kTop)};

    QString s =
        Open(kTraceW, kTraceH, QStringLiteral("trace"), QStringLiteral("SIN %1 diff over time").arg(t.channel + 1));
    for (const TouchInterval& iv : t.touches) {
        const double x0 = x.map(qMax(iv.startMs, fromMs) / 1000.0);
        const double x1 = x.map(qMin(iv.endMs < 0 ? toMs : iv.endMs, toMs) / 1000.0);
        s += QStringLiteral("<rect class=\"touch\" x=\"%1\" y=\"%2\" width=\"%3\" height=\"%4\"/>")
                 .arg(Num(x0))
                 .arg(kTop)
                 .arg(Num(qMax(1.0, x1 - x0)))
                 .arg(kTraceH - kTop - kBottom);
    }
    s += Frame(x, y, QStringLiteral("time (s)"), kTraceW, kTraceH);

    s += QStringLiteral("<polyline class=\"diff\" points=\"%1\"/>").arg(DiffPoints(t, fromMs, toMs, x, y));

    if (!t.threshold.isEmpty()) {
        QStringList th;
        for (int k = 0; k < t.threshold.size(); ++k) {
            const ThresholdStep& st = t.threshold[k];
            const qint64 start = qMax(st.tMs, fromMs);
            const qint64 end = k + 1 < t.threshold.size() ? t.threshold[k + 1].tMs : toMs;
            th << Num(x.map(start / 1000.0)) + QLatin1Char(',') + Num(y.map(st.value));
            th << Num(x.map(end / 1000.0)) + QLatin1Char(',') + Num(y.map(st.value));
        }
        s += QStringLiteral("<polyline class=\"threshold\" points=\"%1\"/>").arg(th.join(QLatin1Char(' ')));
    }
    s += QStringLiteral("</svg>");
    return s;
}

QString SvgChart_Histogram(const KeyTrace& t) {
    QString s = Open(kHistW, kHistH, QStringLiteral("histogram"),
                     QStringLiteral("SIN %1 untouched diff histogram").arg(t.channel + 1));
    if (t.untouched.isEmpty()) {
        s +=
            QStringLiteral("<text class=\"title\" x=\"%1\" y=\"%2\" text-anchor=\"middle\">no untouched samples</text>")
                .arg(kHistW / 2)
                .arg(kHistH / 2);
        return s + QStringLiteral("</svg>");
    }
    const auto mm = std::minmax_element(t.untouched.cbegin(), t.untouched.cend());
    const int lo = *mm.first;
    const int hi = *mm.second;
    // One bin per value while that stays readable, else 30 even bins.
    const int span = hi - lo + 1;
    const int bins = qMin(span, 30);
    const double width = static_cast<double>(span) / bins;
    QVector<int> counts(bins);
    for (int32_t v : t.untouched) counts[qMin(bins - 1, static_cast<int>((v - lo) / width))]++;
    const int top = *std::max_element(counts.cbegin(), counts.cend());

    Axis x{lo - 0.5, lo - 0.5 + span, static_cast<double>(kLeft), static_cast<double>(kHistW - kRight)};
    Axis y{0, top * 1.1, static_cast<double>(kHistH - kBottom), static_cast<double>(kTop)};
    s += Frame(x, y, QStringLiteral("untouched diff"), kHistW, kHistH);
    for (int b = 0; b < bins; ++b) {
        if (counts[b] == 0) continue;
        const double x0 = x.map(lo - 0.5 + b * width);
        const double x1 = x.map(lo - 0.5 + (b + 1) * width);
        const double y0 = y.map(counts[b]);
        s += QStringLiteral("<rect class=\"bar\" x=\"%1\" y=\"%2\" width=\"%3\" height=\"%4\"><title>%5</title></rect>")
                 .arg(Num(x0 + 0.5))
                 .arg(Num(y0))
                 .arg(Num(qMax(1.0, x1 - x0 - 1)))
                 .arg(Num(y.map(0) - y0))
                 .arg(counts[b]);
    }
    return s + QStringLiteral("</svg>");
}
