// The polling thread: asks once a second whether a chip answers at the
// configured I2C address and tells the main window when the answer changes.
#pragma once

#include <QThread>
#include <atomic>

#include "workers/interruptible_sleep.h"

class BoardLink;
class BoardSession;
class RegisterImage;

class ChipPollThread : public QThread {
    Q_OBJECT
public:
    // Probes session's chip over its link, into its image. The session must
    // outlive the thread.
    explicit ChipPollThread(BoardSession& session, QObject* parent = nullptr);
    // Stops and waits: a QThread destroyed while running aborts the process.
    ~ChipPollThread() override;

    void Stop();

    std::atomic<bool> m_Stop{false};

    static constexpr unsigned kProbeIntervalMs = 1000;
    // How long a chip that missed one probe is waited for before a run that
    // needs it gives up: the next probe, the wait for a late reply before
    // it, and room to spare (2.5 s at the board's 100 ms reply time-out).
    // One probe missed on a busy machine must not end a run whose next
    // probe answers.
    static int GraceMs(int replyTimeoutMs);

signals:
    void chipFound();
    void chipLost();

protected:
    void run() override;

private:
    void Probe();

    Interruptible_Sleep m_Sleep;  // between passes; Stop() wakes it
    BoardSession& m_Session;
    BoardLink& m_Link;
    RegisterImage& m_Image;
};
