#include "workers/ChipFamily.h"

namespace {

ChipFamily Row(int family, bool medium, int touchCount, uint8_t t0, uint8_t t1, uint8_t lowMask, uint8_t resetReg,
               uint8_t resetBit, uint8_t first, uint8_t second, uint8_t sensBase, int selReg, int monChannels) {
    ChipFamily f;
    f.family = family;
    f.mediumLamps = medium;
    f.touchRegCount = touchCount;
    f.touchReg[0] = t0;
    f.touchReg[1] = t1;
    f.touchLowMask = lowMask;
    f.resetReg = resetReg;
    f.resetBit = resetBit;
    f.pulseFirst = first;
    f.pulseSecond = second;
    f.sensitivityBase = sensBase;
    f.selectionReg = selReg;
    f.monitorChannels = monChannels;
    return f;
}

// Family 2 resets through bit 7 of 0x06. Its board output pulse is our
// choice: high then low, as for families 0 and 3, whose boards share the
// output circuit. Channel tags are 3 bits wide in family 0, 2 bits in
// family 2 and 4 bits in families 1 and 4; family 3 has no monitor cycle.
const ChipFamily kFamilies[] = {
    //  family medium touch regs        reset            pulse      sens  select mon
    Row(0, false, 1, 0x2A, 0x00, 0xFF, 0x0B, 0x01, 0x01, 0x00, 0x40, 0x4F, 8),
    Row(1, true, 2, 0x02, 0x03, 0xFF, 0x0B, 0x01, 0x00, 0x01, 0x20, 0x90, 16),
    Row(2, false, 1, 0x02, 0x00, 0x0F, 0x06, 0x80, 0x01, 0x00, 0x10, 0x6F, 4),
    Row(3, false, 1, 0x2A, 0x00, 0xFF, 0x0B, 0x01, 0x01, 0x00, 0x20, -1, 0),
    Row(4, true, 2, 0x02, 0x03, 0xFF, 0x0B, 0x01, 0x00, 0x01, 0x20, 0x6F, 16),
};

}  // namespace

const ChipFamily* ChipFamily_Find(int family) {
    for (const ChipFamily& f : kFamilies)
        if (f.family == family) return &f;
    return nullptr;
}

const ChipFamily& ChipFamily_Rules(int family) {
    static const ChipFamily kDefaults;
    const ChipFamily* f = ChipFamily_Find(family);
    return f ? *f : kDefaults;
}

uint8_t ChipFamily_SensitivityRegister(int family, int channel) {
    return static_cast<uint8_t>(ChipFamily_Rules(family).sensitivityBase + channel);
}
