#include "link/event_frames.h"

#include <algorithm>

#include "link/hex.h"

namespace {
constexpr uint8_t kStx = 0x02;
constexpr uint8_t kEtx = 0x03;
constexpr int kDigitsAt = 3;  // STX 'C' letter, then the digits
constexpr int kTouchDigits = 4;

uint8_t HexPair(const uint8_t* at) { return Hex_Byte(static_cast<char>(at[0]), static_cast<char>(at[1])); }
}  // namespace

EventFrameEvent EventFrame_Feed(uint8_t* frame, int* len, uint8_t b, int channels) {
    EventFrameEvent ev;
    if (b == kStx) {
        *len = 0;
    } else if (b == kEtx && frame[1] == 'C' && *len <= kEventFrameSize) {
        const int digits = *len - kDigitsAt;
        const int n = std::clamp(channels, 0, kMaxChannels);
        if (frame[2] == 'T' && digits == kTouchDigits) {
            ev.kind = EventFrameEvent::Touch;
            ev.touchMask = HexPair(frame + kDigitsAt) + 256 * HexPair(frame + kDigitsAt + 2);
        } else if (frame[2] == 'E' && digits >= n) {
            ev.kind = EventFrameEvent::Status;
            ev.statusCount = n;
            for (int i = 0; i < n; ++i) ev.status[i] = Hex_Value(static_cast<char>(frame[kDigitsAt + i]));
        }
    }
    // The ETX is stored after its frame has been judged, like any other byte.
    frame[*len % kEventFrameSize] = b;
    // Saturate well above the buffer so a stream without STX cannot overflow.
    if (*len < 2 * kEventFrameSize) ++*len;
    return ev;
}

void DebugRing_Drain(ByteRing& ring, const std::function<void(uint8_t)>& take, const std::function<void()>& lapped) {
    int32_t read = ring.readCount.load(std::memory_order_acquire);
    for (;;) {
        const int32_t write = ring.writeCount.load(std::memory_order_acquire);
        if (read == write) break;
        // Unsigned: the counts run on for weeks and may wrap.
        if (static_cast<uint32_t>(write) - static_cast<uint32_t>(read) > static_cast<uint32_t>(kRingSize)) {
            read = static_cast<int32_t>(static_cast<uint32_t>(write) - kRingSize);
            lapped();
        }
        const uint8_t b = ring.bytes[read & kRingMask].load(std::memory_order_relaxed);
        read = static_cast<int32_t>(static_cast<uint32_t>(read) + 1);
        ring.readCount.store(read, std::memory_order_release);
        take(b);
    }
}
