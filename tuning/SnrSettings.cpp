#include "tuning/SnrSettings.h"

#include <QtGlobal>
#include <cmath>

#include "app/config.h"
#include "app/limits.h"
#include "platform/ini.h"

SnrSettings Snr_DefaultSettings(const BoardConfig& config, uint16_t monitored, QStringList* messages) {
    SnrSettings s;
    const int channels = qBound(0, config.channels, kMaxChannels);
    const uint16_t mask = monitored;
    for (int c = 0; c < channels; ++c)
        if (mask & (1u << c)) s.channels.append(c);
    if (s.channels.isEmpty())
        for (int c = 0; c < channels; ++c) s.channels.append(c);
    s.sbf = Snr_DefaultSbf(qBound(0, config.sbfs, kMaxSbf));
    s.margin = config.margin;

    const QString file = WorkDir_File(config.workDir, "config.ini");
    const QString samples = Ini_GetString(file, QStringLiteral("SNR"), QStringLiteral("SAMPLES"), QString());
    if (!samples.isEmpty()) {
        bool ok = false;
        const int n = samples.toInt(&ok);
        if (ok && n >= kSnrMinSamples && n <= kSnrMaxSamples)
            s.samples = n;
        else if (messages)
            messages->append(
                QStringLiteral("config.ini: [SNR] SAMPLES = %1 is not a whole number from %2 to %3, using %4")
                    .arg(samples)
                    .arg(kSnrMinSamples)
                    .arg(kSnrMaxSamples)
                    .arg(s.samples));
    }
    const QString min = Ini_GetString(file, QStringLiteral("SNR"), QStringLiteral("MIN"), QString());
    if (!min.isEmpty()) {
        bool ok = false;
        const double v = min.toDouble(&ok);
        if (ok && std::isfinite(v) && v >= 0.0)
            s.minSnr = v;
        else if (messages)
            messages->append(QStringLiteral("config.ini: [SNR] MIN = %1 is not a number of 0 or more, using %2")
                                 .arg(min, Snr_FormatNumber(s.minSnr)));
    }
    return s;
}

QString Snr_CheckSettings(const SnrSettings& s, int channelCount, int sbfCount) {
    if (s.channels.isEmpty()) return QStringLiteral("Choose at least one channel.");
    QVector<int> seen;
    for (int c : s.channels) {
        if (c < 0 || c >= channelCount)
            return QStringLiteral("SIN %1 is not a channel of this chip (it has %2).").arg(c + 1).arg(channelCount);
        if (seen.contains(c)) return QStringLiteral("SIN %1 is chosen twice.").arg(c + 1);
        seen.append(c);
    }
    if (s.sbf < 0 || s.sbf >= sbfCount)
        return QStringLiteral("SBF %1 is not configured (there are %2).").arg(s.sbf + 1).arg(sbfCount);
    if (s.samples < kSnrMinSamples || s.samples > kSnrMaxSamples)
        return QStringLiteral("The number of samples must be from %1 to %2.").arg(kSnrMinSamples).arg(kSnrMaxSamples);
    if (!std::isfinite(s.minSnr) || s.minSnr < 0.0) return QStringLiteral("The minimum SNR must be 0 or more.");
    return QString();
}
