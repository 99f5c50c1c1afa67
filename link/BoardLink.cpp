#include "link/BoardLink.h"

#include "link/ReceiveThread.h"

void ByteRing::reset() {
    for (auto& b : bytes) b.store(0, std::memory_order_relaxed);
    writeCount.store(0, std::memory_order_release);
    readCount.store(0, std::memory_order_release);
}

// On the heap, like every started thread object: QThread::wait joins through
// Qt's futex, which ThreadSanitizer cannot see.
BoardLink::BoardLink() : m_Receiver(new ReceiveThread(*this)) {}

BoardLink::~BoardLink() {
    m_Live.store(false, std::memory_order_release);
    // Its destructor stops, joins and closes the port.
    delete m_Receiver;
}

void BoardLink::setLive(bool live) {
    m_Live.store(live, std::memory_order_release);
    m_Receiver->Wake();
}

void BoardLink::resetRings() {
    replies.reset();
    traffic.reset();
}

void ExchangeLock::lock() {
    std::unique_lock<std::mutex> hold(m_Lock);
    if (m_Depth > 0 && m_Owner == std::this_thread::get_id()) {
        ++m_Depth;
        return;
    }
    const uint64_t ticket = m_NextTicket++;
    m_Turn.wait(hold, [this, ticket] { return m_Depth == 0 && m_Serving == ticket; });
    m_Owner = std::this_thread::get_id();
    m_Depth = 1;
}

void ExchangeLock::unlock() {
    {
        std::lock_guard<std::mutex> hold(m_Lock);
        if (--m_Depth > 0) return;
        m_Owner = std::thread::id();
        ++m_Serving;
    }
    m_Turn.notify_all();
}
