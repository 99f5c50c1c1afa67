#include "link/commands.h"

#include <cstdio>
#include <cstring>
#include <mutex>

#include "link/BoardLink.h"
#include "link/ReceiveThread.h"
#include "platform/timing.h"

namespace {

constexpr int kTextSize = 32;  // payload and reply-data buffers

struct Outcome {
    ExchangeResult result = ExchangeResult::noPort();
    bool sent = false;
    uint8_t data[kTextSize] = {};  // reply data characters, zero where none came
};

// One exchange: discard what nobody asked for, send, collect the first reply.
Outcome Exchange(BoardLink& link, char letter, const char* payload) {
    Outcome out;
    if (link.exchangesAborted()) return out;
    std::lock_guard<ExchangeLock> lock(link.exchangeLock());
    // Checked again: the abort may have come while we waited for the lock.
    ReceiveThread* uart = link.receiver();
    if (link.exchangesAborted()) return out;
    if (link.replyOwed.load(std::memory_order_acquire)) {
        const char waited = uart->Drop_LateReply(link.replyOwed, link.gaveUpAt, link.replyTimeout());
        if (waited == 'Z') return out;  // aborted meanwhile: refused like any new command
        link.replyOwed.store(false, std::memory_order_release);
    }
    link.replies.readCount.store(link.replies.writeCount.load(std::memory_order_acquire), std::memory_order_release);
    if (uart->Send_Command(letter, payload) != '0') return out;
    out.sent = true;
    const char status = uart->Get_Reply(out.data, kTextSize, letter, link.replyTimeout());
    if (status == 'Z') {
        link.gaveUpAt.store(GetTickCount(), std::memory_order_release);
        link.replyOwed.store(true, std::memory_order_release);
    }
    if (status == letter)
        out.result = ExchangeResult::done();
    else if (status == 'Z')
        out.result = ExchangeResult::noReply();
    else if (status == 'A')
        out.result = ExchangeResult::noPort();  // the line went while we waited
    else
        out.result = ExchangeResult::boardStatus(status);
    return out;
}

uint8_t DecodeByte(const uint8_t* text, int i) {
    return Hex_Byte(static_cast<char>(text[2 * i]), static_cast<char>(text[2 * i + 1]));
}

int FrameCount(uint8_t len) { return len > kMaxRegsPerFrame ? kMaxRegsPerFrame : len; }

Outcome ReadExchange(BoardLink& link, uint8_t dev, uint8_t reg, uint8_t len) {
    char payload[kTextSize] = {};
    std::snprintf(payload, sizeof payload, "%02X%02X%02X", dev, reg, FrameCount(len));
    return Exchange(link, 'R', payload);
}

}  // namespace

ExchangeResult CMD_Read(BoardLink& link, uint8_t dev, uint8_t reg, uint8_t len, uint8_t* dest) {
    const Outcome out = ReadExchange(link, dev, reg, len);
    if (out.sent && dest != nullptr) {
        for (int i = 0; i < FrameCount(len); ++i) dest[i] = DecodeByte(out.data, i);
    }
    return out.result;
}

ExchangeResult CMD_Read(BoardLink& link, uint8_t dev, uint8_t reg, uint8_t len, std::atomic<uint8_t>* dest) {
    const Outcome out = ReadExchange(link, dev, reg, len);
    if (out.sent && dest != nullptr) {
        for (int i = 0; i < FrameCount(len); ++i) dest[i].store(DecodeByte(out.data, i), std::memory_order_relaxed);
    }
    return out.result;
}

ExchangeResult CMD_Write(BoardLink& link, uint8_t dev, uint8_t reg, uint8_t len, const uint8_t* src) {
    const int n = FrameCount(len);
    if (src == nullptr && n > 0) return ExchangeResult::noPort();  // nothing to send; never read through a null source
    char payload[kTextSize] = {};
    int at = std::snprintf(payload, sizeof payload, "%02X%02X%02X", dev, reg, n);
    for (int i = 0; i < n; ++i)
        at += std::snprintf(payload + at, sizeof payload - static_cast<size_t>(at), "%02X", src[i]);
    return Exchange(link, 'W', payload).result;
}

ExchangeResult CMD_Version(BoardLink& link, uint8_t* dest) {
    const Outcome out = Exchange(link, 'V', "");
    if (out.sent && dest != nullptr) *dest = DecodeByte(out.data, 0);
    return out.result;
}

ExchangeResult CMD_Device(BoardLink& link, uint8_t type) {
    char payload[kTextSize] = {};
    std::snprintf(payload, sizeof payload, "%02X", type);
    return Exchange(link, 'D', payload).result;
}

ExchangeResult CMD_Output(BoardLink& link, uint8_t level) {
    char payload[kTextSize] = {};
    std::snprintf(payload, sizeof payload, "%02X", level);
    return Exchange(link, 'O', payload).result;
}
