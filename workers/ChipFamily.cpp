#include "workers/ChipFamily.h"

#include <cstring>

namespace {

struct Monitoring {
    int selectionReg;
    uint8_t selectionAnd;
    uint8_t selectionOr;
    int channels;
    const decode::MonitorLayout* layout;
};

ChipFamily Row(int family, const char* const* models, bool medium, int touchCount, uint8_t t0, uint8_t t1,
               uint8_t lowMask, uint8_t resetReg, uint8_t resetBit, uint8_t first, uint8_t second, uint8_t sensBase,
               int runControlReg, uint8_t runControlBit, Monitoring mon) {
    ChipFamily f;
    f.family = family;
    f.models = models;
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
    f.runControlReg = runControlReg;
    f.runControlBit = runControlBit;
    f.selectionReg = mon.selectionReg;
    f.selectionAnd = mon.selectionAnd;
    f.selectionOr = mon.selectionOr;
    f.monitorChannels = mon.channels;
    f.monitor = mon.layout;
    return f;
}

// Family 0 stands for every DEVICE the table does not name.
const char* const kModels0[] = {nullptr};
const char* const kModels1[] = {"TK1B", nullptr};
const char* const kModels2[] = {"TK2A", nullptr};
const char* const kModels3[] = {"TK1A", "TK2B", "TK3A", nullptr};
const char* const kModels4[] = {"TK2C", "TK4A", "TK4B", nullptr};

// Family 2 resets through bit 7 of 0x06. Its board output pulse is our
// choice: high then low, as for families 0 and 3, whose boards share the
// output circuit. Channel tags are 3 bits wide in family 0, 2 bits in
// family 2 and 4 bits in families 1 and 4; family 3 has no monitor cycle.
// Family 0 holds bit 5 of 0x3A set while its sensitivity is measured.
const ChipFamily kFamilies[] = {
    //  family models medium touch regs       reset            pulse      sens  control     monitoring
    Row(0, kModels0, false, 1, 0x2A, 0x00, 0xFF, 0x0B, 0x01, 0x01, 0x00, 0x40, 0x3A, 0x20,
        {0x4F, 0xFF, 0x08, 8, &decode::kLayoutFamily0}),
    Row(1, kModels1, true, 2, 0x02, 0x03, 0xFF, 0x0B, 0x01, 0x00, 0x01, 0x20, -1, 0x00,
        {0x90, 0x0F, 0x00, 16, &decode::kLayoutFamily1}),
    Row(2, kModels2, false, 1, 0x02, 0x00, 0x0F, 0x06, 0x80, 0x01, 0x00, 0x10, -1, 0x00,
        {0x6F, 0xFF, 0x00, 4, &decode::kLayoutFamily2}),
    Row(3, kModels3, false, 1, 0x2A, 0x00, 0xFF, 0x0B, 0x01, 0x01, 0x00, 0x20, -1, 0x00, {-1, 0xFF, 0x00, 0, nullptr}),
    Row(4, kModels4, true, 2, 0x02, 0x03, 0xFF, 0x0B, 0x01, 0x00, 0x01, 0x20, -1, 0x00,
        {0x6F, 0xFF, 0x00, 16, &decode::kLayoutFamily4}),
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

int ChipFamily_ForModel(const char* model, int fallback) {
    if (model == nullptr) return fallback;
    for (const ChipFamily& f : kFamilies)
        for (const char* const* m = f.models; m != nullptr && *m != nullptr; ++m)
            if (std::strcmp(*m, model) == 0) return f.family;
    return fallback;
}

int ChipFamily_Count() { return static_cast<int>(sizeof kFamilies / sizeof kFamilies[0]); }

const ChipFamily& ChipFamily_At(int index) { return kFamilies[index]; }
