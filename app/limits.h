// The fixed sizes every layer shares: how many channels and sensing blocks
// the monitor arrays, the channel masks and the views are built for.
#pragma once

constexpr int kMaxChannels = 16;  // monitor arrays, 16-bit channel masks
constexpr int kMaxSbf = 4;        // monitor values per channel
