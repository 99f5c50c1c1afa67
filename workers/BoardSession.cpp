#include "workers/BoardSession.h"

#include <algorithm>

#include "app/limits.h"
#include "data/LogFormat.h"
#include "data/RegisterImage.h"
#include "data/SampleStream.h"
#include "link/BoardLink.h"
#include "link/ExchangeQueue.h"
#include "link/ReceiveThread.h"
#include "workers/BoardOps.h"
#include "workers/ChipPollThread.h"
#include "workers/MonitorThread.h"

BoardSession::BoardSession(QObject* parent)
    : QObject(parent),
      m_Link(std::make_unique<BoardLink>()),
      m_Exchanges(std::make_unique<ExchangeQueue>(*m_Link)),
      m_Image(new RegisterImage(this)),
      m_Stream(new SampleStream(this)) {
    m_Stream->setMonitoredSource([this] { return monitoringWanted() ? monitoredChannels() : uint16_t(0); });
    ReceiveThread* receiver = m_Link->receiver();
    connect(receiver, &ReceiveThread::bytesReceived, this, &BoardSession::takeReceivedBytes);
    connect(receiver, &ReceiveThread::lineFailed, this, &BoardSession::lineFailed);
}

BoardSession::~BoardSession() {
    shutDown();
    m_Stream->setMonitoredSource({});
}

void BoardSession::startReceiver() { m_Link->receiver()->start(); }

void BoardSession::startWorkers() {
    startReceiver();
    if (!m_ChipPoll) {
        m_ChipPoll = std::make_unique<ChipPollThread>(*this);
        connect(m_ChipPoll.get(), &ChipPollThread::chipFound, this, [this] {
            // A probe's verdict can still be queued when the port has gone.
            if (!m_Link->isLive()) return;
            setChipPresent(true);
            emit chipFound();
        });
        connect(m_ChipPoll.get(), &ChipPollThread::chipLost, this, [this] {
            setChipPresent(false);
            emit chipLost();
        });
        m_ChipPoll->start();
    }
    if (!m_Monitor) {
        m_Monitor = std::make_unique<MonitorThread>(*this);
        connect(m_Monitor.get(), &MonitorThread::sampleReady, this, &BoardSession::publishSample);
        m_Monitor->start();
    }
}

void BoardSession::stopWorkers() {
    // Both are told first, so that they wind down together.
    if (m_Monitor) m_Monitor->Stop();
    if (m_ChipPoll) m_ChipPoll->Stop();
    if (m_Monitor) m_Monitor->wait();
    if (m_ChipPoll) m_ChipPoll->wait();
}

void BoardSession::shutDown() {
    stopWorkers();
    ReceiveThread* receiver = m_Link->receiver();
    if (!receiver->isRunning()) return;
    receiver->Stop();
    receiver->wait();
}

void BoardSession::publishSample(const MonitorSample& sample) {
    // The receive thread stores a batch in both rings before the monitor
    // thread can take a reply from it, but may post bytesReceived after the
    // sample read from that reply. Events that came over the line first (a
    // touch) are taken before the sample, so that they are known when it
    // comes.
    takeReceivedBytes();
    m_Stream->publishLive(sample);
}

void BoardSession::takeReceivedBytes() {
    const int channels = channelCount();
    QByteArray bytes;
    // A lapped ring: drop the frame in progress rather than splice two
    // streams.
    DebugRing_Drain(
        m_Link->traffic,
        [&](uint8_t b) {
            bytes.append(static_cast<char>(b));
            const EventFrameEvent ev = m_Frames.feed(b, channels);
            if (ev.kind == EventFrameEvent::Touch) {
                // The owner's lamps and register image first, then the
                // stream's consumers, who may look at either.
                emit touchMaskReceived(static_cast<quint16>(ev.touchMask));
                m_Stream->publishTouchMask(static_cast<uint16_t>(ev.touchMask));
            } else if (ev.kind == EventFrameEvent::Status) {
                emit sbfStatusReceived(QByteArray(reinterpret_cast<const char*>(ev.status), ev.statusCount));
            }
        },
        [this] { m_Frames.dropFrame(); });
    if (!bytes.isEmpty()) emit trafficReceived(bytes);
}

void BoardSession::portOpened() {
    m_Link->resetRings();
    m_Stream->restart();
    m_Link->setLive(true);
    if (!m_PortOpen) {
        m_PortOpen = true;
        emit portOpenChanged(true);
    }
}

void BoardSession::closePort() {
    // First, so that the receive thread starts no further read of the port.
    m_Link->setLive(false);
    m_Link->receiver()->Close_Port();
    setChipPresent(false);
    setFirmware(0);
    if (m_PortOpen) {
        m_PortOpen = false;
        emit portOpenChanged(false);
    }
}

void BoardSession::setFirmware(int version) {
    if (m_Firmware == version) return;
    m_Firmware = version;
    emit firmwareChanged(version);
}

QString BoardSession::firmwareText() const {
    const auto version = static_cast<uint8_t>(m_Firmware);
    return m_Link->isLive() && Firmware_Accepted(version) ? Firmware_Text(version) : QString();
}

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
