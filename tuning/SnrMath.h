// Signal-to-noise arithmetic of one channel and one SBF, from its difference
// values with no finger on any key (untouched) and with a finger held on the
// key (touched). Widget-free: the dialog and the command-line tool share it.
//
//   noise p-p  = max - min of the untouched samples
//   noise RMS  = their population standard deviation
//   signal     = mean touched - mean untouched
//   SNR        = signal / noise p-p; pass when SNR >= the minimum
#pragma once

#include <QString>
#include <QVector>
#include <cstdint>

constexpr int kSnrDefaultSamples = 50;
constexpr double kSnrDefaultMin = 5.0;

// Mean, extremes, peak to peak and population standard deviation; all 0 for
// no samples.
struct SnrStats {
    int count = 0;
    double mean = 0.0;
    int32_t min = 0;
    int32_t max = 0;
    double peakToPeak = 0.0;
    double rms = 0.0;
};
SnrStats Snr_Stats(const QVector<int32_t>& samples);

// Signal over noise. Without noise the ratio is +infinity for a positive
// signal, -infinity for a negative one and 0 without any signal: a key that
// does not respond must not pass.
double Snr_Ratio(double signal, double noisePeakToPeak);

// What a sensitivity value V means against the measured levels: noise can
// trigger it when V <= mean untouched + noise p-p (checked first), a touch
// may be missed when V >= mean touched, otherwise it is safe.
enum class SnrCheck { Safe, Noise, Missed };
SnrCheck Snr_Check(double value, double meanUntouched, double noisePeakToPeak, double meanTouched);
// "safe", "noise", "missed": the words of the report file.
QString Snr_CheckWord(SnrCheck check);

// The recommendation: what the automatic sensitivity procedure computes from
// these touched samples (float32 sum, mean times margin, truncated, capped).
int Snr_Recommended(const QVector<int32_t>& touched, float margin);

// The SBF tested by default (0-based): the third when there are at least
// three, otherwise the last; 0 without any.
int Snr_DefaultSbf(int sbfCount);

struct SnrResult {
    int channel = 0;  // 0-based
    int sbf = 0;      // 0-based
    int samplesUntouched = 0;
    int samplesTouched = 0;
    double meanUntouched = 0.0;
    double meanTouched = 0.0;
    double noisePeakToPeak = 0.0;
    double noiseRms = 0.0;
    double signal = 0.0;
    double snr = 0.0;
    double minSnr = kSnrDefaultMin;
    bool pass = false;
    int sensitivityNow = -1;  // register value before the test; -1 when it could not be read
    SnrCheck checkNow = SnrCheck::Safe;
    int recommended = 0;
    SnrCheck checkRecommended = SnrCheck::Safe;
};

// The whole evaluation of one channel.
SnrResult Snr_Evaluate(int channel, int sbf, const QVector<int32_t>& untouched, const QVector<int32_t>& touched,
                       double minSnr, float margin, int sensitivityNow);

// A number as the report writes it: at most two decimals, no trailing zeros,
// "inf" and "-inf" for the infinities.
QString Snr_FormatNumber(double value);
// The same for the screen, with the infinity sign.
QString Snr_DisplayNumber(double value);
