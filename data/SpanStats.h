// The figures an engineer reads off a stretch of one channel's diff graph:
// how many samples, the noise of those taken with the key untouched and,
// when the stretch holds touches, the signal and the signal-to-noise ratio.
// The arithmetic is the SNR test's (SnrMath), on the samples of the span
// instead of collected ones.
//
// A sample is stamped when the cycle that read it ends, a touch when the
// board reports it, so a sample within kTouchGuardMs of a touch's start or
// end may have been read on the other side of it: it counts in neither group
// (the SNR test, too, drops samples next to a touch). Touched samples are
// those further into one of the channel's own touch intervals, untouched ones
// those further from every touch of the channel. Widget-free.
#pragma once

#include <QString>

#include "tuning/SnrMath.h"

class SampleHistory;

struct SpanStats {
    static constexpr qint64 kTouchGuardMs = 250;

    int channel = 0;  // 0-based
    int sbf = 0;      // 0-based
    int samples = 0;  // all in the span, next to touches too
    SnrStats untouched;
    SnrStats touched;
    double signal = 0.0;   // mean touched - mean untouched
    double snr = 0.0;      // signal / noise p-p
    int sensitivity = -1;  // the register's value; -1 when not known

    bool hasTouches() const { return touched.count > 0; }
    bool hasSnr() const { return touched.count > 0 && untouched.count > 0; }
};

// The samples of the channel with fromMs <= tMs <= toMs on the history's axis.
SpanStats SpanStats_Compute(const SampleHistory& history, int channel, int sbf, qint64 fromMs, qint64 toMs,
                            int sensitivity);

// Tab-separated, for a spreadsheet: the column names, then one line per row.
QString SpanStats_TsvHeader();
QString SpanStats_TsvRow(const SpanStats& stats);
