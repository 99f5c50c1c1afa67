// The signal-to-noise report file, "tkeval snr 1": UTF-8, LF line ends.
//
//   # tkeval snr 1
//   # date=... device=... firmware=... i2c=... margin=...
//   channel,sbf,samples_untouched,...,check_recommended
//   one row per channel; channel and sbf count from 1
//
// Widget-free, so the command-line tool writes the same file.
#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QString>
#include <QVector>

#include "tuning/SnrMath.h"

struct SnrReportInfo {
    QDateTime date;    // when the test ran
    QString device;    // model name from system.ini
    QString firmware;  // as the TEST button shows it, e.g. v3.2; empty when unknown
    int i2c = 0;       // 8-bit chip address
    float margin = 0.0f;
};

extern const char kSnrReportHeader[];

// The whole file.
QByteArray Snr_ReportText(const SnrReportInfo& info, const QVector<SnrResult>& results);
// Writes it atomically; false with a message naming the file and the cause.
bool Snr_WriteReport(const QString& path, const SnrReportInfo& info, const QVector<SnrResult>& results, QString* error);
