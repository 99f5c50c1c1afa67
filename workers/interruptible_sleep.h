// The worker loops sleep between passes; a stop request must not wait for the
// rest of a long sleep, or closing the window would hang for up to a second.
// Waking in short slices to look at the flag would cost hundreds of wake-ups a
// second while idle, so the sleep blocks on a condition that the stop wakes.
#pragma once

#include <atomic>
#include <condition_variable>
#include <mutex>

class Interruptible_Sleep {
public:
    // Sleeps ms milliseconds from now; returns false as soon as stop is set
    // (true when the whole time has passed). Spurious wake-ups are absorbed.
    bool Sleep_Unless_Stopped(unsigned ms, const std::atomic<bool>& stop);
    // Call after setting the stop flag: ends every sleep in progress.
    void Wake();

private:
    std::mutex m_Mutex;
    std::condition_variable m_Cond;
};
