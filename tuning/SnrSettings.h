// What a signal-to-noise test is asked to measure, its defaults from a
// board's configuration, and the check of a request against the chip.
#pragma once

#include <QString>
#include <QStringList>
#include <QVector>
#include <cstdint>

#include "tuning/SnrMath.h"

struct BoardConfig;

struct SnrSettings {
    QVector<int> channels;  // 0-based, tested in this order
    int sbf = 2;            // 0-based
    int samples = kSnrDefaultSamples;
    double minSnr = kSnrDefaultMin;
    float margin = 0.6f;
};

// Defaults from the configuration: every channel of monitored (all when it
// is empty), the default SBF, [SNR] SAMPLES and MIN from config.ini and the
// automatic sensitivity margin. A value that does not parse or is out of
// range keeps its default and adds a message naming it.
SnrSettings Snr_DefaultSettings(const BoardConfig& config, uint16_t monitored, QStringList* messages = nullptr);
// Empty when the settings can run on channelCount channels of sbfCount SBFs;
// otherwise what is wrong.
QString Snr_CheckSettings(const SnrSettings& settings, int channelCount, int sbfCount);

constexpr int kSnrMinSamples = 2;  // one sample has no spread
constexpr int kSnrMaxSamples = 100000;
