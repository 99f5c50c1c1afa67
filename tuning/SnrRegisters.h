// The sensitivity registers as the signal-to-noise test reads and writes
// them, through the board's command functions. Widget-free; the exchanges
// block the calling thread (a window runs them on its session's queue).
#pragma once

#include <QString>
#include <QVector>
#include <cstdint>

#include "tuning/SnrMath.h"
#include "workers/BoardOps.h"

class BoardLink;
class RegisterImage;

// The channel's sensitivity register value of the chip at dev, read into the
// image; -1 when the read failed.
int Snr_ReadSensitivity(BoardLink& link, RegisterImage& image, uint8_t dev, int family, int channel);

struct SnrApplyOutcome {
    bool ok = false;
    QString message;             // what was written, or what failed and what was put back
    QVector<uint8_t> registers;  // every register written to (the image holds the last read)
};

// Writes each result's recommended value into its channel's sensitivity
// register and reads it back. On the first failure every register already
// changed (the failing one included) gets its old value back, and the message
// says which failed and which were restored. Reads land in the image and
// acknowledged writes are announced by it; write, when given, sends the
// writes instead.
SnrApplyOutcome Snr_ApplyRecommended(BoardLink& link, RegisterImage& image, uint8_t dev,
                                     const QVector<SnrResult>& results, int family, const RegisterWrite& write = {});
