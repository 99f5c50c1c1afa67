// The simulated touch chip: 256 registers behind the board's I2C master and a
// small sensing model per channel. It encodes its measurement values exactly
// as the processing cycle decodes them, one layout per chip family.
//
// Driven by the clock the caller passes in (milliseconds, wrapping like a
// 32-bit tick counter); it does no I/O and is not thread-safe on its own.
#pragma once

#include <array>
#include <cstdint>
#include <string>

// One channel's values for one sensing block, in the units the tool shows.
struct SimSensing {
    int ref = 0;
    int sense = 0;
    int diff = 0;
    int offset = 0;
};

class SimChip {
public:
    static constexpr int kMaxChannels = 16;
    static constexpr int kMaxSbf = 4;
    static constexpr int kDefaultLevel = 60;
    static constexpr uint32_t kDefaultSelectDelayMs = 60;

    // Family of a model name as the tool's device table maps it (unknown -> 0).
    static int familyForModel(const std::string& model);

    // Channel and SBF counts are clamped to 0..16 and 0..4.
    SimChip(int family, int channels, int sbf);

    int family() const { return m_family; }
    int channels() const { return m_channels; }
    int sbfCount() const { return m_sbf; }

    // --- the I2C side ------------------------------------------------------
    // n registers from reg upwards, wrapping at 0xFF like the chip's address
    // pointer. Reads refresh the measurement registers first.
    void read(uint8_t reg, int n, uint8_t* out, uint32_t nowMs);
    void write(uint8_t reg, int n, const uint8_t* data, uint32_t nowMs);
    // Register contents without any side effect (no refresh, no rotation).
    uint8_t peek(uint8_t reg) const { return m_regs[reg]; }
    uint8_t defaultValue(uint8_t reg) const { return m_defaults[reg]; }

    // --- family layout ---------------------------------------------------------
    int selectionRegister() const;     // -1 for family 3
    int selectionValue(int ch) const;  // what the tool writes to select ch
    uint8_t resetRegister() const;
    uint8_t resetBit() const;
    uint8_t sensitivityRegister(int ch) const;
    // Channel whose data the measurement registers show at nowMs.
    int activeChannel(uint32_t nowMs);

    // --- sensing model --------------------------------------------------------
    // Out-of-range channels are ignored; the result says whether anything changed.
    bool setTouched(int ch, bool touched);
    bool touched(int ch) const;
    uint16_t touchMask() const { return m_touchMask; }
    void setLevel(int ch, int level);
    int level(int ch) const;
    void setBaseRef(int ch, int sbf, int ref);
    void setOffset(int ch, int sbf, int offset);
    // Noise of +-amplitude counts on reference and difference; 0 = exact.
    void setNoise(int amplitude, uint32_t seed);
    // One channel's own noise amplitude (a board with a bad key); -1 follows setNoise.
    void setChannelNoise(int ch, int amplitude);
    // A register that acknowledges writes but keeps value (a faulty part); -1 lets it store again.
    void setStuckRegister(uint8_t reg, int value);
    void setSelectDelay(uint32_t ms) { m_selectDelayMs = ms; }

    // Noise-free values of (ch, sbf), limited to what the family's registers
    // can carry: these are what a correct decoder must get back.
    SimSensing intended(int ch, int sbf) const;

private:
    struct Range {
        int lo;
        int hi;  // inclusive; lo > hi means none
    };

    void buildDefaults();
    void restoreDefaults();
    void applyTouchRegisters();
    bool isReadOnly(uint8_t reg) const;
    Range measurementRange() const;
    void writeOne(uint8_t reg, uint8_t value, uint32_t nowMs);
    void select(uint8_t value, uint32_t nowMs);
    void render(int ch, bool rotateReference);
    // The measurement registers of channel ch in each family's layout, from
    // its SBFs' values s (families 0 and 1 share theirs).
    void renderOlder(int ch, const SimSensing* s, bool rotateReference);
    void renderFamily2(int ch, const SimSensing* s);
    void renderFamily4(int ch, const SimSensing* s);
    SimSensing sample(int ch, int sbf);
    SimSensing quantise(SimSensing s) const;
    int noise(int amplitude);

    int m_family;
    int m_channels;
    int m_sbf;
    std::array<uint8_t, 256> m_regs{};
    std::array<uint8_t, 256> m_defaults{};

    uint16_t m_touchMask = 0;
    std::array<int, kMaxChannels> m_level{};
    std::array<std::array<int, kMaxSbf>, kMaxChannels> m_baseRef{};
    std::array<std::array<int, kMaxSbf>, kMaxChannels> m_offset{};
    int m_noise = 0;
    std::array<int, kMaxChannels> m_channelNoise{};
    std::array<int, 256> m_stuck{};
    uint32_t m_rng = 1;

    int m_active = 0;
    int m_pending = -1;  // channel the chip is switching to, -1 when none
    uint32_t m_switchAtMs = 0;
    uint32_t m_selectDelayMs = kDefaultSelectDelayMs;
    int m_refSlot = 0;  // families 0 and 1 expose one reference per read
};
