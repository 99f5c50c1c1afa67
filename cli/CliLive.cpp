#include "cli/CliLive.h"

#include <unistd.h>

#include <QEventLoop>
#include <QSocketNotifier>
#include <QTimer>
#include <atomic>
#include <csignal>

#include "app/globals.h"
#include "cli/CliArgs.h"
#include "cli/CliOutput.h"
#include "cli/CliSession.h"
#include "data/SampleStream.h"
#include "link/ReceiveThread.h"
#include "workers/ChipPollThread.h"
#include "workers/MonitorThread.h"

namespace {

std::atomic<bool> s_Interrupt{false};

extern "C" void OnInterrupt(int) { s_Interrupt.store(true); }

constexpr int kInterruptPollMs = 20;

}  // namespace

CliLive::CliLive(CliSession* session, CliOutput* out)
    : QObject(nullptr), m_Session(session), m_Out(out), m_Stream(new SampleStream(this)) {
    // Ctrl+C and a polite kill end the loop, so the port is closed and the log
    // ends on a whole row.
    struct sigaction sa = {};
    sa.sa_handler = OnInterrupt;
    sigemptyset(&sa.sa_mask);
    sigaction(SIGINT, &sa, nullptr);
    sigaction(SIGTERM, &sa, nullptr);
}

CliLive::~CliLive() {
    g_SenseOn.store(0, std::memory_order_release);
    g_MonChannelMask.store(0, std::memory_order_release);
    // Each destructor stops and waits for its thread.
    delete g_Proc_Thread;
    delete g_CMD_Thread;
    g_Proc_Thread = nullptr;
    g_CMD_Thread = nullptr;
}

void CliLive::start() {
    g_ProcChannel.store(0, std::memory_order_release);
    m_Stream->restart();
    g_Proc_Thread = new MonitorThread(m_Session->image());
    g_CMD_Thread = new ChipPollThread(m_Session->image());
    connect(g_Proc_Thread, &MonitorThread::sampleReady, m_Stream, &SampleStream::publishLive);
    connect(g_ThreadUART, &ReceiveThread::bytesReceived, this, &CliLive::takeReceivedBytes);
    connect(g_ThreadUART, &ReceiveThread::lineFailed, this,
            [this] { quit(m_Out->fail(kExitPort, QStringLiteral("%1: the port failed").arg(m_Session->port()))); });
    connect(g_CMD_Thread, &ChipPollThread::chipLost, this, [this] {
        g_I2C_Connected.store(0, std::memory_order_release);
        if (m_Session->portFailed() || g_UART_Connected.load() == 0) return;  // reported as the port's failure
        quit(m_Out->fail(kExitBoard, QStringLiteral("%1: the chip at I2C address %2 stopped answering")
                                         .arg(m_Session->port(), Hex2Upper(m_Session->dev()))));
    });
    g_Proc_Thread->start();
    g_CMD_Thread->start();

    m_Stdin = new QSocketNotifier(STDIN_FILENO, QSocketNotifier::Read, this);
    connect(m_Stdin, &QSocketNotifier::activated, this, &CliLive::readStdin);
}

int CliLive::exec(qint64 timeoutMs) {
    QEventLoop loop;
    QTimer poll;
    connect(&poll, &QTimer::timeout, &loop, [this, &loop] {
        if (s_Interrupt.exchange(false)) {
            m_Interrupted = true;
            m_Running = false;
        }
        if (!m_Running) loop.quit();
    });
    poll.start(kInterruptPollMs);
    QTimer end;
    end.setSingleShot(true);
    connect(&end, &QTimer::timeout, this, [this] { quit(kExitOk); });
    if (timeoutMs >= 0) end.start(static_cast<int>(qMin<qint64>(timeoutMs, INT_MAX)));
    m_Running = true;
    m_Code = kExitOk;
    loop.exec();
    return m_Code;
}

void CliLive::quit(int code) {
    if (!m_Running) return;
    m_Running = false;
    m_Code = code;
}

void CliLive::takeReceivedBytes() {
    // The debug ring carries every byte the receive thread took; the event
    // frames are mixed into it with the replies.
    int32_t read = g_DebugReadCount.load(std::memory_order_acquire);
    const int channels = g_SizeOfChannel.load();
    for (;;) {
        const int32_t write = g_DebugWriteCount.load(std::memory_order_acquire);
        if (read == write) break;
        if (static_cast<uint32_t>(write) - static_cast<uint32_t>(read) > static_cast<uint32_t>(kRingSize)) {
            // Lapped: resume at the oldest byte still there; the frame in
            // progress is lost.
            read = static_cast<int32_t>(static_cast<uint32_t>(write) - kRingSize);
            m_Frames = EventFrameAssembler();
        }
        const uint8_t b = g_DebugRing[read & kRingMask].load(std::memory_order_relaxed);
        read = static_cast<int32_t>(static_cast<uint32_t>(read) + 1);
        g_DebugReadCount.store(read, std::memory_order_release);
        const EventFrameEvent ev = m_Frames.feed(b, channels);
        if (ev.kind == EventFrameEvent::Touch) {
            m_Stream->publishTouchMask(ev.touchMask);
        } else if (ev.kind == EventFrameEvent::Status) {
            for (int i = 0; i < ev.statusCount; ++i) g_SbfStatus[i].store(ev.status[i], std::memory_order_relaxed);
        }
    }
}

void CliLive::readStdin() {
    char buf[256];
    const ssize_t n = ::read(STDIN_FILENO, buf, sizeof buf);
    if (n <= 0) {
        // End of input (or /dev/null): nobody will press Enter.
        m_Stdin->setEnabled(false);
        return;
    }
    for (ssize_t i = 0; i < n; ++i)
        if (buf[i] == '\n') emit enterPressed();
}
