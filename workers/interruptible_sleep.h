// The worker loops sleep between passes; a stop request must not wait for the
// rest of a long sleep, or closing the window would hang for up to a second.
#pragma once

#include <atomic>

// Sleeps ms milliseconds in short slices; returns false as soon as stop is
// set (true when the whole time has passed).
bool Sleep_Unless_Stopped(unsigned ms, const std::atomic<bool>& stop);
