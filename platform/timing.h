// Stand-ins for the system tick count and Sleep.
#pragma once

#include <cstdint>

// Milliseconds from a monotonic clock; wraps like a 32-bit tick counter.
uint32_t GetTickCount();

// Blocks the calling thread for at least ms milliseconds.
void Sleep(unsigned ms);
