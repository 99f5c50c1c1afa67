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
#include "workers/BoardSession.h"
#include "workers/ChipPollThread.h"

namespace {

std::atomic<bool> s_Interrupt{false};

extern "C" void OnInterrupt(int) { s_Interrupt.store(true); }

constexpr int kInterruptPollMs = 20;

}  // namespace

CliLive::CliLive(CliSession* session, CliOutput* out)
    : QObject(nullptr), m_Session(session), m_Out(out), m_Stream(session->board().stream()) {
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
    m_Session->board().stopWorkers();
}

void CliLive::start() {
    BoardSession& board = m_Session->board();
    m_Stream->restart();
    connect(&board, &BoardSession::lineFailed, this,
            [this] { quit(m_Out->fail(kExitPort, QStringLiteral("%1: the port failed").arg(m_Session->port()))); });
    // A chip that misses a probe (a busy PC can hold the board's thread past
    // the reply time-out) has until the grace runs out to answer again.
    m_ChipGrace = new QTimer(this);
    m_ChipGrace->setSingleShot(true);
    connect(m_ChipGrace, &QTimer::timeout, this, [this] {
        quit(m_Out->fail(kExitBoard, QStringLiteral("%1: the chip at I2C address %2 stopped answering")
                                         .arg(m_Session->port(), Hex2Upper(m_Session->dev()))));
    });
    connect(&board, &BoardSession::chipLost, this, [this] {
        if (m_Session->portFailed() || !m_Session->link().isLive()) return;  // reported as the port's failure
        if (!m_ChipGrace->isActive()) m_ChipGrace->start(ChipPollThread::GraceMs(m_Session->link().replyTimeout()));
    });
    connect(&board, &BoardSession::chipFound, m_ChipGrace, &QTimer::stop);
    board.startWorkers();

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
