#include "workers/interruptible_sleep.h"

#include <chrono>

bool Interruptible_Sleep::Sleep_Unless_Stopped(unsigned ms, const std::atomic<bool>& stop) {
    // One deadline for the whole sleep, so wake-ups that are not a stop do
    // not stretch the period.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    std::unique_lock<std::mutex> lock(m_Mutex);
    return !m_Cond.wait_until(lock, deadline, [&stop] { return stop.load(std::memory_order_acquire); });
}

void Interruptible_Sleep::Wake() {
    // Taking the lock orders this wake after a sleeper's look at the flag: a
    // sleeper either saw the flag or is already waiting and gets notified.
    { std::lock_guard<std::mutex> lock(m_Mutex); }
    m_Cond.notify_all();
}
