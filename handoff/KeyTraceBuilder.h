// Each key's diff over time, its threshold and its touches, gathered from a
// log or from the sample history for the tuning report's charts.
#pragma once

#include <QString>
#include <QVector>
#include <cstdint>

#include "data/SampleHistory.h"

struct ThresholdStep {
    qint64 tMs = 0;
    int value = 0;  // the sensitivity register from tMs on
};

struct KeyTrace {
    int channel = 0;  // 0-based
    int sbf = 0;      // 0-based, the SBF drawn
    QVector<qint64> tMs;
    QVector<int32_t> diff;
    QVector<int32_t> untouched;  // diffs while no key was touched
    QVector<TouchInterval> touches;
    QVector<ThresholdStep> threshold;  // empty when unknown
};

class KeyTraceBuilder {
public:
    // sbfOf[c]: the SBF to draw for channel c; threshold[c]: its sensitivity
    // register at the start, -1 when unknown. family maps register writes to
    // channels.
    KeyTraceBuilder(int family, const QVector<int>& sbfOf, const QVector<int>& threshold);

    void addSample(const MonitorSample& sample);
    void setTouch(qint64 tMs, uint16_t mask);
    void addWrite(qint64 tMs, int reg, int value);
    // The keys that had samples, by channel; open touches end at the last time.
    QVector<KeyTrace> finish();
    qint64 firstMs() const { return m_FirstMs; }
    qint64 lastMs() const { return m_LastMs; }

    // Reads a log from start to end; false with "FILE: line N: why" when it
    // does not open or holds a row that does not parse. A last line cut off
    // by a crash is left out and noted in *notes.
    bool readLog(const QString& path, QString* error, QStringList* notes);
    // What the sample history holds now.
    void readHistory(const SampleHistory& history, int channels);

private:
    void seen(qint64 tMs);

    int m_Family;
    QVector<int> m_SbfOf;
    QVector<int> m_StartThreshold;
    QVector<KeyTrace> m_Traces;  // kMaxChannels, by channel
    uint16_t m_Mask = 0;
    qint64 m_FirstMs = -1;
    qint64 m_LastMs = -1;
};
