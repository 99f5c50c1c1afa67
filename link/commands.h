// The board's command functions. Each is one blocking exchange under
// g_CmdLock and returns one character: '0' success, 'A' no port, 'Z' no reply
// within 100 ms, anything else the board's status byte. Callable from any
// thread. Register commands carry at most 8 registers (longer requests are cut
// to 8).
#pragma once

#include <QRecursiveMutex>
#include <atomic>
#include <cstdint>

#include "link/hex.h"

// One exchange at a time, re-entrant for the thread that holds it.
extern QRecursiveMutex g_CmdLock;

constexpr int kReplyTimeoutMs = 100;
constexpr int kMaxRegsPerFrame = 8;

char CMD_Read(uint8_t dev, uint8_t reg, uint8_t len, uint8_t* dest);
// Same, decoding into an array of atomic bytes.
char CMD_Read(uint8_t dev, uint8_t reg, uint8_t len, std::atomic<uint8_t>* dest);
char CMD_Write(uint8_t dev, uint8_t reg, uint8_t len, const uint8_t* src);
char CMD_Version(uint8_t* dest);
char CMD_Device(uint8_t type);
char CMD_Output(uint8_t level);

// While set, a reply being awaited gives up at its next poll ('Z') and new
// commands return 'A' without touching the port. The main window sets it when
// it must close while an exchange is in progress on the GUI thread.
void Link_AbortExchanges(bool abort);
bool Link_ExchangesAborted();
// The reply time-out of every exchange: kReplyTimeoutMs, unless a test rig
// gives exchanges more room on a busy machine (where a board's thread can be
// kept off the processor for longer than that).
void Link_SetReplyTimeout(int ms);
int Link_ReplyTimeout();
// Number of exchanges in progress on the calling thread (nesting depth).
int Link_ExchangeDepth();
