// Register maps and decoding of the chips' monitor registers, one layout per
// chip family (the family table names which). Pure functions over a 256-byte
// register image indexed by register address, so that the monitoring
// thread, a logger, a plotter or a command-line tool decode the same bytes
// the same way. No Qt here.
#pragma once

#include <cstdint>

namespace decode {

constexpr int kSbf = 4;        // values per channel
constexpr int kChannels = 16;  // channel masks are 16 bits

// One register read of the cycle.
struct Read {
    uint8_t reg;
    uint8_t len;
};

// The reads of one monitor cycle in their order: the reference read comes
// before the selection check (families 0 and 1), the tag reads carry the
// channel tags checked before anything is decoded, the data reads follow the
// check (families 2 and 4).
struct CyclePlan {
    Read pre[1];
    int preCount = 0;
    Read tags[2];
    int tagCount = 0;
    Read data[3];
    int dataCount = 0;
};

// The rest read the family table (workers/ChipFamily.h).
// Families 0, 1, 2 and 4 have a monitor cycle; family 3 and unknown ones none.
bool Has_Monitor(int family);
// The channels a family can monitor; 0 without a cycle.
int Channel_Limit(int family);
// Selection register and the value that selects channel ch; -1 / 0 when the
// family has no cycle.
int Selection_Register(int family);
uint8_t Selection_Value(int family, int ch);
CyclePlan Plan(int family, int ch);

// True when the measurement registers in img belong to channel ch. Families 2
// and 4 check only the first sbfCount tags (clamped to 0..4); families 0 and 1
// check all of theirs.
bool Channel_Check(int family, const uint8_t* img, int ch, int sbfCount);

// Families 0 and 1 refresh one reference count per cycle; the chip names its
// slot in the top two bits.
struct RefSlot {
    int slot = -1;  // -1: the family has no such register
    uint16_t value = 0;
};
RefSlot Reference_Slot(int family, const uint8_t* img);

struct ChannelValues {
    bool hasRef = false;  // families 2 and 4 carry all four reference counts
    uint16_t ref[kSbf] = {};
    uint16_t sen[kSbf] = {};
    int32_t diff[kSbf] = {};
    bool hasOffset = false;  // families 2 and 4
    int32_t offset[kSbf] = {};
};

// How a family's measurement registers are read, checked and decoded.
struct MonitorLayout {
    CyclePlan (*plan)(int ch);
    // True when the registers in img belong to channel ch (see Channel_Check).
    bool (*check)(const uint8_t* img, int ch, int sbfCount);
    ChannelValues (*decode)(const uint8_t* img, int ch);
    // Low register of the reference count refreshed once per cycle, the
    // slot named in the top two bits of the next one; -1 where none is.
    int referenceReg;
};

// The layouts the family table's rows point at.
extern const MonitorLayout kLayoutFamily0;
extern const MonitorLayout kLayoutFamily1;
extern const MonitorLayout kLayoutFamily2;
extern const MonitorLayout kLayoutFamily4;

// Decodes channel ch's values; the caller has checked the channel tags.
ChannelValues Decode_Channel(int family, const uint8_t* img, int ch);

// Field helpers, little-endian pairs (lo at the lower address).
uint16_t Count14(uint8_t lo, uint8_t hi);
// Sign bit 3 of hi, magnitude in 11 bits.
int32_t SignMagnitude11(uint8_t lo, uint8_t hi);
// Family 2's offset: 12-bit two's complement, except that a set sign bit with
// a zero magnitude (0x800) reads as 0, not -2048.
int32_t Offset12(uint8_t lo, uint8_t hi);

// Next channel after from, within [0, limit), whose bit is set in mask,
// wrapping around and ending with from itself; -1 when none is. A from outside
// the range starts the search at channel 0.
int Next_Selected_Channel(int from, int limit, uint16_t mask);

}  // namespace decode
