#include "tuning/SnrMath.h"

#include <cmath>
#include <limits>

#include "tuning/SensitivityProposal.h"

SnrStats Snr_Stats(const QVector<int32_t>& samples) {
    SnrStats s;
    s.count = samples.size();
    if (s.count == 0) return s;
    double sum = 0.0;
    s.min = s.max = samples.first();
    for (int32_t v : samples) {
        sum += v;
        if (v < s.min) s.min = v;
        if (v > s.max) s.max = v;
    }
    s.mean = sum / s.count;
    double squares = 0.0;
    for (int32_t v : samples) squares += (v - s.mean) * (v - s.mean);
    s.rms = std::sqrt(squares / s.count);
    s.peakToPeak = static_cast<double>(s.max) - static_cast<double>(s.min);
    return s;
}

double Snr_Ratio(double signal, double noisePeakToPeak) {
    if (noisePeakToPeak > 0.0) return signal / noisePeakToPeak;
    if (signal > 0.0) return std::numeric_limits<double>::infinity();
    if (signal < 0.0) return -std::numeric_limits<double>::infinity();
    return 0.0;
}

SnrCheck Snr_Check(double value, double meanUntouched, double noisePeakToPeak, double meanTouched) {
    if (value <= meanUntouched + noisePeakToPeak) return SnrCheck::Noise;
    if (value >= meanTouched) return SnrCheck::Missed;
    return SnrCheck::Safe;
}

QString Snr_CheckWord(SnrCheck check) {
    switch (check) {
        case SnrCheck::Noise:
            return QStringLiteral("noise");
        case SnrCheck::Missed:
            return QStringLiteral("missed");
        case SnrCheck::Safe:
            break;
    }
    return QStringLiteral("safe");
}

int Snr_Recommended(const QVector<int32_t>& touched, float margin) {
    // Summed sample by sample in float32, as the automatic procedure sums.
    float sum = 0.0f;
    for (int32_t v : touched) sum += static_cast<float>(v);
    return AutoSen_Evaluate(sum, touched.size(), margin);
}

int Snr_DefaultSbf(int sbfCount) {
    if (sbfCount >= 3) return 2;
    return sbfCount > 0 ? sbfCount - 1 : 0;
}

SnrResult Snr_Evaluate(int channel, int sbf, const QVector<int32_t>& untouched, const QVector<int32_t>& touched,
                       double minSnr, float margin, int sensitivityNow) {
    const SnrStats u = Snr_Stats(untouched);
    const SnrStats t = Snr_Stats(touched);
    SnrResult r;
    r.channel = channel;
    r.sbf = sbf;
    r.samplesUntouched = u.count;
    r.samplesTouched = t.count;
    r.meanUntouched = u.mean;
    r.meanTouched = t.mean;
    r.noisePeakToPeak = u.peakToPeak;
    r.noiseRms = u.rms;
    r.signal = t.mean - u.mean;
    r.snr = Snr_Ratio(r.signal, r.noisePeakToPeak);
    r.minSnr = minSnr;
    r.pass = r.snr >= minSnr;
    r.sensitivityNow = sensitivityNow;
    r.checkNow = Snr_Check(sensitivityNow, u.mean, u.peakToPeak, t.mean);
    r.recommended = Snr_Recommended(touched, margin);
    r.checkRecommended = Snr_Check(r.recommended, u.mean, u.peakToPeak, t.mean);
    return r;
}

QString Snr_FormatNumber(double value) {
    if (std::isnan(value)) return QStringLiteral("nan");
    if (std::isinf(value)) return value > 0 ? QStringLiteral("inf") : QStringLiteral("-inf");
    QString text = QString::number(value, 'f', 2);
    if (text.contains(QLatin1Char('.'))) {
        while (text.endsWith(QLatin1Char('0'))) text.chop(1);
        if (text.endsWith(QLatin1Char('.'))) text.chop(1);
    }
    if (text == QLatin1String("-0")) text = QStringLiteral("0");
    return text;
}

QString Snr_DisplayNumber(double value) {
    if (std::isinf(value)) return value > 0 ? QStringLiteral("∞") : QStringLiteral("−∞");
    return Snr_FormatNumber(value);
}
