// Puts the simulated board behind a pseudo-terminal, so that the tool (or a
// test) opens its slave side like the board's serial port. The board runs in
// its own thread; every control below may be called from any thread.
//
//   SimPtyHost host("TK2C", 8, 4);
//   host.start();                       // then open host.slavePath()
//   host.touch(3);
//   QTRY_VERIFY(host.log()->wasWritten(0x6F, 3));
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "sim/SimBoard.h"

class SimPtyHost {
public:
    SimPtyHost(const std::string& model = "TK2C", int channels = 8, int sbf = 4);
    ~SimPtyHost();
    SimPtyHost(const SimPtyHost&) = delete;
    SimPtyHost& operator=(const SimPtyHost&) = delete;

    // Creates the pseudo-terminal and starts the board thread. With a link
    // path, a symbolic link there points at the slave (replaced atomically,
    // removed by stop). False with a reason in *error on failure.
    bool start(const std::string& linkPath = std::string(), std::string* error = nullptr);
    // Ends the board thread and closes everything; safe to call twice.
    void stop();
    bool running() const { return m_running.load(std::memory_order_acquire); }
    std::string slavePath() const;
    std::string linkPath() const { return m_linkPath; }

    // --- controls -----------------------------------------------------------
    bool touch(int ch);
    bool release(int ch);
    void setLevel(int ch, int level);
    bool setStatus(const std::string& digits);
    void setSilent(bool silent);
    void setVersion(int version);
    void setAddr(int addr);
    void setAutoplay(bool on);
    void setNoise(int amplitude, uint32_t seed);
    void setSelectDelay(uint32_t ms);
    // Emulates 9600 baud both ways: about 1.04 ms per byte.
    void setPacing(bool on) { m_pacing.store(on, std::memory_order_release); }
    // Closes the master side as an unplugged cable would; the port reader then
    // sees a line failure. Returns once the line is down.
    void hangup();
    bool hungUp() const { return m_hungUp.load(std::memory_order_acquire); }
    // Pulls the board (hang-up, and the link path goes away), then after
    // afterMs plugs it in again: a new pseudo-terminal under the same link
    // path, the board keeping its state. Returns once the line is down.
    void replug(int afterMs);
    // Sends bytes to the tool as they stand (line noise, damaged frames),
    // queued after what the board has produced so far, so that the board's
    // own frames stay whole around them.
    void injectRaw(const std::string& bytes);

    // Runs f on the board under the board's lock (for tests that need more
    // than the controls above).
    void withBoard(const std::function<void(SimBoard&, uint32_t nowMs)>& f);

    // --- what the board received ------------------------------------------------
    std::shared_ptr<SimFrameLog> log() const { return m_log; }
    size_t frameCount() const { return m_log->size(); }
    bool wasWritten(uint8_t reg, uint8_t value) const { return m_log->wasWritten(reg, value); }
    bool selectionEverWritten(int ch) const;
    void clearLog() { m_log->clear(); }

    uint32_t nowMs() const;

private:
    struct Wire;  // the board thread's bytes on their way in and out

    void run();
    // One turn of the board thread: the line's hang-up and replug, the bytes
    // the tool sent, the board's answer, the bytes due to the tool.
    void serviceLine(Wire& w);
    std::string receive(Wire& w, bool pacing);
    void runBoard(Wire& w, const std::string& received, int64_t now, bool pacing);
    void transmit(Wire& w, int64_t now);
    bool openLine(std::string* error);
    void closeLine();
    void removeOwnLink();
    int64_t nowUs() const;

    mutable std::mutex m_boardMutex;
    SimBoard m_board;
    std::string m_injected;  // under m_boardMutex
    std::shared_ptr<SimFrameLog> m_log;

    int m_master = -1;
    int m_slaveKeep = -1;  // keeps the line up and raw between the tool's opens
    mutable std::mutex m_pathMutex;
    std::string m_slavePath;  // under m_pathMutex: a replug changes it
    std::string m_linkPath;
    std::thread m_thread;
    std::atomic<bool> m_running{false};
    std::atomic<bool> m_stop{false};
    std::atomic<bool> m_pacing{false};
    std::atomic<bool> m_hangupRequest{false};
    std::atomic<bool> m_hungUp{false};
    std::atomic<int> m_replugAfterMs{-1};  // with the next hang-up: come back after this
    const int64_t m_epochUs;
};
