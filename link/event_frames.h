// The board's unsolicited event frames, assembled from the raw byte stream.
//
//   STX 'C' 'T' d d d d ETX   touch mask; the first digit pair is the low byte
//   STX 'C' 'E' d ... ETX     one status digit per channel, bit k = SBF k
//
// Everything else (reply frames, unknown letters, stray bytes) passes through
// without an event. Assembly spans calls: a frame may arrive in any number of
// pieces. Pure and widget-free, so the main window, a logger or a command-line
// tool can share it.
#pragma once

#include <cstdint>
#include <functional>

#include "app/limits.h"
#include "link/BoardLink.h"

constexpr int kEventFrameSize = 32;

struct EventFrameEvent {
    enum Kind { None, Touch, Status };
    Kind kind = None;
    int touchMask = 0;                  // Touch: bit i = channel i touched
    int statusCount = 0;                // Status: entries filled in status[]
    uint8_t status[kMaxChannels] = {};  // Status: 0..15 per channel
};

// Takes one byte into the frame being assembled. frame holds kEventFrameSize
// bytes and *len the bytes stored since the last STX (STX included); both
// persist between calls and start zeroed. channels is the chip's channel
// count (clamped to 0..kMaxChannels). Returns the event the byte completed.
//
// A frame is acted on only when it is whole: a touch frame needs exactly four
// digits, a status frame at least one digit per channel, and no frame may
// have outgrown the buffer. A short frame would otherwise be decoded from the
// digits an earlier frame left behind, and an overlong one from bytes that
// overwrote its own start.
EventFrameEvent EventFrame_Feed(uint8_t* frame, int* len, uint8_t b, int channels);

// The same state packaged for callers that keep their own.
class EventFrameAssembler {
public:
    EventFrameEvent feed(uint8_t b, int channels) { return EventFrame_Feed(m_frame, &m_len, b, channels); }
    int length() const { return m_len; }
    // Bytes were lost: the frame in progress counts as overgrown, so nothing
    // is decoded until the next STX.
    void dropFrame() { m_len = kEventFrameSize + 1; }

private:
    uint8_t m_frame[kEventFrameSize] = {};
    int m_len = 0;
};

// Takes every byte of a link's traffic ring not taken yet, oldest first, and hands
// it to take. When the receive thread has lapped the reader, the reader
// resumes at the oldest byte still in the ring and lapped() is called first:
// whatever was being assembled from the lost bytes must be dropped. The
// ring's one consumer (its board session) calls this on its thread.
void DebugRing_Drain(ByteRing& ring, const std::function<void(uint8_t)>& take, const std::function<void()>& lapped);
