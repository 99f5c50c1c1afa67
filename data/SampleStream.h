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
#include <atomic>

#include "data/MonitorSample.h"

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

public slots:
    // A live sample stamped with the steady clock (MonitorSample_FromGlobals):
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

private:
    Source m_Source = Source::Live;
    qint64 m_OriginMs = 0;
    uint16_t m_TouchMask = 0;
    std::atomic<quint64> m_SampleCount{0};
};
