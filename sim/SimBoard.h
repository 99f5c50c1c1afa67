// The simulated evaluation board: takes the tool's command frames byte by
// byte, relays register commands to the chip and produces the reply and event
// frames, byte for byte as the board firmware does. Bytes in, bytes out,
// driven by the clock the caller passes in; no I/O and no locking (the host
// serialises access), except for the frame log.
//
// Replies are STX 'R' status data ETX with upper-case hex data. The status is
// the command letter on success, otherwise:
//   'N'  no chip acknowledged the device address of an 'R' or 'W' command;
//   'F'  the frame was malformed: its second byte is not 'C', the command
//        letter is unknown, the payload has the wrong length or a character
//        that is not a hex digit, a register count outside 1..8, or the frame
//        grew beyond kMaxFrameBytes before its ETX.
// A frame that a new STX cuts off before its ETX is dropped without a reply:
// the tool has already sent its next command by then and would take an error
// reply as that command's answer. Bytes outside any frame are ignored.
//
// Events: a change of the touch mask sends STX 'C' 'T' low-byte high-byte ETX
// (four hex digits); setStatus sends STX 'C' 'E' with one hex digit per
// channel, then ETX.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "sim/SimChip.h"
#include "sim/SimFrameLog.h"

class SimBoard {
public:
    static constexpr size_t kMaxFrameBytes = 64;
    static constexpr uint8_t kDefaultVersion = 32;
    static constexpr uint8_t kDefaultChipAddr = 0xB0;
    static constexpr uint32_t kAutoplayHoldMs = 600;
    static constexpr uint32_t kAutoplayGapMs = 200;

    SimBoard(const std::string& model, int channels, int sbf);

    SimChip& chip() { return m_chip; }
    const SimChip& chip() const { return m_chip; }
    // Shared so that readers may keep it beyond the board's lock.
    std::shared_ptr<SimFrameLog> log() const { return m_log; }

    void receive(const uint8_t* data, size_t n, uint32_t nowMs);
    void receive(const std::string& bytes, uint32_t nowMs);
    // Advances time-driven behaviour (autoplay).
    void tick(uint32_t nowMs);
    // Everything produced since the last call, in wire order.
    std::string takeOutput();

    // --- what the engineer does to the board ------------------------------------
    bool touch(int ch);
    bool release(int ch);
    // Digits beyond the channel count are dropped, missing ones sent as '0';
    // false (and nothing sent) for a character that is not a hex digit.
    bool setStatus(const std::string& digits);
    void setSilent(bool silent) { m_silent = silent; }
    void setVersion(uint8_t version) { m_version = version; }
    void setChipAddr(uint8_t addr) { m_chipAddr = addr; }
    uint8_t chipAddr() const { return m_chipAddr; }
    // Holds one key after another: kAutoplayHoldMs touched, kAutoplayGapMs released.
    void setAutoplay(bool on, uint32_t nowMs);

    // --- what the tool told the board ---------------------------------------------
    int deviceType() const { return m_deviceType; }    // last 'D' payload, -1 before any
    int outputLevel() const { return m_outputLevel; }  // last 'O' payload, -1 before any

    // Whether a 'W' accepted by the chip stored the tool's selection value of
    // channel ch into the family's selection register.
    bool selectionEverWritten(int ch) const;

private:
    void handleFrame(uint32_t nowMs);
    char execute(char letter, const std::string& payload, SimFrame& frame, std::string& data, uint32_t nowMs);
    bool chipAnswers(int dev) const;
    void sendEvent(char letter, const std::string& body);
    void sendTouchEvent();

    SimChip m_chip;
    std::shared_ptr<SimFrameLog> m_log = std::make_shared<SimFrameLog>();
    std::string m_output;

    bool m_inFrame = false;
    bool m_overlong = false;
    std::string m_frame;  // bytes after the STX

    bool m_silent = false;
    uint8_t m_version = kDefaultVersion;
    uint8_t m_chipAddr = kDefaultChipAddr;
    int m_deviceType = -1;
    int m_outputLevel = -1;

    bool m_autoplay = false;
    bool m_autoHolding = false;
    int m_autoKey = -1;
    uint32_t m_autoNextMs = 0;
};
