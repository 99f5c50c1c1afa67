#include "link/ReceiveThread.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <mutex>

#include "link/BoardLink.h"
#include "link/SerialPort.h"
#include "link/commands.h"
#include "platform/timing.h"

namespace {

constexpr int kBatchSize = 256;
// The longest gap between two looks of a reply collector at the ring (and so
// between its event dispatches), and the receive thread's pause while a port
// is open but the link not yet live.
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

}  // namespace

ReceiveThread::ReceiveThread(BoardLink& link, QObject* parent)
    : QThread(parent), m_Link(link), m_Serial(new SerialPort) {}

bool ReceiveThread::linkLive() const {
    return m_Link.isLive() && m_Port.load(std::memory_order_acquire) > 0;
}

ReceiveThread::~ReceiveThread() {
    // Destroying a running QThread aborts the process; the owner normally
    // stops and waits first, this only covers an owner that forgot.
    Stop();
    wait();
    // Everything the receive thread did comes before what follows, including
    // a new object built where this one lived.
    (void)m_RunEnded.load(std::memory_order_acquire);
    {
        std::lock_guard<std::mutex> lock(m_PassLock);
        if (m_Port.load(std::memory_order_acquire) > 0) m_Serial->close();
        m_Port.store(0, std::memory_order_release);
    }
    delete m_Serial;
}

void ReceiveThread::Stop() {
    m_Stop.store(true, std::memory_order_release);
    Wake();
}

void ReceiveThread::Wake() { m_Serial->wake(); }

int ReceiveThread::Open_Error() const { return m_OpenError; }

QString ReceiveThread::portPath() const { return m_PortPath; }

int ReceiveThread::Open_Port(const QString& path) {
    const int ticket = Begin_Open(path);
    if (ticket == 0) return 0;
    // Give the bridge time to settle before the first command.
    Sleep(kSettleMs);
    return Finish_Open(ticket, path);
}

int ReceiveThread::Begin_Open(const QString& path) {
    // A port still settling from an earlier Begin_Open counts as open too:
    // this call takes over from it.
    if (m_Port.load(std::memory_order_acquire) > 0 || m_Serial->isOpen()) {
        std::lock_guard<std::mutex> lock(m_PassLock);
        m_Serial->flush();
        if (m_Serial->close() == 0) {
            m_Port.store(0, std::memory_order_release);
            m_PortPath.clear();
        }
    }
    ++m_OpenTicket;
    m_OpenError = m_Serial->open(path);
    if (m_OpenError != 0) return 0;
    m_OpenError = m_Serial->setLine();
    if (m_OpenError != 0) {
        m_Serial->close();
        return 0;
    }
    return m_OpenTicket;
}

int ReceiveThread::Finish_Open(int ticket, const QString& path) {
    // A Close_Port or another open ran while the port settled: it is no
    // longer ours to publish.
    if (ticket != m_OpenTicket || !m_Serial->isOpen()) return 0;
    m_PortPath = path;
    m_Port.store(m_Serial->handle(), std::memory_order_release);
    Wake();
    return 1;
}

int ReceiveThread::Close_Port() {
    if (m_Port.load(std::memory_order_acquire) <= 0) {
        // No port yet, but one may be settling between Begin_Open and
        // Finish_Open: cancel it so it does not come to life after this close.
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
    Wake();
    return 1;
}

char ReceiveThread::Send_Command(char letter, const char* payload) {
    if (!linkLive()) return 'A';
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

char ReceiveThread::Get_Reply(uint8_t* dest, int destSize, char letter, int timeoutMs) {
    Q_UNUSED(letter);  // the first reply frame is the answer, whatever its letter
    if (!linkLive()) return 'A';
    uint8_t frame[kFrameSize] = {};
    int k = 0;  // bytes of the current frame; 0 = outside any frame
    const uint32_t start = GetTickCount();
    for (;;) {
        ByteRing& ring = m_Link.replies;
        int32_t rd = ring.readCount.load(std::memory_order_relaxed);
        for (;;) {
            const int32_t written = ring.writeCount.load(std::memory_order_acquire);
            if (rd == written) break;
            // Held up long enough for the board to fill the whole ring, this
            // thread would read slots overwritten since: a frame spliced from
            // two laps could pass for a reply with the wrong data. The lost
            // bytes are skipped and the frame being collected is dropped; a
            // reply that was among them counts as not received.
            if (static_cast<uint32_t>(written) - static_cast<uint32_t>(rd) > static_cast<uint32_t>(kRingSize)) {
                rd = static_cast<int32_t>(static_cast<uint32_t>(written) - kRingSize);
                k = 0;
            }
            const uint8_t b = ring.bytes[rd & kRingMask].load(std::memory_order_relaxed);
            rd = NextCount(rd, 1);
            ring.readCount.store(rd, std::memory_order_release);
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
        if (m_Link.exchangesAborted()) return 'Z';
        {
            std::unique_lock<std::mutex> lock(m_RxWaitLock);
            m_RxArrived.wait_for(lock, std::chrono::milliseconds(kPassMs),
                                 [&ring, rd] { return ring.writeCount.load(std::memory_order_acquire) != rd; });
        }
        if (m_Link.exchangesAborted()) return 'Z';
        if (static_cast<int64_t>(GetTickCount() - start) > timeoutMs) return 'Z';
    }
}

char ReceiveThread::Drop_LateReply(const std::atomic<bool>& owed, const std::atomic<uint32_t>& gaveUpAt,
                                      int quietMs) {
    const uint32_t begun = GetTickCount();
    for (;;) {
        if (!linkLive()) return 'A';
        if (m_Link.exchangesAborted()) return 'Z';
        // Another thread's exchange may have settled the debt already, or
        // given up again and moved the give-up on.
        if (!owed.load(std::memory_order_acquire)) return '0';
        const uint32_t now = GetTickCount();
        // A line that never goes quiet (a stream of events, noise) must not
        // hold every command back: after a few quiet times the late reply
        // counts as lost, and an answer can only be a complete reply frame.
        const int patience = quietMs * kLateReplyPatience - static_cast<int32_t>(now - begun);
        if (patience <= 0) return '0';
        const uint32_t since = gaveUpAt.load(std::memory_order_acquire);
        const uint32_t lastRx = m_LastRxTick.load(std::memory_order_acquire);
        // The later of the two, on a tick counter that wraps.
        const uint32_t quietSince = static_cast<int32_t>(lastRx - since) > 0 ? lastRx : since;
        const int remaining = quietMs - static_cast<int32_t>(now - quietSince);
        if (remaining <= 0) return '0';
        const char status = Get_Reply(nullptr, 0, 'R', std::min(remaining, patience));
        if (status == 'A') return 'A';
        if (status != 'Z') return '0';  // the late reply came and is gone
        // Ran out: bytes that came meanwhile (a tail, an event) restart the
        // quiet time, which the next round works out.
    }
}

void ReceiveThread::storeBatch(const uint8_t* buf, int n) {
    ByteRing& replies = m_Link.replies;
    ByteRing& traffic = m_Link.traffic;
    const int32_t rxw = replies.writeCount.load(std::memory_order_relaxed);
    const int32_t dbw = traffic.writeCount.load(std::memory_order_relaxed);
    for (int i = 0; i < n; ++i) {
        replies.bytes[NextCount(rxw, i) & kRingMask].store(buf[i], std::memory_order_relaxed);
        traffic.bytes[NextCount(dbw, i) & kRingMask].store(buf[i], std::memory_order_relaxed);
    }
    m_LastRxTick.store(GetTickCount(), std::memory_order_release);
    traffic.writeCount.store(NextCount(dbw, n), std::memory_order_release);
    replies.writeCount.store(NextCount(rxw, n), std::memory_order_release);
}

void ReceiveThread::run() {
    uint8_t buf[kBatchSize];
    std::memset(buf, 0, sizeof buf);
    bool plainPause = false;
    while (!m_Stop.load(std::memory_order_acquire)) {
        const bool live = linkLive();
        int woke = 0;
        if (live && !plainPause) {
            // Sleeps until the line speaks (input, hang-up, error) or a stop,
            // close or port change wakes us: no rhythm while nothing happens.
            woke = m_Serial->waitReadable(-1);
            if (woke == 0) continue;  // woken: look at the state again
        } else if (m_Serial->isOpen()) {
            // A port is open but the link is not live (a connect about to
            // publish it, a failed line the GUI has yet to close), or the last
            // wake-up brought nothing: look again shortly, without reading.
            m_Serial->waitWake(kPassMs);
            plainPause = false;
            if (!live) continue;
        } else {
            m_Serial->waitWake(-1);
            continue;
        }
        if (!linkLive()) continue;
        int failedPort = 0;
        int n = 0;
        {
            std::lock_guard<std::mutex> lock(m_PassLock);
            // Checked again under the lock: a close may have won the race.
            if (!linkLive()) continue;
            const int port = m_Port.load(std::memory_order_acquire);
            if (m_Serial->checkLine() != 0) {
                m_Link.setLive(false);
                failedPort = port;
            }
            std::memset(buf, 0, sizeof buf);
            n = m_Serial->read(buf, kBatchSize);
            if (n > 0) storeBatch(buf, n);
        }
        if (n > 0) {
            // Through the collector's lock, so a collector that has just
            // found the ring empty is already waiting and cannot miss this.
            { std::lock_guard<std::mutex> lock(m_RxWaitLock); }
            m_RxArrived.notify_all();
        }
        // A wait that ended with nothing to read and nothing to report would
        // end again at once: pause plainly once instead of spinning on it.
        plainPause = woke != 0 && n <= 0 && failedPort == 0;
        if (failedPort != 0) emit lineFailed(failedPort);
        if (n > 0) emit bytesReceived();
    }
    m_Stop.store(false, std::memory_order_release);
    m_RunEnded.store(true, std::memory_order_release);
}
