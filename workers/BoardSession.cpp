#include "workers/BoardSession.h"

#include "app/globals.h"
#include "data/RegisterImage.h"
#include "link/BoardLink.h"

BoardSession::BoardSession(QObject* parent)
    : QObject(parent), m_Link(std::make_unique<BoardLink>()), m_Image(new RegisterImage(this)) {}

BoardSession::~BoardSession() = default;

void BoardSession::setChipPresent(bool present) {
    if (m_ChipPresent.exchange(present, std::memory_order_acq_rel) != present) emit chipPresentChanged(present);
}

void BoardSession::setSensing(bool on) {
    if (m_Sensing.exchange(on, std::memory_order_acq_rel) != on) emit sensingChanged(on);
}

void BoardSession::setMonitoredChannels(quint16 mask) {
    if (m_Monitored.exchange(mask, std::memory_order_acq_rel) != mask) emit monitoredChannelsChanged(mask);
}

void BoardSession::setChannelMonitored(int channel, bool monitored) {
    if (channel < 0 || channel >= kMaxChannels) return;
    const auto bit = static_cast<quint16>(1u << channel);
    const quint16 before = monitored ? m_Monitored.fetch_or(bit, std::memory_order_acq_rel)
                                     : m_Monitored.fetch_and(static_cast<quint16>(~bit), std::memory_order_acq_rel);
    const quint16 after = monitored ? static_cast<quint16>(before | bit) : static_cast<quint16>(before & ~bit);
    if (after != before) emit monitoredChannelsChanged(after);
}

bool BoardSession::monitoringWanted() const { return m_Link->isLive() && chipPresent() && sensing(); }
