#include "link/ExchangeQueue.h"

#include "link/BoardLink.h"

ExchangeQueue::ExchangeQueue(BoardLink& link, QObject* parent) : QObject(parent), m_Link(link) {
    connect(this, &ExchangeQueue::completed, this, &ExchangeQueue::deliver, Qt::QueuedConnection);
    m_Thread = std::thread(&ExchangeQueue::run, this);
}

ExchangeQueue::~ExchangeQueue() {
    const bool wasAborted = m_Link.exchangesAborted();
    {
        std::lock_guard<std::mutex> hold(m_Lock);
        m_Stop = true;
        m_Jobs.clear();
    }
    m_Wake.notify_all();
    // A job waiting for a reply gives up at its next look instead of
    // holding the close for a whole time-out.
    m_Link.abortExchanges(true);
    m_Thread.join();
    m_Link.abortExchanges(wasAborted);
    // Callbacks not yet delivered are dropped here, on the owner's thread.
    std::deque<std::function<void()>> undelivered;
    {
        std::lock_guard<std::mutex> hold(m_Lock);
        undelivered.swap(m_Done);
    }
}

void ExchangeQueue::enqueue(std::function<void()> work) {
    {
        std::lock_guard<std::mutex> hold(m_Lock);
        m_Jobs.push_back(std::move(work));
    }
    m_Wake.notify_one();
}

void ExchangeQueue::complete(std::function<void()> callback) {
    {
        std::lock_guard<std::mutex> hold(m_Lock);
        m_Done.push_back(std::move(callback));
    }
    emit completed();
}

void ExchangeQueue::deliver() {
    // One wake-up per job; an earlier one may already have taken this one's
    // callback, and a callback may post more jobs.
    for (;;) {
        std::function<void()> callback;
        {
            std::lock_guard<std::mutex> hold(m_Lock);
            if (m_Done.empty()) return;
            callback = std::move(m_Done.front());
            m_Done.pop_front();
        }
        // A callback may end the session, and this queue with it.
        const QPointer<ExchangeQueue> self(this);
        callback();
        if (!self) return;
        if (--m_Pending == 0) emit idle();
    }
}

void ExchangeQueue::run() {
    for (;;) {
        std::function<void()> work;
        {
            std::unique_lock<std::mutex> hold(m_Lock);
            m_Wake.wait(hold, [this] { return m_Stop || !m_Jobs.empty(); });
            if (m_Stop) return;
            work = std::move(m_Jobs.front());
            m_Jobs.pop_front();
        }
        work();
    }
}
