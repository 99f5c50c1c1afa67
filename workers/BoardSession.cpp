#include "workers/BoardSession.h"

#include <algorithm>

#include "app/limits.h"
#include "data/LogFormat.h"
#include "data/RegisterImage.h"
#include "link/BoardLink.h"
#include "link/ExchangeQueue.h"

BoardSession::BoardSession(QObject* parent)
    : QObject(parent),
      m_Link(std::make_unique<BoardLink>()),
      m_Exchanges(std::make_unique<ExchangeQueue>(*m_Link)),
      m_Image(new RegisterImage(this)) {}

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

void BoardSession::setConfig(const BoardConfig& config) {
    m_WorkDir = config.workDir;
    m_Device = config.device;
    m_RegisterFile = config.registerFile;
    m_Family.store(config.family, std::memory_order_release);
    m_Channels.store(std::clamp(config.channels, 0, kMaxChannels), std::memory_order_release);
    m_Sbfs.store(std::clamp(config.sbfs, 0, kMaxSbf), std::memory_order_release);
    m_Margin.store(config.margin, std::memory_order_release);
    setI2cAddress(config.i2cAddress);
}

BoardConfig BoardSession::config() const {
    BoardConfig c;
    c.workDir = m_WorkDir;
    c.device = m_Device;
    c.family = family();
    c.channels = channelCount();
    c.sbfs = sbfCount();
    c.i2cAddress = i2cAddress();
    c.margin = margin();
    c.registerFile = m_RegisterFile;
    return c;
}

QString BoardSession::workFile(const char* name) const { return WorkDir_File(m_WorkDir, name); }

void BoardSession::setI2cAddress(int address) {
    if (m_I2cAddress.exchange(address, std::memory_order_acq_rel) != address) emit i2cAddressChanged(address);
}

LogHeader BoardSession::logHeader(const QString& port, const QString& firmware) const {
    LogHeader h;
    h.started = QDateTime::currentDateTime();
    h.device = device();
    h.family = family();
    h.channels = channelCount();
    h.sbf = sbfCount();
    h.i2c = chipAddress();
    h.port = port;
    h.firmware = firmware;
    return h;
}

bool BoardSession::monitoringWanted() const { return m_Link->isLive() && chipPresent() && sensing(); }
