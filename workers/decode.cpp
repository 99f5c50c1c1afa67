#include "workers/decode.h"

#include "workers/ChipFamily.h"

namespace decode {

namespace {

int ClampSbf(int n) { return n < 0 ? 0 : (n > kSbf ? kSbf : n); }

uint8_t At(const uint8_t* img, int reg) { return img[reg & 0xFF]; }

// Family 2 keeps each channel's offsets in its own 8-byte block.
int OffsetBlock(int ch) { return (0x80 + 8 * ch) & 0xFF; }

}  // namespace

bool Has_Monitor(int family) { return ChipFamily_Rules(family).hasMonitor(); }

int Channel_Limit(int family) { return ChipFamily_Rules(family).monitorChannels; }

int Selection_Register(int family) { return ChipFamily_Rules(family).selectionReg; }

uint8_t Selection_Value(int family, int ch) {
    switch (family) {
        case 0:
            return static_cast<uint8_t>(ch | 0x08);
        case 1:
            return static_cast<uint8_t>(ch & 0x0F);
        case 2:
        case 4:
            return static_cast<uint8_t>(ch);
        default:
            return 0;
    }
}

CyclePlan Plan(int family, int ch) {
    CyclePlan p;
    switch (family) {
        case 0:
            p.pre[0] = {0x50, 2};
            p.preCount = 1;
            p.tags[0] = {0x52, 8};
            p.tags[1] = {0x5A, 4};
            p.tagCount = 2;
            break;
        case 1:
            p.pre[0] = {0x91, 2};
            p.preCount = 1;
            p.tags[0] = {0x93, 8};
            p.tags[1] = {0x9B, 8};
            p.tagCount = 2;
            break;
        case 2:
            p.tags[0] = {0xB0, 8};
            p.tagCount = 1;
            p.data[0] = {static_cast<uint8_t>(OffsetBlock(ch)), 8};
            p.data[1] = {0xA0, 8};
            p.data[2] = {0xB8, 5};
            p.dataCount = 3;
            break;
        case 4:
            p.tags[0] = {0xD8, 8};
            p.tagCount = 1;
            p.data[0] = {0xC0, 8};
            p.data[1] = {0xD0, 8};
            p.data[2] = {0xE0, 8};
            p.dataCount = 3;
            break;
        default:
            break;
    }
    return p;
}

bool Channel_Check(int family, const uint8_t* img, int ch, int sbfCount) {
    switch (family) {
        case 0:
            for (int k = 0; k < 4; ++k)
                if ((At(img, 0x53 + 2 * k) >> 5) != ch) return false;
            return true;
        case 1:
            for (int k = 0; k < 8; ++k)
                if ((At(img, 0x94 + 2 * k) >> 4) != ch) return false;
            return true;
        case 2:
            for (int k = 0; k < ClampSbf(sbfCount); ++k)
                if ((At(img, 0xB1 + 2 * k) >> 6) != ch) return false;
            return true;
        case 4:
            for (int k = 0; k < ClampSbf(sbfCount); ++k)
                if ((At(img, 0xD9 + 2 * k) >> 4) != ch) return false;
            return true;
        default:
            return false;
    }
}

RefSlot Reference_Slot(int family, const uint8_t* img) {
    int lo;
    if (family == 0)
        lo = 0x50;
    else if (family == 1)
        lo = 0x91;
    else
        return {};
    const uint8_t hi = At(img, lo + 1);
    RefSlot r;
    r.slot = hi >> 6;
    r.value = Count14(At(img, lo), hi);
    return r;
}

ChannelValues Decode_Channel(int family, const uint8_t* img, int ch) {
    ChannelValues v;
    switch (family) {
        case 0:
            for (int k = 0; k < kSbf; ++k) {
                const int sen13 = ((At(img, 0x53 + 2 * k) & 0x1F) << 8) | At(img, 0x52 + 2 * k);
                v.sen[k] = static_cast<uint16_t>(sen13 * 2);
                v.diff[k] = At(img, 0x5A + k);
            }
            break;
        case 1:
            for (int k = 0; k < kSbf; ++k) {
                const int sen12 = ((At(img, 0x94 + 2 * k) & 0x0F) << 8) | At(img, 0x93 + 2 * k);
                v.sen[k] = static_cast<uint16_t>(sen12 * 4);
                v.diff[k] = ((At(img, 0x9C + 2 * k) & 0x07) << 8) | At(img, 0x9B + 2 * k);
            }
            break;
        case 2: {
            const int b = OffsetBlock(ch);
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
            break;
        }
        case 4:
            v.hasRef = true;
            v.hasOffset = true;
            for (int k = 0; k < kSbf; ++k) {
                v.ref[k] = Count14(At(img, 0xC0 + 2 * k), At(img, 0xC1 + 2 * k));
                v.sen[k] = Count14(At(img, 0xD0 + 2 * k), At(img, 0xD1 + 2 * k));
                v.diff[k] = SignMagnitude11(At(img, 0xD8 + 2 * k), At(img, 0xD9 + 2 * k));
                v.offset[k] = SignMagnitude11(At(img, 0xE0 + 2 * k), At(img, 0xE1 + 2 * k));
            }
            break;
        default:
            break;
    }
    return v;
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
