#include "data/SampleStream.h"

SampleStream::SampleStream(QObject* parent) : QObject(parent), m_OriginMs(Steady_Ms()) {
    qRegisterMetaType<MonitorSample>();
    qRegisterMetaType<TouchEvent>();
}

void SampleStream::restart(Source source) {
    m_Source = source;
    m_OriginMs = Steady_Ms();
    m_TouchMask = 0;
    emit restarted();
}

void SampleStream::publishLive(MonitorSample sample) {
    sample.tMs -= m_OriginMs;
    publish(sample);
}

void SampleStream::publish(const MonitorSample& sample) {
    m_SampleCount.fetch_add(1, std::memory_order_relaxed);
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
    emit touchChanged(event);
}
