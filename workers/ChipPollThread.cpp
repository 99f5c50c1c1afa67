#include "workers/ChipPollThread.h"

#include <mutex>

#include "app/limits.h"
#include "data/RegisterImage.h"
#include "link/BoardLink.h"
#include "link/ReceiveThread.h"
#include "link/commands.h"
#include "workers/BoardOps.h"
#include "workers/BoardSession.h"

ChipPollThread::ChipPollThread(BoardSession& session, QObject* parent)
    : QThread(parent), m_Session(session), m_Link(session.link()), m_Image(session.image()) {}

ChipPollThread::~ChipPollThread() {
    Stop();
    wait();
}

void ChipPollThread::Stop() {
    m_Stop.store(true, std::memory_order_release);
    m_Sleep.Wake();
}

void ChipPollThread::run() {
    while (!m_Stop.load(std::memory_order_acquire)) {
        if (!m_Sleep.Sleep_Unless_Stopped(kProbeIntervalMs, m_Stop)) break;
        if (!m_Link.isLive()) continue;
        Probe();
    }
    // Cleared here, not at the start of run, so that a Stop that comes before
    // the loop begins still ends it.
    m_Stop.store(false, std::memory_order_release);
}

void ChipPollThread::Probe() {
    ExchangeResult result;
    {
        // Held around the whole exchange so the address and the reply belong
        // together even when the GUI thread sends commands of its own.
        std::lock_guard<ExchangeLock> lock(m_Link.exchangeLock());
        const uint8_t dev = m_Session.chipAddress();
        result = Register_Read(m_Link, m_Image, dev, 0x00, 1);
    }
    // The owner's slots set the session's chipPresent; until the queued slot
    // has run, a second probe may repeat the same signal, which they accept.
    const bool present = m_Session.chipPresent();
    if (result.ok() && !present)
        emit chipFound();
    else if (!result.ok() && present)
        emit chipLost();
}

int ChipPollThread::GraceMs(int replyTimeoutMs) {
    return static_cast<int>(kProbeIntervalMs) + (ReceiveThread::kLateReplyPatience + 1) * replyTimeoutMs + 900;
}
