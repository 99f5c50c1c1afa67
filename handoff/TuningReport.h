// The tuning report: one self-contained HTML file (its pictures inline SVG,
// no link to anything outside it) that a colleague opens in any browser and
// prints. Its markup is also well-formed XML.
#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <QVector>

#include "handoff/HandoffInfo.h"
#include "handoff/KeyTraceBuilder.h"
#include "handoff/RegisterNames.h"
#include "handoff/SnrReportReader.h"

struct TuningReport {
    HandoffInfo info;
    QVector<NamedRegister> registers;  // with names; empty when none was given
    bool haveSnr = false;
    SnrReportFile snr;
    QVector<KeyTrace> traces;  // by channel
    QString traceSource;       // the log's name, or "Signals history"
    qint64 fromMs = 0;         // the span the traces cover
    qint64 toMs = 0;
    QStringList notes;  // remarks about the inputs, shown under the header
};

// The SBF each channel is drawn in: the one its SNR result used, else the
// default test SBF.
QVector<int> TuningReport_SbfOf(const TuningReport& report, int sbfCount);
// The thresholds at the start of the traces: the sensitivity registers of the
// register set, else the SNR test's "now" values; -1 where neither says.
QVector<int> TuningReport_Thresholds(const TuningReport& report, int family);

QByteArray TuningReport_Html(const TuningReport& report);
