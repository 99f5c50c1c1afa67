// The processing thread: while monitoring is on, walks through the selected
// channels one per cycle, has the chip expose each, reads and checks its
// measurement registers and publishes the decoded values.
#pragma once

#include <QThread>
#include <atomic>
#include <cstdint>

#include "data/MonitorSample.h"
#include "workers/interruptible_sleep.h"

class BoardLink;
class BoardSession;
class RegisterImage;

class MonitorThread : public QThread {
    Q_OBJECT
public:
    // Monitors session's board: reads go over its link and land in its
    // image. The session must outlive the thread.
    explicit MonitorThread(BoardSession& session, QObject* parent = nullptr);
    // Stops and waits: a QThread destroyed while running aborts the process.
    ~MonitorThread() override;

    void Stop();

    // One monitor cycle of the current family; returns 1 when a channel was
    // published. Runs on the calling thread.
    int Proc_Cycle();

    // The newest values of channel ch (the reference counts are the chip's,
    // shared by every channel), stamped now; what the thread publishes for a
    // channel. Any thread.
    MonitorSample latestSample(int ch) const;
    // The channel published last, and the one selected on the chip (read or
    // selected next).
    int lastChannel() const { return m_LastChannel.load(std::memory_order_acquire); }
    int selectedChannel() const { return m_Selected.load(std::memory_order_acquire); }
    // Where the next cycle starts; before the thread runs.
    void setSelectedChannel(int ch) { m_Selected.store(static_cast<uint8_t>(ch), std::memory_order_release); }

    std::atomic<bool> m_Stop{false};

    static constexpr unsigned kCycleIntervalMs = 50;

signals:
    // One publication, carried by value: a queued delivery shows the values
    // it was sent with, not whatever the globals hold when it runs.
    void sampleReady(MonitorSample sample);

protected:
    void run() override;

private:
    bool ReadRegs(uint8_t dev, uint8_t reg, uint8_t len, uint8_t* img);
    void Select(uint8_t dev, int family, int ch);
    void Publish(int family, int ch, const uint8_t* img);

    Interruptible_Sleep m_Sleep;  // between passes; Stop() wakes it
    BoardSession& m_Session;
    BoardLink& m_Link;
    RegisterImage& m_Image;

    // Written by the cycle, read by latestSample from any thread.
    std::atomic<uint16_t> m_Ref[kMaxSbf] = {};
    std::atomic<uint16_t> m_Sense[kMaxChannels][kMaxSbf] = {};
    std::atomic<int32_t> m_Diff[kMaxChannels][kMaxSbf] = {};
    std::atomic<int32_t> m_Offset[kMaxChannels][kMaxSbf] = {};
    std::atomic<uint8_t> m_LastChannel{0};
    std::atomic<uint8_t> m_Selected{0};
};
