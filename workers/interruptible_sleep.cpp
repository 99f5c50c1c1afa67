#include "workers/interruptible_sleep.h"

#include "platform/timing.h"

namespace {
constexpr unsigned kSliceMs = 5;
}

bool Sleep_Unless_Stopped(unsigned ms, const std::atomic<bool>& stop) {
    const uint32_t start = GetTickCount();
    for (;;) {
        if (stop.load(std::memory_order_acquire)) return false;
        const uint32_t elapsed = GetTickCount() - start;
        if (elapsed >= ms) return true;
        const unsigned left = ms - elapsed;
        Sleep(left < kSliceMs ? left : kSliceMs);
    }
}
