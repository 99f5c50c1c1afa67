// The board's command functions. Each is one blocking exchange over a board
// link, under its exchange lock, and returns what it came to: done, no port,
// no reply within 100 ms, or the board's own status. Callable from any
// thread. Register commands carry at most 8 registers (longer requests are cut
// to 8).
#pragma once

#include <atomic>
#include <cstdint>

#include "link/BoardLink.h"
#include "link/ExchangeResult.h"
#include "link/hex.h"

constexpr int kMaxRegsPerFrame = 8;

ExchangeResult CMD_Read(BoardLink& link, uint8_t dev, uint8_t reg, uint8_t len, uint8_t* dest);
// Same, decoding into an array of atomic bytes.
ExchangeResult CMD_Read(BoardLink& link, uint8_t dev, uint8_t reg, uint8_t len, std::atomic<uint8_t>* dest);
ExchangeResult CMD_Write(BoardLink& link, uint8_t dev, uint8_t reg, uint8_t len, const uint8_t* src);
ExchangeResult CMD_Version(BoardLink& link, uint8_t* dest);
ExchangeResult CMD_Device(BoardLink& link, uint8_t type);
ExchangeResult CMD_Output(BoardLink& link, uint8_t level);
