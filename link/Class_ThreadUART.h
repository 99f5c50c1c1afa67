// The receive thread: passes over the open port at least every millisecond,
// taking bytes as soon as they arrive, copies them into both receive rings
// and reports line failures. It also owns the open port (opened and closed on
// the caller's thread).
#pragma once

#include <QString>
#include <QThread>
#include <atomic>
#include <condition_variable>
#include <mutex>

class SerialPort;

class Class_ThreadUART : public QThread {
    Q_OBJECT
public:
    explicit Class_ThreadUART(QObject* parent = nullptr);
    ~Class_ThreadUART() override;

    void Stop();

    // 1 = the port at path is open with the board's line setting, 0 = failure.
    int Open_Port(const QString& path);
    // 1 = a port was open and is closed now, 0 = none was open or close failed.
    int Close_Port();

    // Builds and writes one command frame; 'A' when no port, else '0'.
    char Send_Command(char letter, const char* payload);
    // Collects the first complete reply frame; status byte, 'A' or 'Z'.
    // Copies at most destSize data characters into dest.
    char Get_Reply(uint8_t* dest, int destSize, char letter, int timeoutMs);

    // Positive handle of the open port, 0 when none.
    std::atomic<int> m_Port{0};
    std::atomic<bool> m_Stop{false};
    // Device path of the open port (GUI thread only), empty when none.
    QString portPath() const;

signals:
    void Update_UART_RxEdit_Signal();
    void UART_ERR_Signal(int iPort);

protected:
    void run() override;

private:
    SerialPort* m_Serial = nullptr;  // guarded inside; see Class_ThreadUART.cpp
    QString m_PortPath;
    // Counts opens and cancelling closes (GUI thread only), so that an
    // Open_Port learns whether a nested call replaced its port in the wait.
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

extern Class_ThreadUART* g_ThreadUART;
