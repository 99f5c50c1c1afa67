#include "data/SampleStream.h"

SampleStream::SampleStream(QObject* parent) : QObject(parent), m_OriginMs(Steady_Ms()), m_HistoryOriginMs(m_OriginMs) {
    qRegisterMetaType<MonitorSample>();
    qRegisterMetaType<TouchEvent>();
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
    } else {
        m_History.clear();
        m_HistoryOriginMs = m_OriginMs;
        m_HistoryShiftMs = 0;
        emit historyCleared();
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
