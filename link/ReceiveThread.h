// The receive thread: sleeps until the open port has something to say (or a
// stop, close or port change wakes it), copies what arrives into both receive
// rings and reports line failures. It also owns the open port (opened and closed on
// the caller's thread).
#pragma once

#include <QString>
#include <QThread>
#include <atomic>
#include <condition_variable>
#include <mutex>

class BoardLink;
class SerialPort;

class ReceiveThread : public QThread {
    Q_OBJECT
public:
    // Fills link's rings and follows its live flag; the link owns it.
    explicit ReceiveThread(BoardLink& link, QObject* parent = nullptr);
    ~ReceiveThread() override;

    void Stop();
    // Makes the thread look at the link's state again at once; for whoever
    // changes whether the link is live.
    void Wake();

    // The bridge's settle time between opening its port and the first command.
    static constexpr int kSettleMs = 100;

    // 1 = the port at path is open with the board's line setting, 0 = failure.
    // Waits out the settle time on the calling thread: for callers that may
    // block (the command line, tests).
    int Open_Port(const QString& path);
    // The same in two steps, for a caller that must not block: Begin_Open
    // opens the port and sets the line (a ticket, 0 on failure); once the
    // settle time has passed, Finish_Open(ticket) puts the port to use (1),
    // unless a Close_Port or another open came in between (0).
    int Begin_Open(const QString& path);
    int Finish_Open(int ticket, const QString& path);
    // The errno behind the last failed Open_Port (-1: no system reason), 0
    // after a successful one.
    int Open_Error() const;
    // 1 = a port was open and is closed now, 0 = none was open or close failed.
    int Close_Port();

    // Builds and writes one command frame; 'A' when no port, else '0'.
    char Send_Command(char letter, const char* payload);
    // Collects the first complete reply frame; status byte, 'A' or 'Z'.
    // Copies at most destSize data characters into dest.
    char Get_Reply(uint8_t* dest, int destSize, char letter, int timeoutMs);

    // While `owed` says an exchange gave up on its reply (at tick gaveUpAt),
    // consumes input until that late reply has come (and is dropped) or the
    // line has been quiet for quietMs since the give-up and since the last
    // byte; a line that never goes quiet is waited for kLateReplyPatience
    // quiet times at most. 'A' when the link is not live, 'Z' when exchanges
    // were aborted meanwhile, '0' otherwise.
    static constexpr int kLateReplyPatience = 5;
    char Drop_LateReply(const std::atomic<bool>& owed, const std::atomic<uint32_t>& gaveUpAt, int quietMs);

    // Positive handle of the open port, 0 when none.
    std::atomic<int> m_Port{0};
    std::atomic<bool> m_Stop{false};
    // Set by run() as its last step, read after the join: a happens-before
    // edge that ThreadSanitizer can see, as it cannot see QThread::wait's.
    std::atomic<bool> m_RunEnded{false};
    // Device path of the open port (GUI thread only), empty when none.
    QString portPath() const;

signals:
    void bytesReceived();
    void lineFailed(int iPort);

protected:
    void run() override;

private:
    bool linkLive() const;
    // Puts a batch read from the port into both rings, bytes before counts;
    // under m_PassLock.
    void storeBatch(const uint8_t* buf, int n);

    BoardLink& m_Link;
    SerialPort* m_Serial = nullptr;  // guarded inside; see ReceiveThread.cpp
    QString m_PortPath;
    int m_OpenError = 0;
    std::atomic<uint32_t> m_LastRxTick{0};  // tick of the last batch received
    // Counts opens and cancelling closes (GUI thread only), so that an
    // Finish_Open learns whether a close or another open came in the wait.
    int m_OpenTicket = 0;
    // Held for a whole receive pass (check, read, ring update) and by every
    // close, so that once Close_Port returns no pass is still writing the rings
    // of the connection that just ended: the connect that follows resets them.
    std::mutex m_PassLock;
    // A reply collector waits here between its looks at the receive ring; the
    // receive thread wakes it when it has published new bytes, so a reply is
    // seen when it lands rather than at the collector's next millisecond.
    std::mutex m_RxWaitLock;
    std::condition_variable m_RxArrived;
};
