// Stand-ins for the system tick count, Sleep and the message-pumping waits.
#pragma once

#include <cstdint>

// Milliseconds from a monotonic clock; wraps like a 32-bit tick counter.
uint32_t GetTickCount();

// Blocks the calling thread for at least ms milliseconds.
void Sleep(unsigned ms);

// Dispatches every pending event of the calling thread, without waiting.
void Pump_Messages();

// Until at least ms milliseconds have passed: sleep 1 ms, then dispatch the
// calling thread's pending events. Returns at once for 0.
void Wait_Pump(unsigned ms);
