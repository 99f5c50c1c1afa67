// How much longer the sanitized builds take for the same work. Waits for a
// procedure that a loaded machine already stretches (a collection of samples
// at the line's speed) scale by it; waits for a single event do not need to.
#pragma once

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr int kSanitizedSlowdown = 2;
#else
constexpr int kSanitizedSlowdown = 1;
#endif
