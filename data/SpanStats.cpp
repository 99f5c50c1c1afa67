#include "data/SpanStats.h"

#include <QStringList>
#include <QVector>

#include "data/SampleHistory.h"

SpanStats SpanStats_Compute(const SampleHistory& history, int channel, int sbf, qint64 fromMs, qint64 toMs,
                            int sensitivity) {
    SpanStats out;
    out.channel = channel;
    out.sbf = sbf;
    out.sensitivity = sensitivity;
    if (channel < 0 || channel >= kMaxChannels || sbf < 0 || sbf >= kMaxSbf || toMs < fromMs) return out;
    const qsizetype i0 = history.lowerBound(channel, fromMs);
    const qsizetype i1 = history.lowerBound(channel, toMs + 1);
    constexpr qint64 guard = SpanStats::kTouchGuardMs;
    const QVector<TouchInterval> touches = history.touchIntervals(channel, fromMs - guard, toMs + guard);
    QVector<int32_t> untouched, touched;
    untouched.reserve(i1 - i0);
    int next = 0;
    for (qsizetype i = i0; i < i1; ++i) {
        const MonitorSample& s = history.at(channel, i);
        while (next < touches.size() && touches[next].endMs >= 0 && touches[next].endMs + guard <= s.tMs) ++next;
        if (next < touches.size() && s.tMs >= touches[next].startMs - guard) {
            const TouchInterval& iv = touches[next];
            if (s.tMs >= iv.startMs + guard && (iv.endMs < 0 || s.tMs < iv.endMs)) touched.append(s.diff[sbf]);
            continue;
        }
        untouched.append(s.diff[sbf]);
    }
    out.samples = static_cast<int>(i1 - i0);
    out.untouched = Snr_Stats(untouched);
    out.touched = Snr_Stats(touched);
    out.signal = out.touched.mean - out.untouched.mean;
    out.snr = Snr_Ratio(out.signal, out.untouched.peakToPeak);
    return out;
}

QString SpanStats_TsvHeader() {
    return QStringLiteral(
        "channel\tSBF\tsamples\tmean untouched\tnoise p-p\tnoise RMS\tmean touched\tSNR\tsensitivity");
}

QString SpanStats_TsvRow(const SpanStats& s) {
    const bool quiet = s.untouched.count > 0;
    QStringList cells{QStringLiteral("SIN %1").arg(s.channel + 1),
                      QString::number(s.sbf + 1),
                      QString::number(s.samples),
                      quiet ? Snr_FormatNumber(s.untouched.mean) : QString(),
                      quiet ? Snr_FormatNumber(s.untouched.peakToPeak) : QString(),
                      quiet ? Snr_FormatNumber(s.untouched.rms) : QString(),
                      s.hasTouches() ? Snr_FormatNumber(s.touched.mean) : QString(),
                      s.hasSnr() ? Snr_FormatNumber(s.snr) : QString(),
                      s.sensitivity >= 0 ? QString::number(s.sensitivity) : QString()};
    return cells.join(QLatin1Char('\t'));
}
