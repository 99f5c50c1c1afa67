#include "link/commands.h"

#include <cstdio>
#include <cstring>

#include "app/globals.h"
#include "link/ReceiveThread.h"
#include "platform/timing.h"

// Exists for the whole process, so no command can ever find it missing or
// destroyed, whichever thread object starts or ends first.
QRecursiveMutex g_CmdLock;

namespace {

constexpr int kTextSize = 32;  // payload and reply-data buffers

std::atomic<bool> s_Aborted{false};
std::atomic<int> s_ReplyTimeoutMs{kReplyTimeoutMs};
// An exchange gave up on its reply (time-out or abort), which may still come
// and must not be taken for the next command's answer. Written under
// g_CmdLock, yet atomics all the same: every value threads share is one.
std::atomic<bool> s_ReplyOwed{false};
std::atomic<uint32_t> s_GaveUpAt{0};
thread_local int t_ExchangeDepth = 0;

struct DepthGuard {
    DepthGuard() { ++t_ExchangeDepth; }
    ~DepthGuard() { --t_ExchangeDepth; }
    DepthGuard(const DepthGuard&) = delete;
    DepthGuard& operator=(const DepthGuard&) = delete;
};

struct Outcome {
    char result = 'A';
    bool sent = false;
    uint8_t data[kTextSize] = {};  // reply data characters, zero where none came
};

// One exchange: discard what nobody asked for, send, collect the first reply.
Outcome Exchange(char letter, const char* payload) {
    Outcome out;
    DepthGuard depth;
    if (Link_ExchangesAborted()) return out;
    QMutexLocker lock(&g_CmdLock);
    // Checked again: the abort may have come while we waited for the lock.
    ReceiveThread* uart = g_ThreadUART;
    if (uart == nullptr || Link_ExchangesAborted()) return out;
    if (s_ReplyOwed.load(std::memory_order_acquire)) {
        const char waited = uart->Drop_LateReply(s_ReplyOwed, s_GaveUpAt, Link_ReplyTimeout());
        if (waited == 'Z') return out;  // aborted meanwhile: refused like any new command
        s_ReplyOwed.store(false, std::memory_order_release);
    }
    g_RxReadCount.store(g_RxWriteCount.load(std::memory_order_acquire), std::memory_order_release);
    out.result = uart->Send_Command(letter, payload);
    if (out.result != '0') return out;
    out.sent = true;
    const char status = uart->Get_Reply(out.data, kTextSize, letter, Link_ReplyTimeout());
    if (status == 'Z') {
        s_GaveUpAt.store(GetTickCount(), std::memory_order_release);
        s_ReplyOwed.store(true, std::memory_order_release);
    }
    out.result = status == letter ? '0' : status;
    return out;
}

uint8_t DecodeByte(const uint8_t* text, int i) {
    return Hex_Byte(static_cast<char>(text[2 * i]), static_cast<char>(text[2 * i + 1]));
}

int FrameCount(uint8_t len) { return len > kMaxRegsPerFrame ? kMaxRegsPerFrame : len; }

Outcome ReadExchange(uint8_t dev, uint8_t reg, uint8_t len) {
    char payload[kTextSize] = {};
    std::snprintf(payload, sizeof payload, "%02X%02X%02X", dev, reg, FrameCount(len));
    return Exchange('R', payload);
}

}  // namespace

char CMD_Read(uint8_t dev, uint8_t reg, uint8_t len, uint8_t* dest) {
    const Outcome out = ReadExchange(dev, reg, len);
    if (out.sent && dest != nullptr) {
        for (int i = 0; i < FrameCount(len); ++i) dest[i] = DecodeByte(out.data, i);
    }
    return out.result;
}

char CMD_Read(uint8_t dev, uint8_t reg, uint8_t len, std::atomic<uint8_t>* dest) {
    const Outcome out = ReadExchange(dev, reg, len);
    if (out.sent && dest != nullptr) {
        for (int i = 0; i < FrameCount(len); ++i) dest[i].store(DecodeByte(out.data, i), std::memory_order_relaxed);
    }
    return out.result;
}

char CMD_Write(uint8_t dev, uint8_t reg, uint8_t len, const uint8_t* src) {
    const int n = FrameCount(len);
    if (src == nullptr && n > 0) return 'A';  // nothing to send; never read through a null source
    char payload[kTextSize] = {};
    int at = std::snprintf(payload, sizeof payload, "%02X%02X%02X", dev, reg, n);
    for (int i = 0; i < n; ++i)
        at += std::snprintf(payload + at, sizeof payload - static_cast<size_t>(at), "%02X", src[i]);
    return Exchange('W', payload).result;
}

char CMD_Version(uint8_t* dest) {
    const Outcome out = Exchange('V', "");
    if (out.sent && dest != nullptr) *dest = DecodeByte(out.data, 0);
    return out.result;
}

char CMD_Device(uint8_t type) {
    char payload[kTextSize] = {};
    std::snprintf(payload, sizeof payload, "%02X", type);
    return Exchange('D', payload).result;
}

char CMD_Output(uint8_t level) {
    char payload[kTextSize] = {};
    std::snprintf(payload, sizeof payload, "%02X", level);
    return Exchange('O', payload).result;
}

void Link_AbortExchanges(bool abort) { s_Aborted.store(abort, std::memory_order_release); }

bool Link_ExchangesAborted() { return s_Aborted.load(std::memory_order_acquire); }

void Link_SetReplyTimeout(int ms) { s_ReplyTimeoutMs.store(ms > 0 ? ms : kReplyTimeoutMs); }

int Link_ReplyTimeout() { return s_ReplyTimeoutMs.load(); }

int Link_ExchangeDepth() { return t_ExchangeDepth; }
