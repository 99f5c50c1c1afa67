// The polling thread: asks once a second whether a chip answers at the
// configured I2C address and tells the main window when the answer changes.
#pragma once

#include <QThread>
#include <atomic>

#include "workers/interruptible_sleep.h"

class Class_CMD_Thread : public QThread {
    Q_OBJECT
public:
    explicit Class_CMD_Thread(QObject* parent = nullptr);
    // Stops and waits: a QThread destroyed while running aborts the process.
    ~Class_CMD_Thread() override;

    void Stop();

    std::atomic<bool> m_Stop{false};

    static constexpr unsigned kProbeIntervalMs = 1000;

signals:
    void I2C_Connection_Signal();
    void I2C_Disconnection_Signal();
    // Declared for the main window's connections; the touch state and the SBF
    // status arrive as board event frames instead.
    void UpdateTouch_Signal(int iTouchKey);
    void Update_Valid_Signal();

protected:
    void run() override;

private:
    void Probe();

    Interruptible_Sleep m_Sleep;  // between passes; Stop() wakes it
};

extern Class_CMD_Thread* g_CMD_Thread;
