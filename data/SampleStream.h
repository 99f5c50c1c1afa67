// The one stream of monitor samples and touch events that every front end
// consumes: the indicators and the monitoring dialog, the graphs, the logger,
// the signal-to-noise test and the command-line tool.
//
// Sources push into it on the owner's thread: the processing thread through a
// queued connection to publishLive(), a log replay through publish(). It
// stamps nothing it is given except that live samples are rebased onto the
// stream's origin, and it announces each value by signal. Widget-free.
#pragma once

#include <QObject>
#include <QTimer>
#include <atomic>
#include <functional>

#include "data/MonitorSample.h"
#include "data/SampleHistory.h"

class SampleStream : public QObject {
    Q_OBJECT
public:
    enum class Source { Live, Replay };

    explicit SampleStream(QObject* parent = nullptr);

    // A new time origin (a connection made, a replay started): t_ms counts
    // from here, the touch mask starts at zero. Announced by restarted().
    void restart(Source source = Source::Live);

    Source source() const { return m_Source; }
    // Steady ms of the origin; ms since the origin.
    qint64 originMs() const { return m_OriginMs; }
    qint64 elapsedMs() const { return Steady_Ms() - m_OriginMs; }
    uint16_t touchMask() const { return m_TouchMask; }

    // Samples and touch events announced since the process started; read by
    // any thread (benchmarks, status lines).
    quint64 sampleCount() const { return m_SampleCount.load(std::memory_order_relaxed); }

    // The recent past, filled before each value is announced, so a consumer
    // woken by sampleAdded() or touchChanged() finds it there already. Its
    // time axis runs on across live reconnections (a pulled board leaves a
    // gap, not a jump back to zero); a replay starts it afresh.
    const SampleHistory& history() const { return m_History; }
    void setHistorySeconds(int seconds) { m_History.setSpanSeconds(seconds); }
    // History ms of a time on the stream's axis (tMs since the origin).
    qint64 historyMs(qint64 streamMs) const { return streamMs + m_HistoryShiftMs; }

    // Channels being read now. A live stream asks its monitored source
    // itself (every kWatchMs from its first live restart); a source that
    // knows better may say so here.
    static constexpr int kWatchMs = 100;
    uint16_t monitoredChannels() const { return m_Monitored; }
    void setMonitoredChannels(uint16_t mask);
    // What the live source reads now: its board's monitored channels while
    // the link is live, the chip answers and Sense is on, 0 otherwise.
    // Without one nothing counts as monitored.
    void setMonitoredSource(std::function<uint16_t()> source) { m_MonitoredSource = std::move(source); }
    // The source jumped to streamMs (a replay seek): every line breaks there,
    // and a jump back continues the history's axis rather than running it
    // backwards.
    void jumpTo(qint64 streamMs);

public slots:
    // A live sample stamped with the steady clock (Steady_Ms), as the
    // monitoring thread publishes it:
    // its tMs is rebased onto the origin before it is announced.
    void publishLive(MonitorSample sample);
    // A sample whose tMs already counts from the origin (replay).
    void publish(const MonitorSample& sample);
    // The touch mask as a source sees it now; announced only when it changed.
    void publishTouchMask(int mask);
    // A touch event with its own times (replay); announced only when the mask changed.
    void publishTouch(const TouchEvent& event);

signals:
    void sampleAdded(const MonitorSample& sample);
    void touchChanged(const TouchEvent& event);
    void restarted();
    // The history was emptied (a replay started); views drop what they drew.
    void historyCleared();

private:
    void watchMonitoring();

    Source m_Source = Source::Live;
    // Read by a production test running on a worker thread.
    std::atomic<qint64> m_OriginMs{0};
    std::atomic<uint16_t> m_TouchMask{0};
    SampleHistory m_History;
    qint64 m_HistoryOriginMs = 0;  // steady ms at history time zero
    qint64 m_HistoryShiftMs = 0;   // history ms at the stream's origin
    std::atomic<quint64> m_SampleCount{0};
    uint16_t m_Monitored = 0;
    QTimer m_Watch;
    std::function<uint16_t()> m_MonitoredSource;
};
