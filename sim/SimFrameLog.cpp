#include "sim/SimFrameLog.h"

#include <algorithm>

void SimFrameLog::append(SimFrame frame) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_frames.push_back(std::move(frame));
    while (m_frames.size() > m_capacity) m_frames.pop_front();
}

void SimFrameLog::clear() {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_frames.clear();
}

std::vector<SimFrame> SimFrameLog::frames() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return std::vector<SimFrame>(m_frames.begin(), m_frames.end());
}

size_t SimFrameLog::size() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_frames.size();
}

size_t SimFrameLog::count(char letter) const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return static_cast<size_t>(
        std::count_if(m_frames.begin(), m_frames.end(), [letter](const SimFrame& f) { return f.letter == letter; }));
}

std::vector<uint8_t> SimFrameLog::writesTo(uint8_t reg) const {
    std::lock_guard<std::mutex> lock(m_mutex);
    std::vector<uint8_t> values;
    for (const SimFrame& f : m_frames) {
        if (f.letter != 'W' || f.status != 'W') continue;
        for (size_t i = 0; i < f.data.size(); ++i) {
            if (((f.reg + static_cast<int>(i)) & 0xFF) == reg) values.push_back(f.data[i]);
        }
    }
    return values;
}

bool SimFrameLog::wasWritten(uint8_t reg, uint8_t value) const {
    const std::vector<uint8_t> values = writesTo(reg);
    return std::find(values.begin(), values.end(), value) != values.end();
}
