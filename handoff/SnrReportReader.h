// Reads back the signal-to-noise report file ("tkeval snr 1", data/SnrReport)
// for a tuning report. Strict: any line that is not what the writer writes
// refuses the file, naming the line.
#pragma once

#include <QString>
#include <QVector>

#include "tuning/SnrReport.h"

struct SnrReportFile {
    SnrReportInfo info;
    QVector<SnrResult> results;
};

// False with "FILE: line N: why" in *error.
bool SnrReport_Read(const QString& path, SnrReportFile* out, QString* error);
// The same from text already in memory; name stands for the file in messages.
bool SnrReport_Parse(const QByteArray& text, const QString& name, SnrReportFile* out, QString* error);
