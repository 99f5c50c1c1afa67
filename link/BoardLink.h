// One evaluation board's link: the receive thread and the port it holds, the
// two receive rings it fills, whether the link is live, and the bookkeeping
// of the exchanges that go over it (one at a time, the reply time-out, a
// reply still owed, the abort). Each window or command-line run owns one;
// nothing about a link is process-wide, so two boards can be served side by
// side. Widget-free.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <thread>

constexpr int kRingSize = 1024;  // both receive rings
constexpr int kRingMask = kRingSize - 1;
constexpr int kReplyTimeoutMs = 100;

class ReceiveThread;

// Bytes as they came off the line. One writer (the receive thread) and one
// consumer; the counts run on (and wrap) for as long as a connection lasts
// and are published with release after the bytes, read with acquire.
struct ByteRing {
    std::atomic<uint8_t> bytes[kRingSize] = {};
    std::atomic<int32_t> writeCount{0};
    std::atomic<int32_t> readCount{0};

    // Only while the link is not live: the receive thread is not writing.
    void reset();
};

// The lock of a link's exchanges: re-entrant for the thread that holds it,
// and handed on in the order it was asked for. A thread that takes it again
// right after letting it go (the queue of the owner's exchanges, working
// through a table read) queues behind the chip probe and the monitor instead
// of starving them.
class ExchangeLock {
public:
    void lock();
    void unlock();

private:
    std::mutex m_Lock;
    std::condition_variable m_Turn;
    std::thread::id m_Owner;  // under m_Lock, as the rest
    int m_Depth = 0;
    uint64_t m_NextTicket = 0;
    uint64_t m_Serving = 0;
};

class BoardLink {
public:
    // Makes the receive thread; its owner starts it.
    BoardLink();
    // Stops and joins the receive thread and closes its port.
    ~BoardLink();
    BoardLink(const BoardLink&) = delete;
    BoardLink& operator=(const BoardLink&) = delete;

    ReceiveThread* receiver() const { return m_Receiver; }

    // The port is open and the receive path live: the rings fill and
    // exchanges go out. Setting it wakes the receive thread.
    bool isLive() const { return m_Live.load(std::memory_order_acquire); }
    void setLive(bool live);

    // The ring reply collection reads, and the one the debug view, the log
    // and event frames read.
    ByteRing replies;
    ByteRing traffic;
    void resetRings();

    // One exchange at a time, re-entrant for the thread that holds it. A
    // caller holds it around several exchanges that belong together.
    ExchangeLock& exchangeLock() const { return m_ExchangeLock; }

    // While set, a reply being awaited gives up at its next look (no reply)
    // and new commands come back as "no port" without touching the port. An
    // exchange queue torn down with a job waiting sets it, as does a closing
    // owner whose thread is in an exchange.
    void abortExchanges(bool abort) { m_Aborted.store(abort, std::memory_order_release); }
    bool exchangesAborted() const { return m_Aborted.load(std::memory_order_acquire); }

    // kReplyTimeoutMs, unless a test rig gives exchanges more room on a busy
    // machine (where a board's thread can be kept off the processor longer).
    void setReplyTimeout(int ms) { m_ReplyTimeoutMs.store(ms > 0 ? ms : kReplyTimeoutMs); }
    int replyTimeout() const { return m_ReplyTimeoutMs.load(); }

    // An exchange gave up on its reply (time-out or abort), which may still
    // come and must not be taken for the next command's answer. Written
    // under the exchange lock, read by the receive thread's late-reply wait.
    std::atomic<bool> replyOwed{false};
    std::atomic<uint32_t> gaveUpAt{0};

private:
    ReceiveThread* m_Receiver;
    std::atomic<bool> m_Live{false};
    mutable ExchangeLock m_ExchangeLock;
    std::atomic<bool> m_Aborted{false};
    std::atomic<int> m_ReplyTimeoutMs{kReplyTimeoutMs};
};
