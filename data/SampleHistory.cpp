#include "data/SampleHistory.h"

#include <algorithm>

namespace {

qsizetype CapacityFor(int seconds) {
    const qsizetype n = static_cast<qsizetype>(seconds) * SampleHistory::kMaxSamplesPerSecond;
    return std::min(n, SampleHistory::kMaxSamplesPerChannel);
}

}  // namespace

SampleHistory::SampleHistory(int seconds) : m_SpanMs(0) { setSpanSeconds(seconds); }

void SampleHistory::setSpanSeconds(int seconds) {
    seconds = std::clamp(seconds, kMinSeconds, kMaxSeconds);
    m_SpanMs = seconds * 1000;
    const qsizetype cap = CapacityFor(seconds);
    for (auto& ring : m_Samples) ring.setCapacity(cap);
    for (auto& ring : m_Starts) ring.setCapacity(cap);
    // Touch changes come far less often than samples; the same bound holds
    // a key pressed and released ten times a second for the whole span.
    const qsizetype dropped = m_Touches.size() > cap ? m_Touches.size() - cap : 0;
    for (qsizetype i = 0; i < dropped; ++i) {
        m_TouchBaseMask = m_Touches.front().mask;
        m_Touches.popFront();
    }
    m_Touches.setCapacity(cap);
    prune();
}

void SampleHistory::append(const MonitorSample& sample) {
    const int ch = sample.channel;
    if (ch < 0 || ch >= kMaxChannels) return;
    BoundedRing<MonitorSample>& ring = m_Samples[ch];
    MonitorSample s = sample;
    if (!ring.isEmpty() && s.tMs < ring.back().tMs) s.tMs = ring.back().tMs;
    Cadence& cadence = m_Cadence[ch];
    bool starts = ring.isEmpty() || cadence.broken;
    if (!starts) {
        const qint64 interval = s.tMs - ring.back().tMs;
        const qint64 usual = usualIntervalMs(ch);
        starts = usual > 0 && interval > kGapIntervals * usual;
        // Gaps are remembered too, so a slower cadence becomes the usual one.
        if (interval > 0) {
            cadence.intervals[cadence.next] = interval;
            cadence.next = (cadence.next + 1) % kIntervalMemory;
            cadence.count = std::min(cadence.count + 1, kIntervalMemory);
        }
    }
    cadence.broken = false;
    ring.push(s);
    m_Starts[ch].push(starts ? 1 : 0);
    ++m_Appended[ch];
    m_NewestMs = std::max(m_NewestMs, s.tMs);
    prune();
}

void SampleHistory::appendTouch(qint64 tMs, uint16_t mask) {
    if (mask == m_TouchMask) return;
    if (!m_Touches.isEmpty() && tMs < m_Touches.back().tMs) tMs = m_Touches.back().tMs;
    if (m_Touches.size() == m_Touches.capacity()) m_TouchBaseMask = m_Touches.front().mask;
    m_Touches.push({tMs, mask});
    m_TouchMask = mask;
    m_NewestMs = std::max(m_NewestMs, tMs);
    prune();
}

void SampleHistory::breakLines(uint16_t channels) {
    for (int ch = 0; ch < kMaxChannels; ++ch)
        if (channels & (1u << ch)) m_Cadence[ch].broken = true;
}

qint64 SampleHistory::usualIntervalMs(int channel) const {
    if (channel < 0 || channel >= kMaxChannels) return -1;
    const Cadence& cadence = m_Cadence[channel];
    if (cadence.count < 3) return -1;
    qint64 sorted[kIntervalMemory];
    std::copy(cadence.intervals, cadence.intervals + cadence.count, sorted);
    std::nth_element(sorted, sorted + cadence.count / 2, sorted + cadence.count);
    return sorted[cadence.count / 2];
}

void SampleHistory::clear() {
    for (auto& ring : m_Samples) ring.clear();
    for (auto& ring : m_Starts) ring.clear();
    for (auto& cadence : m_Cadence) cadence = Cadence();
    m_Touches.clear();
    m_NewestMs = -1;
    m_TouchMask = 0;
    m_TouchBaseMask = 0;
}

void SampleHistory::prune() {
    if (m_NewestMs < 0) return;
    const qint64 oldest = m_NewestMs - m_SpanMs;
    for (int ch = 0; ch < kMaxChannels; ++ch) {
        BoundedRing<MonitorSample>& ring = m_Samples[ch];
        while (!ring.isEmpty() && ring.front().tMs < oldest) {
            ring.popFront();
            m_Starts[ch].popFront();
        }
    }
    // The newest change before the span is kept: it says what held at its start.
    while (m_Touches.size() > 1 && m_Touches.at(1).tMs <= oldest) {
        m_TouchBaseMask = m_Touches.front().mask;
        m_Touches.popFront();
    }
}

qsizetype SampleHistory::size(int channel) const {
    return channel >= 0 && channel < kMaxChannels ? m_Samples[channel].size() : 0;
}

const MonitorSample* SampleHistory::latest(int channel) const {
    if (size(channel) == 0) return nullptr;
    return &m_Samples[channel].back();
}

qsizetype SampleHistory::lowerBound(int channel, qint64 tMs) const {
    qsizetype lo = 0;
    qsizetype hi = size(channel);
    while (lo < hi) {
        const qsizetype mid = lo + (hi - lo) / 2;
        if (m_Samples[channel].at(mid).tMs < tMs)
            lo = mid + 1;
        else
            hi = mid;
    }
    return lo;
}

quint64 SampleHistory::appended(int channel) const {
    return channel >= 0 && channel < kMaxChannels ? m_Appended[channel] : 0;
}

QVector<TouchInterval> SampleHistory::touchIntervals(int channel, qint64 fromMs, qint64 toMs) const {
    QVector<TouchInterval> out;
    if (channel < 0 || channel >= kMaxChannels) return out;
    const uint16_t bit = static_cast<uint16_t>(1u << channel);
    bool on = (m_TouchBaseMask & bit) != 0;
    TouchInterval cur;
    if (on) cur.startMs = m_Touches.isEmpty() ? fromMs : std::min(fromMs, m_Touches.front().tMs);
    for (qsizetype i = 0; i < m_Touches.size(); ++i) {
        const TouchChange& c = m_Touches.at(i);
        const bool now = (c.mask & bit) != 0;
        if (now == on) continue;
        if (now) {
            cur.startMs = c.tMs;
            cur.endMs = -1;
        } else {
            cur.endMs = c.tMs;
            if (cur.endMs >= fromMs && cur.startMs <= toMs) out.append(cur);
        }
        on = now;
    }
    if (on && cur.startMs <= toMs) out.append(cur);
    return out;
}

qsizetype SampleHistory::bytesHeld() const {
    qsizetype bytes = m_Touches.allocated() * static_cast<qsizetype>(sizeof(TouchChange));
    for (const auto& ring : m_Samples) bytes += ring.allocated() * static_cast<qsizetype>(sizeof(MonitorSample));
    for (const auto& ring : m_Starts) bytes += ring.allocated();
    return bytes;
}
