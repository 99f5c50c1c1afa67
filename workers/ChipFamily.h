// What sets the chip families apart, one row per family: the model names of
// system.ini, the lamps, the touch-output, reset, sensitivity and control
// registers, and the monitoring cycle (its read plan, channel tags and
// decoder). Adding a family means adding a row and, if it can be monitored,
// its layout in decode.cpp. Widget-free and Qt-free, so the window, the
// workers and the command-line tool read the same rules.
#pragma once

#include <cstdint>

#include "workers/decode.h"

struct ChipFamily {
    int family = -1;
    // DEVICE names that mean this family, null-terminated.
    const char* const* models = nullptr;
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
    // A control bit the sensitivity procedure sets for the length of a run
    // and puts back after it; runControlReg -1 where the family has none.
    int runControlReg = -1;
    uint8_t runControlBit = 0;

    // Monitor selection register, -1 without a monitor cycle; channel c is
    // selected by (c & selectionAnd) | selectionOr. The channels its channel
    // tag can name (0 without a cycle), and the cycle's layout.
    int selectionReg = -1;
    uint8_t selectionAnd = 0xFF;
    uint8_t selectionOr = 0x00;
    int monitorChannels = 0;
    const decode::MonitorLayout* monitor = nullptr;

    bool hasMonitor() const { return selectionReg >= 0 && monitor != nullptr; }
    uint8_t selectionValue(int ch) const {
        return hasMonitor() ? static_cast<uint8_t>((ch & selectionAnd) | selectionOr) : 0;
    }
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

// The family a DEVICE name of system.ini stands for, or fallback when no row
// names it. Names are compared exactly.
int ChipFamily_ForModel(const char* model, int fallback);

// The rows, for whoever needs to walk every family (tests, tables).
int ChipFamily_Count();
const ChipFamily& ChipFamily_At(int index);
