// The recent past of the sample stream, kept for every view that draws over
// time: per channel, the samples of the last few minutes; and the touch
// changes of the same span, from which each channel's touch intervals follow.
//
// Bounded twice: by age (nothing older than the span behind the newest time)
// and by a hard count per channel, so a replay fed faster than any board can
// publish still keeps memory flat. Storage grows as samples come, up to the
// count, and is then reused; it is never allocated for the worst case up front.
//
// Times are ms on the history's own axis, which the stream keeps continuous
// across reconnections. Single-threaded: the stream's owner thread writes and
// reads it.
//
// A channel's samples fall into pieces, each of which a graph may draw as one
// line: a new piece starts where the channel went without a sample for longer
// than kGapIntervals of its usual intervals, and at the first sample after
// breakLines() (monitoring of it resumed, the link came back, a replay jumped).
#pragma once

#include <QVector>
#include <cstdint>
#include <vector>

#include "app/limits.h"
#include "data/MonitorSample.h"

// A fixed-bound ring that allocates as it fills: index 0 is the oldest entry.
template <typename T>
class BoundedRing {
public:
    explicit BoundedRing(qsizetype cap = 1) : m_Cap(cap < 1 ? 1 : cap) {}

    qsizetype size() const { return m_Size; }
    qsizetype capacity() const { return m_Cap; }
    // Storage actually held, for memory accounting.
    qsizetype allocated() const { return static_cast<qsizetype>(m_Buf.size()); }
    bool isEmpty() const { return m_Size == 0; }
    const T& at(qsizetype i) const { return m_Buf[static_cast<size_t>((m_Head + i) % allocated())]; }
    const T& front() const { return at(0); }
    const T& back() const { return at(m_Size - 1); }

    // Appends; at the bound the oldest entry gives way.
    void push(const T& v) {
        if (m_Size == allocated() && allocated() < m_Cap) grow();
        if (m_Size == allocated()) {
            m_Buf[static_cast<size_t>(m_Head)] = v;
            m_Head = (m_Head + 1) % allocated();
            return;
        }
        m_Buf[static_cast<size_t>((m_Head + m_Size) % allocated())] = v;
        ++m_Size;
    }
    void popFront() {
        if (m_Size == 0) return;
        m_Head = (m_Head + 1) % allocated();
        --m_Size;
    }
    void clear() {
        m_Head = 0;
        m_Size = 0;
    }
    // A new bound; the newest entries that fit are kept.
    void setCapacity(qsizetype cap) {
        cap = cap < 1 ? 1 : cap;
        std::vector<T> keep;
        const qsizetype n = m_Size < cap ? m_Size : cap;
        keep.reserve(static_cast<size_t>(n));
        for (qsizetype i = m_Size - n; i < m_Size; ++i) keep.push_back(at(i));
        m_Buf.swap(keep);
        m_Cap = cap;
        m_Head = 0;
        m_Size = n;
    }

private:
    void grow() {
        qsizetype next = allocated() < 64 ? 64 : allocated() * 2;
        if (next > m_Cap) next = m_Cap;
        std::vector<T> bigger;
        bigger.reserve(static_cast<size_t>(next));
        for (qsizetype i = 0; i < m_Size; ++i) bigger.push_back(at(i));
        bigger.resize(static_cast<size_t>(next));
        m_Buf.swap(bigger);
        m_Head = 0;
    }

    std::vector<T> m_Buf;
    qsizetype m_Cap;
    qsizetype m_Head = 0;
    qsizetype m_Size = 0;
};

// A span during which one channel was touched; endMs < 0 while it lasts.
struct TouchInterval {
    qint64 startMs = 0;
    qint64 endMs = -1;
};

class SampleHistory {
public:
    static constexpr int kDefaultSeconds = 600;
    static constexpr int kMinSeconds = 10;
    static constexpr int kMaxSeconds = 24 * 3600;
    // Far above what a board publishes (a few tens a second in all); the
    // bound that holds when a replay runs faster than real time.
    static constexpr int kMaxSamplesPerSecond = 20;
    static constexpr qsizetype kMaxSamplesPerChannel = 200000;
    // A silence longer than this many usual intervals is a gap, not a slow stretch.
    static constexpr int kGapIntervals = 3;
    // Intervals remembered per channel for its usual one (their median).
    static constexpr int kIntervalMemory = 8;

    explicit SampleHistory(int seconds = kDefaultSeconds);

    // The span kept, in seconds (clamped to kMinSeconds..kMaxSeconds); a
    // shorter span drops what no longer fits.
    void setSpanSeconds(int seconds);
    int spanSeconds() const { return m_SpanMs / 1000; }
    qsizetype capacityPerChannel() const { return m_Samples[0].capacity(); }

    // Samples with tMs on the history's axis; times never run backwards per
    // channel (a late sample is placed at the newest time). Channels outside
    // 0..kMaxChannels-1 are ignored.
    void append(const MonitorSample& sample);
    // The touch mask from tMs on.
    void appendTouch(qint64 tMs, uint16_t mask);
    // What the channels of the mask were doing was not watched: the next
    // sample of each starts a new piece.
    void breakLines(uint16_t channels);
    void clear();

    qsizetype size(int channel) const;
    const MonitorSample& at(int channel, qsizetype i) const { return m_Samples[channel].at(i); }
    // Whether sample i must not be joined to the one before it.
    bool startsPiece(int channel, qsizetype i) const { return m_Starts[channel].at(i) != 0; }
    // The median of the channel's recent intervals; -1 until three are known.
    qint64 usualIntervalMs(int channel) const;
    // Null when the channel has none.
    const MonitorSample* latest(int channel) const;
    // Index of the first sample of the channel at or after tMs (size when none).
    qsizetype lowerBound(int channel, qint64 tMs) const;
    // Samples ever appended to the channel: a reader that remembers this count
    // finds what came since at index size - (appended - remembered), as long
    // as that is not negative (else the ring has moved past it).
    quint64 appended(int channel) const;
    // Newest time of any sample or touch change; -1 when empty.
    qint64 newestMs() const { return m_NewestMs; }

    uint16_t touchMask() const { return m_TouchMask; }
    // The channel's touch intervals that overlap fromMs..toMs, oldest first.
    QVector<TouchInterval> touchIntervals(int channel, qint64 fromMs, qint64 toMs) const;

    // Bytes of sample and touch storage held.
    qsizetype bytesHeld() const;

private:
    struct TouchChange {
        qint64 tMs;
        uint16_t mask;
    };
    void prune();

    struct Cadence {
        qint64 intervals[kIntervalMemory] = {};
        int count = 0;        // intervals held, up to kIntervalMemory
        int next = 0;         // where the next one goes
        bool broken = false;  // the next sample starts a piece
    };

    int m_SpanMs;
    qint64 m_NewestMs = -1;
    uint16_t m_TouchMask = 0;
    uint16_t m_TouchBaseMask = 0;  // the mask before the oldest kept change
    quint64 m_Appended[kMaxChannels] = {};
    BoundedRing<MonitorSample> m_Samples[kMaxChannels];
    BoundedRing<uint8_t> m_Starts[kMaxChannels];  // in step with m_Samples
    Cadence m_Cadence[kMaxChannels];
    BoundedRing<TouchChange> m_Touches;
};
