#include "cli/CliLive.h"

#include <unistd.h>

#include <QEventLoop>
#include <QSocketNotifier>
#include <QTimer>
#include <atomic>
#include <csignal>

#include "app/limits.h"
#include "cli/CliArgs.h"
#include "cli/CliOutput.h"
#include "cli/CliSession.h"
#include "data/SampleStream.h"
#include "link/ReceiveThread.h"
#include "workers/BoardSession.h"
#include "workers/ChipPollThread.h"
#include "workers/MonitorThread.h"

namespace {

std::atomic<bool> s_Interrupt{false};

extern "C" void OnInterrupt(int) { s_Interrupt.store(true); }

constexpr int kInterruptPollMs = 20;

}  // namespace

CliLive::CliLive(CliSession* session, CliOutput* out)
    : QObject(nullptr), m_Session(session), m_Out(out), m_Stream(new SampleStream(this)) {
    m_Stream->setMonitoredSource(
        [board = &session->board()] { return board->monitoringWanted() ? board->monitoredChannels() : uint16_t(0); });
    // Ctrl+C and a polite kill end the loop, so the port is closed and the log
    // ends on a whole row.
    struct sigaction sa = {};
    sa.sa_handler = OnInterrupt;
    sigemptyset(&sa.sa_mask);
    sigaction(SIGINT, &sa, nullptr);
    sigaction(SIGTERM, &sa, nullptr);
}

CliLive::~CliLive() {
    m_Session->board().setSensing(false);
    m_Session->board().setMonitoredChannels(0);
    // Each destructor stops and waits for its thread.
    delete m_Monitor;
    delete m_ChipPoll;
    m_Monitor = nullptr;
    m_ChipPoll = nullptr;
}

void CliLive::start() {
    m_Stream->restart();
    m_Monitor = new MonitorThread(m_Session->board());
    m_ChipPoll = new ChipPollThread(m_Session->board());
    // Events that came over the line before the sample's reply first (see
    // the window's connection).
    connect(m_Monitor, &MonitorThread::sampleReady, this, [this](const MonitorSample& sample) {
        takeReceivedBytes();
        m_Stream->publishLive(sample);
    });
    connect(m_Session->link().receiver(), &ReceiveThread::bytesReceived, this, &CliLive::takeReceivedBytes);
    connect(m_Session->link().receiver(), &ReceiveThread::lineFailed, this,
            [this] { quit(m_Out->fail(kExitPort, QStringLiteral("%1: the port failed").arg(m_Session->port()))); });
    // A chip that misses a probe (a busy PC can hold the board's thread past
    // the reply time-out) has until the grace runs out to answer again.
    m_ChipGrace = new QTimer(this);
    m_ChipGrace->setSingleShot(true);
    connect(m_ChipGrace, &QTimer::timeout, this, [this] {
        quit(m_Out->fail(kExitBoard, QStringLiteral("%1: the chip at I2C address %2 stopped answering")
                                         .arg(m_Session->port(), Hex2Upper(m_Session->dev()))));
    });
    connect(m_ChipPoll, &ChipPollThread::chipLost, this, [this] {
        m_Session->board().setChipPresent(false);
        if (m_Session->portFailed() || !m_Session->link().isLive()) return;  // reported as the port's failure
        if (!m_ChipGrace->isActive()) m_ChipGrace->start(ChipPollThread::GraceMs(m_Session->link().replyTimeout()));
    });
    connect(m_ChipPoll, &ChipPollThread::chipFound, this, [this] {
        m_ChipGrace->stop();
        m_Session->board().setChipPresent(true);
    });
    m_Monitor->start();
    m_ChipPoll->start();

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
    const int channels = m_Session->board().channelCount();
    DebugRing_Drain(
        m_Session->link().traffic,
        [this, channels](uint8_t b) {
            const EventFrameEvent ev = m_Frames.feed(b, channels);
            // Status frames are the window's monitoring dialog's; nothing
            // here shows them.
            if (ev.kind == EventFrameEvent::Touch) m_Stream->publishTouchMask(ev.touchMask);
        },
        [this] { m_Frames.dropFrame(); });
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
