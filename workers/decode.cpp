#include "workers/decode.h"

#include "workers/ChipFamily.h"

namespace decode {

namespace {

int ClampSbf(int n) { return n < 0 ? 0 : (n > kSbf ? kSbf : n); }

uint8_t At(const uint8_t* img, int reg) { return img[reg & 0xFF]; }

const MonitorLayout* LayoutOf(int family) {
    const ChipFamily& f = ChipFamily_Rules(family);
    return f.hasMonitor() ? f.monitor : nullptr;
}

// --- family 0: reference first, 3-bit tags in the top of each sense pair ---

CyclePlan Plan0(int) {
    CyclePlan p;
    p.pre[0] = {0x50, 2};
    p.preCount = 1;
    p.tags[0] = {0x52, 8};
    p.tags[1] = {0x5A, 4};
    p.tagCount = 2;
    return p;
}

bool Check0(const uint8_t* img, int ch, int) {
    for (int k = 0; k < 4; ++k)
        if ((At(img, 0x53 + 2 * k) >> 5) != ch) return false;
    return true;
}

ChannelValues Decode0(const uint8_t* img, int) {
    ChannelValues v;
    for (int k = 0; k < kSbf; ++k) {
        const int sen13 = ((At(img, 0x53 + 2 * k) & 0x1F) << 8) | At(img, 0x52 + 2 * k);
        v.sen[k] = static_cast<uint16_t>(sen13 * 2);
        v.diff[k] = At(img, 0x5A + k);
    }
    return v;
}

// --- family 1: reference first, 4-bit tags over sense and diff pairs ---

CyclePlan Plan1(int) {
    CyclePlan p;
    p.pre[0] = {0x91, 2};
    p.preCount = 1;
    p.tags[0] = {0x93, 8};
    p.tags[1] = {0x9B, 8};
    p.tagCount = 2;
    return p;
}

bool Check1(const uint8_t* img, int ch, int) {
    for (int k = 0; k < 8; ++k)
        if ((At(img, 0x94 + 2 * k) >> 4) != ch) return false;
    return true;
}

ChannelValues Decode1(const uint8_t* img, int) {
    ChannelValues v;
    for (int k = 0; k < kSbf; ++k) {
        const int sen12 = ((At(img, 0x94 + 2 * k) & 0x0F) << 8) | At(img, 0x93 + 2 * k);
        v.sen[k] = static_cast<uint16_t>(sen12 * 4);
        v.diff[k] = ((At(img, 0x9C + 2 * k) & 0x07) << 8) | At(img, 0x9B + 2 * k);
    }
    return v;
}

// --- family 2: 2-bit tags on the sense counts, offsets in a block per channel ---

// Each channel's offsets live in their own 8-byte block.
int OffsetBlock2(int ch) { return (0x80 + 8 * ch) & 0xFF; }

CyclePlan Plan2(int ch) {
    CyclePlan p;
    p.tags[0] = {0xB0, 8};
    p.tagCount = 1;
    p.data[0] = {static_cast<uint8_t>(OffsetBlock2(ch)), 8};
    p.data[1] = {0xA0, 8};
    p.data[2] = {0xB8, 5};
    p.dataCount = 3;
    return p;
}

bool Check2(const uint8_t* img, int ch, int sbfCount) {
    for (int k = 0; k < ClampSbf(sbfCount); ++k)
        if ((At(img, 0xB1 + 2 * k) >> 6) != ch) return false;
    return true;
}

ChannelValues Decode2(const uint8_t* img, int ch) {
    ChannelValues v;
    const int b = OffsetBlock2(ch);
    const uint8_t signs = At(img, 0xBC);
    v.hasRef = true;
    v.hasOffset = true;
    for (int k = 0; k < kSbf; ++k) {
        v.offset[k] = Offset12(At(img, b + 2 * k), At(img, b + 2 * k + 1));
        v.ref[k] = Count14(At(img, 0xA0 + 2 * k), At(img, 0xA1 + 2 * k));
        v.sen[k] = Count14(At(img, 0xB0 + 2 * k), At(img, 0xB1 + 2 * k));
        const int mag = At(img, 0xB8 + k);
        v.diff[k] = (signs >> k) & 1 ? -mag : mag;
    }
    return v;
}

// --- family 4: 4-bit tags on the diff pairs, sign-magnitude diff and offset ---

CyclePlan Plan4(int) {
    CyclePlan p;
    p.tags[0] = {0xD8, 8};
    p.tagCount = 1;
    p.data[0] = {0xC0, 8};
    p.data[1] = {0xD0, 8};
    p.data[2] = {0xE0, 8};
    p.dataCount = 3;
    return p;
}

bool Check4(const uint8_t* img, int ch, int sbfCount) {
    for (int k = 0; k < ClampSbf(sbfCount); ++k)
        if ((At(img, 0xD9 + 2 * k) >> 4) != ch) return false;
    return true;
}

ChannelValues Decode4(const uint8_t* img, int) {
    ChannelValues v;
    v.hasRef = true;
    v.hasOffset = true;
    for (int k = 0; k < kSbf; ++k) {
        v.ref[k] = Count14(At(img, 0xC0 + 2 * k), At(img, 0xC1 + 2 * k));
        v.sen[k] = Count14(At(img, 0xD0 + 2 * k), At(img, 0xD1 + 2 * k));
        v.diff[k] = SignMagnitude11(At(img, 0xD8 + 2 * k), At(img, 0xD9 + 2 * k));
        v.offset[k] = SignMagnitude11(At(img, 0xE0 + 2 * k), At(img, 0xE1 + 2 * k));
    }
    return v;
}

}  // namespace

const MonitorLayout kLayoutFamily0 = {Plan0, Check0, Decode0, 0x50};
const MonitorLayout kLayoutFamily1 = {Plan1, Check1, Decode1, 0x91};
const MonitorLayout kLayoutFamily2 = {Plan2, Check2, Decode2, -1};
const MonitorLayout kLayoutFamily4 = {Plan4, Check4, Decode4, -1};

bool Has_Monitor(int family) { return LayoutOf(family) != nullptr; }

int Channel_Limit(int family) { return Has_Monitor(family) ? ChipFamily_Rules(family).monitorChannels : 0; }

int Selection_Register(int family) { return Has_Monitor(family) ? ChipFamily_Rules(family).selectionReg : -1; }

uint8_t Selection_Value(int family, int ch) { return ChipFamily_Rules(family).selectionValue(ch); }

CyclePlan Plan(int family, int ch) {
    const MonitorLayout* m = LayoutOf(family);
    return m ? m->plan(ch) : CyclePlan();
}

bool Channel_Check(int family, const uint8_t* img, int ch, int sbfCount) {
    const MonitorLayout* m = LayoutOf(family);
    return m != nullptr && m->check(img, ch, sbfCount);
}

RefSlot Reference_Slot(int family, const uint8_t* img) {
    const MonitorLayout* m = LayoutOf(family);
    if (m == nullptr || m->referenceReg < 0) return {};
    const uint8_t hi = At(img, m->referenceReg + 1);
    RefSlot r;
    r.slot = hi >> 6;
    r.value = Count14(At(img, m->referenceReg), hi);
    return r;
}

ChannelValues Decode_Channel(int family, const uint8_t* img, int ch) {
    const MonitorLayout* m = LayoutOf(family);
    return m ? m->decode(img, ch) : ChannelValues();
}

uint16_t Count14(uint8_t lo, uint8_t hi) { return static_cast<uint16_t>(((hi & 0x3F) << 8) | lo); }

int32_t SignMagnitude11(uint8_t lo, uint8_t hi) {
    const int32_t mag = ((hi & 0x07) << 8) | lo;
    return (hi & 0x08) ? -mag : mag;
}

int32_t Offset12(uint8_t lo, uint8_t hi) {
    const int32_t t = ((hi & 0x07) << 8) | lo;
    if ((hi & 0x08) == 0) return t;
    return t > 0 ? t - 2048 : 0;
}

int Next_Selected_Channel(int from, int limit, uint16_t mask) {
    if (limit > kChannels) limit = kChannels;
    if (limit <= 0) return -1;
    const int start = (from >= 0 && from < limit) ? from : limit - 1;
    for (int i = 1; i <= limit; ++i) {
        const int c = (start + i) % limit;
        if (mask & (1u << c)) return c;
    }
    return -1;
}

}  // namespace decode
