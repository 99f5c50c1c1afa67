// The values that travel on the sample stream. Plain values, copied into
// every queued signal, so that each consumer sees the publication it was sent,
// with its time, however late it runs.
#pragma once

#include <QMetaType>
#include <cstdint>

#include "app/limits.h"

// One publication of the processing thread: one channel's values of every
// configured SBF, exactly as the monitoring dialog shows them.
struct MonitorSample {
    qint64 tMs = 0;     // steady ms since the stream's origin (the connection, or the log's start)
    qint64 wallMs = 0;  // wall-clock ms since the epoch
    int channel = 0;    // 0-based
    int sbfCount = 0;   // configured SBFs; the arrays hold all four as the chip's arrays do
    uint16_t ref[kMaxSbf] = {};
    uint16_t sense[kMaxSbf] = {};
    int32_t diff[kMaxSbf] = {};
    int32_t offset[kMaxSbf] = {};
};

// A change of the touch mask, from a touch frame or the chip's touch registers.
struct TouchEvent {
    qint64 tMs = 0;
    qint64 wallMs = 0;
    uint16_t mask = 0;  // bit i = channel i touched
};

Q_DECLARE_METATYPE(MonitorSample)
Q_DECLARE_METATYPE(TouchEvent)

// Milliseconds of the steady clock: never jumps, unrelated to the date.
qint64 Steady_Ms();
// Milliseconds since the epoch.
qint64 Wall_Ms();
