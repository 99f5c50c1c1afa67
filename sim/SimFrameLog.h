// Record of every command frame the simulated board received, for tests and
// for the engineer watching the simulator. Safe to read from any thread while
// the board thread appends.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <mutex>
#include <string>
#include <vector>

struct SimFrame {
    uint32_t timeMs = 0;        // board clock when the ETX (or the cut) arrived
    std::string body;           // bytes between STX and ETX, both excluded
    char letter = 0;            // command letter; 0 when the frame was malformed
    char status = 0;            // status byte replied; 0 when nothing was replied
    bool complete = true;       // false: cut off by a new STX before its ETX
    int dev = -1;               // 'R' and 'W': device address from the payload
    int reg = -1;               // 'R' and 'W': first register
    std::vector<uint8_t> data;  // 'W': bytes written; 'R': bytes returned
};

// Keeps the newest frames only, so a simulator left running for days does
// not grow without bound; the default holds hours of monitoring traffic.
class SimFrameLog {
public:
    static constexpr size_t kDefaultCapacity = 200000;
    explicit SimFrameLog(size_t capacity = kDefaultCapacity) : m_capacity(capacity > 0 ? capacity : 1) {}

    void append(SimFrame frame);
    void clear();

    std::vector<SimFrame> frames() const;
    size_t size() const;
    size_t count(char letter) const;

    // Values that accepted 'W' frames stored into register reg, in order.
    std::vector<uint8_t> writesTo(uint8_t reg) const;
    bool wasWritten(uint8_t reg, uint8_t value) const;

private:
    mutable std::mutex m_mutex;
    size_t m_capacity;
    std::deque<SimFrame> m_frames;
};
