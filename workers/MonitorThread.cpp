#include "workers/MonitorThread.h"

#include <algorithm>

#include "app/limits.h"
#include "data/RegisterImage.h"
#include "link/BoardLink.h"
#include "link/commands.h"
#include "workers/BoardSession.h"
#include "workers/decode.h"

namespace {

// Channels this cycle may visit: those configured, those the monitor arrays
// hold and those whose data the family's channel tag can name. A channel
// beyond the tag never passes the check; visiting it would stall the cycle on
// it and starve every other selected channel.
int ChannelLimit(int family, int configured) {
    int limit = configured;
    if (limit > kMaxChannels) limit = kMaxChannels;
    if (limit > decode::Channel_Limit(family)) limit = decode::Channel_Limit(family);
    return limit < 0 ? 0 : limit;
}

}  // namespace

MonitorThread::MonitorThread(BoardSession& session, QObject* parent)
    : QThread(parent), m_Session(session), m_Link(session.link()), m_Image(session.image()) {}

MonitorThread::~MonitorThread() {
    Stop();
    wait();
}

void MonitorThread::Stop() {
    m_Stop.store(true, std::memory_order_release);
    m_Sleep.Wake();
}

void MonitorThread::run() {
    while (!m_Stop.load(std::memory_order_acquire)) {
        if (!m_Sleep.Sleep_Unless_Stopped(kCycleIntervalMs, m_Stop)) break;
        if (m_Session.monitoringWanted() && m_Session.monitoredChannels() != 0) Proc_Cycle();
    }
    m_Stop.store(false, std::memory_order_release);
}

// Reads into the thread's own copy and into the register image. Decoding
// from the own copy keeps a register read of the GUI thread, landing in the
// image between two of our reads, out of the decoded values. Like the
// command's destination, the copy keeps its bytes when nothing was sent and
// gets zeros for what did not arrive.
bool MonitorThread::ReadRegs(uint8_t dev, uint8_t reg, uint8_t len, uint8_t* img) {
    uint8_t buf[kMaxRegsPerFrame];
    m_Image.copy(reg, buf, len);
    const ExchangeResult result = CMD_Read(m_Link, dev, reg, len, buf);
    for (int i = 0; i < len; ++i) img[(reg + i) & 0xFF] = buf[i];
    m_Image.store(reg, buf, len);
    return result.ok();
}

void MonitorThread::Select(uint8_t dev, int family, int ch) {
    // A lost write shows up as a mismatch at the next cycle's selection read,
    // which writes it again.
    const uint8_t v = decode::Selection_Value(family, ch);
    CMD_Write(m_Link, dev, static_cast<uint8_t>(decode::Selection_Register(family)), 1, &v);
}

void MonitorThread::Publish(int family, int ch, const uint8_t* img) {
    const decode::ChannelValues v = decode::Decode_Channel(family, img, ch);
    for (int k = 0; k < kMaxSbf; ++k) {
        if (v.hasRef) m_Ref[k].store(v.ref[k], std::memory_order_relaxed);
        m_Sense[ch][k].store(v.sen[k], std::memory_order_relaxed);
        m_Diff[ch][k].store(v.diff[k], std::memory_order_relaxed);
        if (v.hasOffset) m_Offset[ch][k].store(v.offset[k], std::memory_order_relaxed);
    }
    m_LastChannel.store(static_cast<uint8_t>(ch), std::memory_order_release);
    emit sampleReady(latestSample(ch));
}

MonitorSample MonitorThread::latestSample(int ch) const {
    MonitorSample s;
    s.tMs = Steady_Ms();
    s.wallMs = Wall_Ms();
    s.channel = ch;
    if (ch < 0 || ch >= kMaxChannels) return s;
    s.sbfCount = m_Session.sbfCount();
    // All four, whatever the SBF count: the indicators show the third SBF even
    // on a chip configured with fewer.
    for (int k = 0; k < kMaxSbf; ++k) {
        s.ref[k] = m_Ref[k].load(std::memory_order_relaxed);
        s.sense[k] = m_Sense[ch][k].load(std::memory_order_relaxed);
        s.diff[k] = m_Diff[ch][k].load(std::memory_order_relaxed);
        s.offset[k] = m_Offset[ch][k].load(std::memory_order_relaxed);
    }
    return s;
}

int MonitorThread::Proc_Cycle() {
    const int family = m_Session.family();
    if (!decode::Has_Monitor(family)) return 0;

    const int limit = ChannelLimit(family, m_Session.channelCount());
    const uint16_t mask = m_Session.monitoredChannels();
    int ch = m_Selected.load(std::memory_order_acquire);
    // A channel no longer selected (or out of range) is neither read nor
    // published: move on to the next selected one first.
    if (ch >= limit || !(mask & (1u << ch))) {
        ch = decode::Next_Selected_Channel(ch, limit, mask);
        if (ch < 0) return 0;
        m_Selected.store(static_cast<uint8_t>(ch), std::memory_order_release);
    }

    const uint8_t dev = m_Session.chipAddress();
    const decode::CyclePlan plan = decode::Plan(family, ch);
    uint8_t img[256] = {};

    for (int i = 0; i < plan.preCount; ++i)
        if (!ReadRegs(dev, plan.pre[i].reg, plan.pre[i].len, img)) return 0;
    const decode::RefSlot ref = decode::Reference_Slot(family, img);
    if (ref.slot >= 0 && ref.slot < kMaxSbf) m_Ref[ref.slot].store(ref.value, std::memory_order_relaxed);

    const uint8_t selReg = static_cast<uint8_t>(decode::Selection_Register(family));
    if (!ReadRegs(dev, selReg, 1, img)) return 0;
    if (img[selReg] != decode::Selection_Value(family, ch)) {
        Select(dev, family, ch);
        return 0;
    }

    for (int i = 0; i < plan.tagCount; ++i)
        if (!ReadRegs(dev, plan.tags[i].reg, plan.tags[i].len, img)) return 0;
    // Not yet switched over: the next cycle retries.
    if (!decode::Channel_Check(family, img, ch, m_Session.sbfCount())) return 0;
    for (int i = 0; i < plan.dataCount; ++i)
        if (!ReadRegs(dev, plan.data[i].reg, plan.data[i].len, img)) return 0;

    Publish(family, ch, img);

    // Re-read: a channel deselected while we read is not selected again.
    const int next = decode::Next_Selected_Channel(ch, limit, m_Session.monitoredChannels());
    if (next >= 0) {
        m_Selected.store(static_cast<uint8_t>(next), std::memory_order_release);
        Select(dev, family, next);
    }
    return 1;
}
