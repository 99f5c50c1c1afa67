// The board's serial port: a device path opened raw at 9600 baud 8N1 without
// flow control. Results follow the conventions the link layer was written
// against: 0 for a successful open, line setting or close; a byte count from
// read; non-zero from the line check only when the port has really failed.
//
// Safe to use from two threads at once (the receive thread waits, reads and
// checks, the caller's thread writes, opens and closes): every use of the
// descriptor happens under one short-held mutex, so a close waits for a read
// or write in flight and nothing ever touches a descriptor after it was
// closed. A wait for input is the one use outside the mutex (a write must not
// queue behind it); a close wakes it and waits for it to end instead.
//
// The port is held for exclusive use while open (TIOCEXCL, and an advisory
// lock that also keeps out a second copy of this tool running as root), so
// no other program can interleave its bytes with ours.
#pragma once

#include <QString>
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>

class SerialPort {
public:
    SerialPort();
    ~SerialPort();
    SerialPort(const SerialPort&) = delete;
    SerialPort& operator=(const SerialPort&) = delete;

    // 0 = opened; otherwise the errno of the failure (EBUSY: another program
    // holds the port), or -1 when this object already has a port open.
    int open(const QString& path);
    // 0 = raw 9600 8N1, no flow control, no carriage-return mangling.
    int setLine();
    // Empties both the input and the output queue.
    void flush();
    // 0 = closed; non-zero = no port was open.
    int close();

    // Writes all n bytes, waiting briefly when the driver's queue is full.
    // Returns the bytes written, or -1 when the port is not open or failed.
    int write(const uint8_t* data, int n);
    // Never blocks: the bytes available now (at most max), 0 for none, -1 when
    // the port is not open or failed.
    int read(uint8_t* buf, int max);
    // Blocks until input is waiting, the line hangs up or fails, wake() is
    // called, or timeoutMs has passed (negative: no limit): 1 = something to
    // read or to report, 0 = woken, time-out or a signal, -1 when the port is
    // not open or failed.
    int waitReadable(int timeoutMs);
    // Blocks until wake() is called or timeoutMs has passed (negative: no
    // limit), whether or not a port is open: 1 = woken, 0 = time-out.
    int waitWake(int timeoutMs);
    // Ends the current or the next wait early; safe from any thread.
    void wake();
    // 0 = healthy (or simply not open); non-zero = hang-up, error, removed.
    int checkLine();

    bool isOpen() const { return m_Open.load(std::memory_order_acquire); }
    // Positive handle of the open port, 0 when none.
    int handle() const { return m_Handle.load(std::memory_order_acquire); }

private:
    int closeLocked(std::unique_lock<std::mutex>& lock);

    mutable std::mutex m_Mutex;
    int m_Fd = -1;  // guarded by m_Mutex
    // A read or write that failed in a way that means the device is gone;
    // reported by the next line check. Guarded by m_Mutex.
    bool m_Failed = false;
    // Input waits in progress on m_Fd; guarded by m_Mutex. The descriptor is
    // closed only once it is 0, so a wait never outlives its descriptor's
    // number (which the next open could reuse).
    int m_Waiters = 0;
    bool m_Closing = false;  // guarded by m_Mutex
    std::condition_variable m_WaitersDone;
    int m_WakeFd = -1;  // eventfd: counts wake-ups not yet taken by a wait
    std::atomic<bool> m_Open{false};
    std::atomic<int> m_Handle{0};
};
