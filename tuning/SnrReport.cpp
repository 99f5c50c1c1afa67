#include "tuning/SnrReport.h"

#include <QSaveFile>

const char kSnrReportHeader[] =
    "channel,sbf,samples_untouched,samples_touched,mean_untouched,noise_pp,noise_rms,signal,snr,min_snr,pass,"
    "sensitivity_now,check_now,sensitivity_recommended,check_recommended";

namespace {

// A value of the key=value line: quoted when a blank, quote or '=' would
// split it, with inner quotes doubled.
QString MetaValue(const QString& value) {
    if (value.isEmpty()) return QStringLiteral("\"\"");
    bool plain = true;
    for (QChar c : value)
        if (c.isSpace() || c == QLatin1Char('"') || c == QLatin1Char('=')) plain = false;
    if (plain) return value;
    QString quoted = value;
    quoted.replace(QLatin1Char('"'), QStringLiteral("\"\""));
    return QLatin1Char('"') + quoted + QLatin1Char('"');
}

}  // namespace

QByteArray Snr_ReportText(const SnrReportInfo& info, const QVector<SnrResult>& results) {
    QString text = QStringLiteral("# tkeval snr 1\n");
    const QString firmware = info.firmware.isEmpty() ? QStringLiteral("unknown") : info.firmware;
    text += QStringLiteral("# date=%1 device=%2 firmware=%3 i2c=%4 margin=%5\n")
                .arg(MetaValue(info.date.toOffsetFromUtc(info.date.offsetFromUtc()).toString(Qt::ISODateWithMs)),
                     MetaValue(info.device), MetaValue(firmware),
                     QString::asprintf("0x%02X", static_cast<unsigned>(info.i2c & 0xFF)),
                     Snr_FormatNumber(static_cast<double>(info.margin)));
    text += QLatin1String(kSnrReportHeader) + QLatin1Char('\n');
    for (const SnrResult& r : results) {
        const bool known = r.sensitivityNow >= 0;
        const QStringList row = {
            QString::number(r.channel + 1),
            QString::number(r.sbf + 1),
            QString::number(r.samplesUntouched),
            QString::number(r.samplesTouched),
            Snr_FormatNumber(r.meanUntouched),
            Snr_FormatNumber(r.noisePeakToPeak),
            Snr_FormatNumber(r.noiseRms),
            Snr_FormatNumber(r.signal),
            Snr_FormatNumber(r.snr),
            Snr_FormatNumber(r.minSnr),
            r.pass ? QStringLiteral("yes") : QStringLiteral("no"),
            known ? QString::number(r.sensitivityNow) : QString(),
            known ? Snr_CheckWord(r.checkNow) : QString(),
            QString::number(r.recommended),
            Snr_CheckWord(r.checkRecommended),
        };
        text += row.join(QLatin1Char(',')) + QLatin1Char('\n');
    }
    return text.toUtf8();
}

bool Snr_WriteReport(const QString& path, const SnrReportInfo& info, const QVector<SnrResult>& results,
                     QString* error) {
    QSaveFile file(path);
    const QByteArray text = Snr_ReportText(info, results);
    if (!file.open(QIODevice::WriteOnly) || file.write(text) != text.size() || !file.commit()) {
        if (error) *error = QStringLiteral("Could not write %1: %2").arg(path, file.errorString());
        return false;
    }
    return true;
}
