// The processing thread: while monitoring is on, walks through the selected
// channels one per cycle, has the chip expose each, reads and checks its
// measurement registers and publishes the decoded values.
#pragma once

#include <QThread>
#include <atomic>
#include <cstdint>

#include "data/MonitorSample.h"
#include "workers/interruptible_sleep.h"

class RegisterImage;

class MonitorThread : public QThread {
    Q_OBJECT
public:
    // Reads land in image, which must outlive the thread.
    explicit MonitorThread(RegisterImage& image, QObject* parent = nullptr);
    // Stops and waits: a QThread destroyed while running aborts the process.
    ~MonitorThread() override;

    void Stop();

    // One monitor cycle of the current family; returns 1 when a channel was
    // published. Runs on the calling thread.
    int Proc_Cycle();

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
    RegisterImage& m_Image;
};

extern MonitorThread* g_Proc_Thread;
