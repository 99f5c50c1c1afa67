#include "link/Class_ThreadUART.h"

#include <chrono>
#include <cstring>
#include <mutex>

#include "app/globals.h"
#include "link/SerialPort.h"
#include "link/commands.h"
#include "platform/timing.h"

Class_ThreadUART* g_ThreadUART = nullptr;

namespace {

constexpr int kBatchSize = 256;
// The longest gap between two receive passes, and between two looks of a
// reply collector at the ring (and so between its event dispatches).
constexpr int kPassMs = 1;
constexpr int kFrameSize = 32;    // bytes of a reply frame the collector keeps
constexpr int kCommandSize = 64;  // command frame buffer
constexpr uint8_t kStx = 0x02;
constexpr uint8_t kEtx = 0x03;

// The counts run on for as long as a connection lasts; after some weeks of
// traffic they pass the top of int32 and must wrap, which signed addition
// does not do.
int32_t NextCount(int32_t count, int n) {
    return static_cast<int32_t>(static_cast<uint32_t>(count) + static_cast<uint32_t>(n));
}

bool linkLive(const Class_ThreadUART* t) {
    return g_UART_Connected.load(std::memory_order_acquire) != 0 && t->m_Port.load(std::memory_order_acquire) > 0;
}

}  // namespace

Class_ThreadUART::Class_ThreadUART(QObject* parent) : QThread(parent), m_Serial(new SerialPort) {}

Class_ThreadUART::~Class_ThreadUART() {
    // Destroying a running QThread aborts the process; the owner normally
    // stops and waits first, this only covers an owner that forgot.
    Stop();
    wait();
    {
        std::lock_guard<std::mutex> lock(m_PassLock);
        if (m_Port.load(std::memory_order_acquire) > 0) m_Serial->close();
        m_Port.store(0, std::memory_order_release);
    }
    delete m_Serial;
    if (g_ThreadUART == this) g_ThreadUART = nullptr;
}

void Class_ThreadUART::Stop() { m_Stop.store(true, std::memory_order_release); }

QString Class_ThreadUART::portPath() const { return m_PortPath; }

int Class_ThreadUART::Open_Port(const QString& path) {
    // A port still settling in an outer Open_Port counts as open too: this
    // call runs nested in that one's pumped wait and takes over from it.
    if (m_Port.load(std::memory_order_acquire) > 0 || m_Serial->isOpen()) {
        std::lock_guard<std::mutex> lock(m_PassLock);
        m_Serial->flush();
        if (m_Serial->close() == 0) {
            m_Port.store(0, std::memory_order_release);
            m_PortPath.clear();
        }
    }
    if (m_Serial->open(path) != 0) return 0;
    if (m_Serial->setLine() != 0) {
        m_Serial->close();
        return 0;
    }
    const int ticket = ++m_OpenTicket;
    // Give the bridge time to settle before the first command.
    Wait_Pump(100);
    // A Close_Port or another Open_Port ran in the wait: the port is no longer
    // ours to publish.
    if (ticket != m_OpenTicket || !m_Serial->isOpen()) return 0;
    m_PortPath = path;
    m_Port.store(m_Serial->handle(), std::memory_order_release);
    return 1;
}

int Class_ThreadUART::Close_Port() {
    if (m_Port.load(std::memory_order_acquire) <= 0) {
        // No port yet, but one may be settling in an Open_Port further down
        // the stack: cancel it so it does not come to life after this close.
        if (m_Serial->isOpen()) {
            ++m_OpenTicket;
            m_Serial->flush();
            m_Serial->close();
        }
        return 0;
    }
    std::lock_guard<std::mutex> lock(m_PassLock);
    m_Serial->flush();
    if (m_Serial->close() != 0) return 0;
    m_Port.store(0, std::memory_order_release);
    m_PortPath.clear();
    return 1;
}

char Class_ThreadUART::Send_Command(char letter, const char* payload) {
    if (!linkLive(this)) return 'A';
    uint8_t frame[kCommandSize] = {};
    int n = 0;
    frame[n++] = kStx;
    frame[n++] = 'C';
    frame[n++] = static_cast<uint8_t>(letter);
    if (payload != nullptr) {
        // Room for the ETX; payloads of this protocol are at most 22 characters.
        for (const char* p = payload; *p != '\0' && n < kCommandSize - 1; ++p) frame[n++] = static_cast<uint8_t>(*p);
    }
    frame[n++] = kEtx;
    // Only a port that closed under us counts; other write failures surface as
    // a missing reply.
    if (m_Serial->write(frame, n) < 0 && !m_Serial->isOpen()) return 'A';
    return '0';
}

char Class_ThreadUART::Get_Reply(uint8_t* dest, int destSize, char letter, int timeoutMs) {
    Q_UNUSED(letter);  // the first reply frame is the answer, whatever its letter
    if (!linkLive(this)) return 'A';
    uint8_t frame[kFrameSize] = {};
    int k = 0;  // bytes of the current frame; 0 = outside any frame
    const uint32_t start = GetTickCount();
    for (;;) {
        const int32_t written = g_RxWriteCount.load(std::memory_order_acquire);
        int32_t rd = g_RxReadCount.load(std::memory_order_relaxed);
        while (rd != written) {
            const uint8_t b = g_RxRing[rd & kRingMask].load(std::memory_order_relaxed);
            rd = NextCount(rd, 1);
            g_RxReadCount.store(rd, std::memory_order_release);
            if (b == kStx) {
                std::memset(frame, 0, sizeof frame);
                frame[0] = kStx;
                k = 1;
            } else if (k == 0) {
                // Outside a frame: the tail of something we never saw start.
                continue;
            } else if (b == kEtx && frame[1] == 'R') {
                if (k < 3) {
                    // "STX R ETX" carries no status; it is not an answer.
                    k = 0;
                    continue;
                }
                const int kept = k < kFrameSize ? k : kFrameSize;
                int copied = 0;
                if (dest != nullptr) {
                    for (int i = 3; i < kept && copied < destSize && frame[i] != 0; ++i) dest[copied++] = frame[i];
                }
                return static_cast<char>(frame[2]);
            } else {
                // Overlong frames keep their head; the excess is dropped.
                if (k < kFrameSize) frame[k] = b;
                ++k;
            }
        }
        if (Link_ExchangesAborted()) return 'Z';
        {
            std::unique_lock<std::mutex> lock(m_RxWaitLock);
            m_RxArrived.wait_for(lock, std::chrono::milliseconds(kPassMs),
                                 [rd] { return g_RxWriteCount.load(std::memory_order_acquire) != rd; });
        }
        Pump_Messages();
        if (Link_ExchangesAborted()) return 'Z';
        if (static_cast<int64_t>(GetTickCount() - start) > timeoutMs) return 'Z';
    }
}

void Class_ThreadUART::run() {
    uint8_t buf[kBatchSize];
    std::memset(buf, 0, sizeof buf);
    bool plainPause = true;
    while (!m_Stop.load(std::memory_order_acquire)) {
        // With a live port the pass waits for input instead of sleeping, so
        // bytes are taken as they arrive; the time-out keeps the rhythm. A
        // hang-up or error also ends the wait, and the line check below
        // reports it.
        const bool waited = !plainPause && linkLive(this);
        const int woke = waited ? m_Serial->waitReadable(kPassMs) : 0;
        if (!waited) Sleep(kPassMs);
        plainPause = false;
        // A wait that ran out saw neither input nor a hang-up or error (poll
        // reports those whatever it was asked for): the line has been checked
        // and there is nothing to read, so the pass would be two idle calls.
        if (waited && woke == 0) continue;
        if (!linkLive(this)) continue;
        int failedPort = 0;
        int n = 0;
        {
            std::lock_guard<std::mutex> lock(m_PassLock);
            // Checked again under the lock: a close may have won the race.
            if (!linkLive(this)) continue;
            const int port = m_Port.load(std::memory_order_acquire);
            if (m_Serial->checkLine() != 0) {
                g_UART_Connected.store(0, std::memory_order_release);
                failedPort = port;
            }
            std::memset(buf, 0, sizeof buf);
            n = m_Serial->read(buf, kBatchSize);
            if (n > 0) {
                const int32_t rxw = g_RxWriteCount.load(std::memory_order_relaxed);
                const int32_t dbw = g_DebugWriteCount.load(std::memory_order_relaxed);
                for (int i = 0; i < n; ++i) {
                    g_RxRing[NextCount(rxw, i) & kRingMask].store(buf[i], std::memory_order_relaxed);
                    g_DebugRing[NextCount(dbw, i) & kRingMask].store(buf[i], std::memory_order_relaxed);
                }
                g_DebugWriteCount.store(NextCount(dbw, n), std::memory_order_release);
                g_RxWriteCount.store(NextCount(rxw, n), std::memory_order_release);
            }
        }
        if (n > 0) {
            // Through the collector's lock, so a collector that has just
            // found the ring empty is already waiting and cannot miss this.
            { std::lock_guard<std::mutex> lock(m_RxWaitLock); }
            m_RxArrived.notify_all();
        }
        // A wait that ended early with nothing to read and nothing to report
        // would end early again at once: pause plainly once instead of
        // spinning on it.
        plainPause = waited && n <= 0 && failedPort == 0;
        if (failedPort != 0) emit UART_ERR_Signal(failedPort);
        if (n > 0) emit Update_UART_RxEdit_Signal();
    }
    m_Stop.store(false, std::memory_order_release);
}
