// What sets the chip families apart, one row per family: the lamps, the
// touch-output, reset, sensitivity and monitor selection registers, and how
// many channels a monitor cycle can name. Adding a family means adding a row.
// Widget-free and Qt-free, so the window, the workers and the command-line
// tool read the same rules.
#pragma once

#include <cstdint>

struct ChipFamily {
    int family = -1;
    bool mediumLamps = false;  // medium lamp images instead of large ones

    // Registers mirroring the touch mask: the first takes the low byte, the
    // second (if any) the high byte; touchLowMask trims the first.
    int touchRegCount = 0;
    uint8_t touchReg[2] = {};
    uint8_t touchLowMask = 0xFF;

    // Reset: set resetBit in resetReg, with a board output pulse of
    // pulseFirst then pulseSecond around it.
    uint8_t resetReg = 0x0B;
    uint8_t resetBit = 0x01;
    uint8_t pulseFirst = 0x01;
    uint8_t pulseSecond = 0x00;

    // Sensitivity register of channel c: sensitivityBase + c.
    uint8_t sensitivityBase = 0x20;

    // Monitor selection register, -1 without a monitor cycle; the channels
    // its channel tag can name (0 without a cycle).
    int selectionReg = -1;
    int monitorChannels = 0;

    bool hasMonitor() const { return selectionReg >= 0; }
};

// The row of a family 0..4; null for anything else.
const ChipFamily* ChipFamily_Find(int family);

// The row of a family, or for anything else a row of the defaults: no lamps
// or touch registers to speak of, no monitor cycle, the common reset and
// sensitivity registers.
const ChipFamily& ChipFamily_Rules(int family);

// Sensitivity register of channel c (0-based) of a family; families without
// a row use the default base.
uint8_t ChipFamily_SensitivityRegister(int family, int channel);
