#include "data/SampleStream.h"

SampleStream::SampleStream(QObject* parent) : QObject(parent), m_OriginMs(Steady_Ms()), m_HistoryOriginMs(m_OriginMs) {
    qRegisterMetaType<MonitorSample>();
    qRegisterMetaType<TouchEvent>();
    m_Watch.setInterval(kWatchMs);
    connect(&m_Watch, &QTimer::timeout, this, &SampleStream::watchMonitoring);
}

void SampleStream::watchMonitoring() {
    // What the processing thread's cycle reads: anything shorter than a
    // poll is shorter than a cycle and cannot leave a channel unread.
    setMonitoredChannels(m_MonitoredSource ? m_MonitoredSource() : 0);
}

void SampleStream::setMonitoredChannels(uint16_t mask) {
    // The break goes where reading resumes: a sample published just after
    // a channel was dropped was read before and belongs to the line it ends.
    m_History.breakLines(static_cast<uint16_t>(mask & ~m_Monitored));
    m_Monitored = mask;
}

void SampleStream::jumpTo(qint64 streamMs) {
    m_History.breakLines(0xFFFF);
    const qint64 newest = m_History.newestMs();
    if (newest >= 0 && historyMs(streamMs) < newest) m_HistoryShiftMs = newest - streamMs;
}

void SampleStream::restart(Source source) {
    const bool continuous = source == Source::Live && m_Source == Source::Live;
    m_Source = source;
    m_OriginMs = Steady_Ms();
    m_TouchMask = 0;
    if (continuous) {
        m_HistoryShiftMs = m_OriginMs - m_HistoryOriginMs;
        // Whatever was held when the link went is over now.
        m_History.appendTouch(m_HistoryShiftMs, 0);
        m_History.breakLines(0xFFFF);
    } else {
        m_History.clear();
        m_HistoryOriginMs = m_OriginMs;
        m_HistoryShiftMs = 0;
        emit historyCleared();
    }
    if (source == Source::Live) {
        watchMonitoring();
        m_Watch.start();
    } else {
        m_Watch.stop();
        m_Monitored = 0;
    }
    emit restarted();
}

void SampleStream::publishLive(MonitorSample sample) {
    sample.tMs -= m_OriginMs;
    publish(sample);
}

void SampleStream::publish(const MonitorSample& sample) {
    m_SampleCount.fetch_add(1, std::memory_order_relaxed);
    MonitorSample kept = sample;
    kept.tMs = historyMs(sample.tMs);
    m_History.append(kept);
    emit sampleAdded(sample);
}

void SampleStream::publishTouchMask(int mask) {
    TouchEvent e;
    e.tMs = elapsedMs();
    e.wallMs = Wall_Ms();
    e.mask = static_cast<uint16_t>(mask & 0xFFFF);
    publishTouch(e);
}

void SampleStream::publishTouch(const TouchEvent& event) {
    if (event.mask == m_TouchMask) return;
    m_TouchMask = event.mask;
    m_History.appendTouch(historyMs(event.tMs), event.mask);
    emit touchChanged(event);
}
