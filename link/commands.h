// The board's command functions. Each is one blocking exchange over a board
// link, under its exchange lock, and returns one character: '0' success, 'A' no port, 'Z' no reply
// within 100 ms, anything else the board's status byte. Callable from any
// thread. Register commands carry at most 8 registers (longer requests are cut
// to 8).
#pragma once

#include <atomic>
#include <cstdint>

#include "link/BoardLink.h"
#include "link/hex.h"

constexpr int kMaxRegsPerFrame = 8;

char CMD_Read(BoardLink& link, uint8_t dev, uint8_t reg, uint8_t len, uint8_t* dest);
// Same, decoding into an array of atomic bytes.
char CMD_Read(BoardLink& link, uint8_t dev, uint8_t reg, uint8_t len, std::atomic<uint8_t>* dest);
char CMD_Write(BoardLink& link, uint8_t dev, uint8_t reg, uint8_t len, const uint8_t* src);
char CMD_Version(BoardLink& link, uint8_t* dest);
char CMD_Device(BoardLink& link, uint8_t type);
char CMD_Output(BoardLink& link, uint8_t level);
