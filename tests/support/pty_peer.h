// The far end of a pseudo-terminal, standing in for the evaluation board: the
// code under test opens slavePath() like a serial device, the test reads what
// it wrote and writes the board's bytes. Closing the master side looks to the
// code like a pulled board (hang-up on its line).
#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <atomic>
#include <functional>
#include <mutex>
#include <thread>

class PtyPeer {
public:
    // Answers one command frame (STX .. ETX, both included) with the bytes to
    // send back; an empty answer keeps the board silent.
    using Responder = std::function<QByteArray(const QByteArray& frame)>;

    PtyPeer();
    ~PtyPeer();
    PtyPeer(const PtyPeer&) = delete;
    PtyPeer& operator=(const PtyPeer&) = delete;

    bool isOpen() const { return m_Master >= 0; }
    QString slavePath() const { return m_SlavePath; }

    // Bytes the code wrote: returns once `want` bytes arrived (or, with want
    // < 0, once nothing more came for a short while) or at the timeout.
    QByteArray read(int timeoutMs, int want = -1);
    bool write(const QByteArray& bytes);
    // Bytes sitting unread on the slave side (what the code has not read yet).
    int pendingOnSlave() const;
    // True once every descriptor of the slave side has been closed.
    bool waitForSlaveClosed(int timeoutMs);
    // Pulls the board: the slave side sees a hang-up.
    void closeMaster();

    // A background thread that reads command frames, records them and writes
    // what the responder returns. Frames are recorded in arrival order.
    void startResponder(Responder responder);
    void stopResponder();
    QList<QByteArray> frames() const;

private:
    void respondLoop();

    int m_Master = -1;
    QString m_SlavePath;
    Responder m_Responder;
    std::thread m_Thread;
    std::atomic<bool> m_Run{false};
    mutable std::mutex m_FramesMutex;
    QList<QByteArray> m_Frames;
};
