#include "sim/SimChip.h"

#include <algorithm>
#include <cstdlib>

namespace {

constexpr uint8_t kChipIdBase = 0xA0;  // register 0x00 reads 0xA0 + family
constexpr uint8_t kSensitivityDefault = 0x10;
constexpr uint8_t kFamily0ControlReg = 0x3A;
constexpr uint8_t kFamily0ControlDefault = 0x04;

int clampInt(int v, int lo, int hi) { return std::min(std::max(v, lo), hi); }

uint8_t lo8(int v) { return static_cast<uint8_t>(v & 0xFF); }

// Sign bit 3 of the high byte, magnitude in its low three bits.
void putSignMagnitude(uint8_t* pair, int value, uint8_t highExtra) {
    const int mag = std::min(std::abs(value), 0x7FF);
    pair[0] = lo8(mag);
    pair[1] = static_cast<uint8_t>(highExtra | (value < 0 ? 0x08 : 0x00) | ((mag >> 8) & 0x07));
}

}  // namespace

int SimChip::familyForModel(const std::string& model) {
    static const struct {
        const char* name;
        int family;
    } table[] = {{"TK1A", 3}, {"TK1B", 1}, {"TK2A", 2}, {"TK2B", 3},
                 {"TK2C", 4}, {"TK3A", 3}, {"TK4A", 4}, {"TK4B", 4}};
    for (const auto& entry : table) {
        if (model == entry.name) return entry.family;
    }
    return 0;
}

SimChip::SimChip(int family, int channels, int sbf)
    : m_family(clampInt(family, 0, 4)),
      m_channels(clampInt(channels, 0, kMaxChannels)),
      m_sbf(clampInt(sbf, 0, kMaxSbf)) {
    m_level.fill(kDefaultLevel);
    m_channelNoise.fill(-1);
    m_stuck.fill(-1);
    for (int c = 0; c < kMaxChannels; ++c) {
        for (int k = 0; k < kMaxSbf; ++k) {
            // Multiples of four survive the coarsest sense scale unchanged.
            m_baseRef[c][k] = 9000 + 40 * c + 16 * k;
            m_offset[c][k] = ((c * 7 + k * 3) % 11 - 5) * 3;
        }
    }
    buildDefaults();
    restoreDefaults();
}

// --- layout -------------------------------------------------------------------

int SimChip::selectionRegister() const {
    switch (m_family) {
        case 0:
            return 0x4F;
        case 1:
            return 0x90;
        case 2:
        case 4:
            return 0x6F;
        default:
            return -1;
    }
}

int SimChip::selectionValue(int ch) const {
    switch (m_family) {
        case 0:
            return (ch | 0x08) & 0xFF;
        case 1:
            return ch & 0x0F;
        case 2:
        case 4:
            return ch & 0xFF;
        default:
            return -1;
    }
}

uint8_t SimChip::resetRegister() const { return m_family == 2 ? 0x06 : 0x0B; }

uint8_t SimChip::resetBit() const { return m_family == 2 ? 0x80 : 0x01; }

uint8_t SimChip::sensitivityRegister(int ch) const {
    const int base = m_family == 0 ? 0x40 : m_family == 2 ? 0x10 : 0x20;
    return lo8(base + ch);
}

SimChip::Range SimChip::measurementRange() const {
    switch (m_family) {
        case 0:
            return {0x50, 0x5D};
        case 1:
            return {0x91, 0xA2};
        case 2:
            return {0x80, 0xBC};
        case 4:
            return {0xC0, 0xE7};
        default:
            return {1, 0};
    }
}

bool SimChip::isReadOnly(uint8_t reg) const {
    if (reg == 0x00) return true;
    if (m_family == 0 || m_family == 3) {
        if (reg == 0x2A) return true;
    } else if (reg == 0x02 || (reg == 0x03 && m_family != 2)) {
        return true;
    }
    const Range r = measurementRange();
    return reg >= r.lo && reg <= r.hi;
}

void SimChip::buildDefaults() {
    m_defaults.fill(0);
    m_defaults[0x00] = static_cast<uint8_t>(kChipIdBase + m_family);
    for (int c = 0; c < m_channels; ++c) m_defaults[sensitivityRegister(c)] = kSensitivityDefault;
    if (m_family == 0) m_defaults[kFamily0ControlReg] = kFamily0ControlDefault;
    // Where a large channel count makes a sensitivity register land on the
    // selection register, the selection register wins, as on the chip.
    if (selectionRegister() >= 0) m_defaults[selectionRegister()] = static_cast<uint8_t>(selectionValue(0));
    m_defaults[resetRegister()] = 0x00;
}

void SimChip::restoreDefaults() {
    m_regs = m_defaults;
    for (int r = 0; r < 256; ++r)
        if (m_stuck[r] >= 0) m_regs[r] = static_cast<uint8_t>(m_stuck[r]);
    applyTouchRegisters();
    m_active = 0;
    m_pending = -1;
    m_refSlot = 0;
}

void SimChip::applyTouchRegisters() {
    switch (m_family) {
        case 0:
        case 3:
            m_regs[0x2A] = lo8(m_touchMask);
            break;
        case 2:
            m_regs[0x02] = static_cast<uint8_t>(m_touchMask & 0x0F);
            break;
        default:
            m_regs[0x02] = lo8(m_touchMask);
            m_regs[0x03] = lo8(m_touchMask >> 8);
            break;
    }
}

// --- I2C access -----------------------------------------------------------------

int SimChip::activeChannel(uint32_t nowMs) {
    if (m_pending >= 0 && static_cast<int32_t>(nowMs - m_switchAtMs) >= 0) {
        m_active = m_pending;
        m_pending = -1;
    }
    return m_active;
}

void SimChip::select(uint8_t value, uint32_t nowMs) {
    const int target = m_family == 0 ? (value & 0x07) : (value & 0x0F);
    const int current = activeChannel(nowMs);
    if (target == current) {
        m_pending = -1;
        return;
    }
    if (target == m_pending) return;  // already on its way; a repeated write does not restart it
    if (m_selectDelayMs == 0) {
        m_active = target;
        m_pending = -1;
        return;
    }
    m_pending = target;
    m_switchAtMs = nowMs + m_selectDelayMs;
}

void SimChip::read(uint8_t reg, int n, uint8_t* out, uint32_t nowMs) {
    n = clampInt(n, 0, 256);
    const Range r = measurementRange();
    const int slotReg = m_family == 0 ? 0x51 : m_family == 1 ? 0x92 : -1;
    bool measured = false;
    bool coversSlot = false;
    for (int i = 0; i < n; ++i) {
        const int a = (reg + i) & 0xFF;
        measured = measured || (a >= r.lo && a <= r.hi);
        coversSlot = coversSlot || a == slotReg;
    }
    if (measured) render(activeChannel(nowMs), coversSlot);
    for (int i = 0; i < n; ++i) out[i] = m_regs[(reg + i) & 0xFF];
}

void SimChip::write(uint8_t reg, int n, const uint8_t* data, uint32_t nowMs) {
    n = clampInt(n, 0, 256);
    for (int i = 0; i < n; ++i) writeOne(static_cast<uint8_t>((reg + i) & 0xFF), data[i], nowMs);
}

void SimChip::writeOne(uint8_t reg, uint8_t value, uint32_t nowMs) {
    if (isReadOnly(reg)) return;  // acknowledged but without effect, like the chip's status registers
    if (m_stuck[reg] >= 0) return;
    if (reg == resetRegister() && (value & resetBit()) != 0) {
        restoreDefaults();
        return;
    }
    m_regs[reg] = value;
    if (static_cast<int>(reg) == selectionRegister()) select(value, nowMs);
}

// --- sensing model ----------------------------------------------------------------

bool SimChip::setTouched(int ch, bool touched) {
    if (ch < 0 || ch >= m_channels) return false;
    const uint16_t bit = static_cast<uint16_t>(1u << ch);
    const uint16_t mask = touched ? (m_touchMask | bit) : (m_touchMask & ~bit);
    if (mask == m_touchMask) return false;
    m_touchMask = mask;
    applyTouchRegisters();
    return true;
}

bool SimChip::touched(int ch) const { return ch >= 0 && ch < kMaxChannels && (m_touchMask & (1u << ch)) != 0; }

void SimChip::setLevel(int ch, int level) {
    if (ch >= 0 && ch < kMaxChannels) m_level[ch] = level;
}

int SimChip::level(int ch) const { return ch >= 0 && ch < kMaxChannels ? m_level[ch] : 0; }

void SimChip::setBaseRef(int ch, int sbf, int ref) {
    if (ch >= 0 && ch < kMaxChannels && sbf >= 0 && sbf < kMaxSbf) m_baseRef[ch][sbf] = ref;
}

void SimChip::setOffset(int ch, int sbf, int offset) {
    if (ch >= 0 && ch < kMaxChannels && sbf >= 0 && sbf < kMaxSbf) m_offset[ch][sbf] = offset;
}

void SimChip::setNoise(int amplitude, uint32_t seed) {
    m_noise = std::max(amplitude, 0);
    m_rng = seed != 0 ? seed : 1;  // xorshift never leaves the zero state
}

void SimChip::setChannelNoise(int ch, int amplitude) {
    if (ch >= 0 && ch < kMaxChannels) m_channelNoise[ch] = amplitude < 0 ? -1 : amplitude;
}

void SimChip::setStuckRegister(uint8_t reg, int value) {
    m_stuck[reg] = value < 0 ? -1 : (value & 0xFF);
    if (value >= 0) m_regs[reg] = static_cast<uint8_t>(value);
}

int SimChip::noise(int amplitude) {
    if (amplitude <= 0) return 0;
    m_rng ^= m_rng << 13;
    m_rng ^= m_rng >> 17;
    m_rng ^= m_rng << 5;
    return static_cast<int>(m_rng % static_cast<uint32_t>(2 * amplitude + 1)) - amplitude;
}

SimSensing SimChip::quantise(SimSensing s) const {
    s.ref = clampInt(s.ref, 0, 0x3FFF);
    switch (m_family) {
        case 0:
            s.sense = clampInt(s.sense, 0, 0x1FFF * 2) & ~1;
            s.diff = clampInt(s.diff, 0, 0xFF);
            s.offset = 0;
            break;
        case 1:
            s.sense = clampInt(s.sense, 0, 0xFFF * 4) & ~3;
            s.diff = clampInt(s.diff, 0, 0x7FF);
            s.offset = 0;
            break;
        case 2:
            s.sense = clampInt(s.sense, 0, 0x3FFF);
            s.diff = clampInt(s.diff, -0xFF, 0xFF);
            // -2048 would need a zero magnitude with the sign set, which reads as 0.
            s.offset = clampInt(s.offset, -0x7FF, 0x7FF);
            break;
        default:
            s.sense = clampInt(s.sense, 0, 0x3FFF);
            s.diff = clampInt(s.diff, -0x7FF, 0x7FF);
            s.offset = clampInt(s.offset, -0x7FF, 0x7FF);
            break;
    }
    return s;
}

SimSensing SimChip::intended(int ch, int sbf) const {
    if (ch < 0 || ch >= kMaxChannels || sbf < 0 || sbf >= m_sbf) return {};
    SimSensing s;
    s.ref = m_baseRef[ch][sbf];
    s.diff = touched(ch) ? m_level[ch] : 0;
    s.sense = s.ref + s.diff;
    s.offset = m_offset[ch][sbf];
    return quantise(s);
}

SimSensing SimChip::sample(int ch, int sbf) {
    if (sbf >= m_sbf) return {};  // blocks the chip does not have read as zero
    SimSensing s;
    const int amplitude = m_channelNoise[ch] >= 0 ? m_channelNoise[ch] : m_noise;
    s.ref = m_baseRef[ch][sbf] + noise(amplitude);
    s.diff = (touched(ch) ? m_level[ch] : 0) + noise(amplitude);
    s.sense = s.ref + s.diff;
    s.offset = m_offset[ch][sbf];
    return quantise(s);
}

void SimChip::render(int ch, bool rotateReference) {
    SimSensing s[kMaxSbf];
    for (int k = 0; k < kMaxSbf; ++k) s[k] = sample(ch, k);
    switch (m_family) {
        case 0:
        case 1:
            renderOlder(ch, s, rotateReference);
            break;
        case 2:
            renderFamily2(ch, s);
            break;
        case 4:
            renderFamily4(ch, s);
            break;
        default:
            break;
    }
}

void SimChip::renderOlder(int ch, const SimSensing* s, bool rotateReference) {
    uint8_t* r = m_regs.data();
    const int refReg = m_family == 0 ? 0x50 : 0x91;
    const int slot = m_refSlot;
    r[refReg] = lo8(s[slot].ref);
    r[refReg + 1] = static_cast<uint8_t>((slot << 6) | ((s[slot].ref >> 8) & 0x3F));
    if (rotateReference) m_refSlot = (m_refSlot + 1) % std::max(m_sbf, 1);
    for (int k = 0; k < kMaxSbf; ++k) {
        if (m_family == 0) {
            const int stored = s[k].sense / 2;
            r[0x52 + 2 * k] = lo8(stored);
            r[0x53 + 2 * k] = static_cast<uint8_t>(((ch & 0x07) << 5) | ((stored >> 8) & 0x1F));
            r[0x5A + k] = lo8(s[k].diff);
        } else {
            const int stored = s[k].sense / 4;
            r[0x93 + 2 * k] = lo8(stored);
            r[0x94 + 2 * k] = static_cast<uint8_t>(((ch & 0x0F) << 4) | ((stored >> 8) & 0x0F));
            r[0x9B + 2 * k] = lo8(s[k].diff);
            r[0x9C + 2 * k] = static_cast<uint8_t>(((ch & 0x0F) << 4) | ((s[k].diff >> 8) & 0x07));
        }
    }
}

void SimChip::renderFamily2(int ch, const SimSensing* s) {
    uint8_t* r = m_regs.data();
    // Offset blocks exist for every channel the 2-bit tag can name.
    for (int c = 0; c < 4; ++c) {
        for (int k = 0; k < kMaxSbf; ++k) {
            const int v = k < m_sbf ? intended(c, k).offset : 0;
            const int t = v < 0 ? v + 0x800 : v;
            r[0x80 + 8 * c + 2 * k] = lo8(t);
            r[0x81 + 8 * c + 2 * k] = static_cast<uint8_t>((v < 0 ? 0x08 : 0x00) | ((t >> 8) & 0x07));
        }
    }
    uint8_t signs = 0;
    for (int k = 0; k < kMaxSbf; ++k) {
        r[0xA0 + 2 * k] = lo8(s[k].ref);
        r[0xA1 + 2 * k] = static_cast<uint8_t>((s[k].ref >> 8) & 0x3F);
        r[0xB0 + 2 * k] = lo8(s[k].sense);
        r[0xB1 + 2 * k] = static_cast<uint8_t>(((ch & 0x03) << 6) | ((s[k].sense >> 8) & 0x3F));
        r[0xB8 + k] = lo8(std::abs(s[k].diff));
        if (s[k].diff < 0) signs |= static_cast<uint8_t>(1u << k);
    }
    r[0xBC] = signs;
}

void SimChip::renderFamily4(int ch, const SimSensing* s) {
    uint8_t* r = m_regs.data();
    for (int k = 0; k < kMaxSbf; ++k) {
        r[0xC0 + 2 * k] = lo8(s[k].ref);
        r[0xC1 + 2 * k] = static_cast<uint8_t>((s[k].ref >> 8) & 0x3F);
        r[0xD0 + 2 * k] = lo8(s[k].sense);
        r[0xD1 + 2 * k] = static_cast<uint8_t>((s[k].sense >> 8) & 0x3F);
        putSignMagnitude(&r[0xD8 + 2 * k], s[k].diff, static_cast<uint8_t>((ch & 0x0F) << 4));
        putSignMagnitude(&r[0xE0 + 2 * k], s[k].offset, 0);
    }
}
