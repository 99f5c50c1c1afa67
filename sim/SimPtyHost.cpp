#include "sim/SimPtyHost.h"

#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <deque>

namespace {

// Ten bit times (start, eight data, stop) at 9600 baud.
constexpr int64_t kByteUs = 1042;
// Output nobody reads is lost on a real line too; keep at most this much.
constexpr size_t kMaxBacklog = 4096;
constexpr int kHangupWaitMs = 2000;
constexpr int64_t kTickUs = 1000;

int64_t steadyUs() {
    using namespace std::chrono;
    return duration_cast<microseconds>(steady_clock::now().time_since_epoch()).count();
}

bool fail(std::string* error, const std::string& what) {
    if (error != nullptr) *error = what + ": " + std::strerror(errno);
    return false;
}

}  // namespace

SimPtyHost::SimPtyHost(const std::string& model, int channels, int sbf)
    : m_board(model, channels, sbf), m_log(m_board.log()), m_epochUs(steadyUs()) {}

SimPtyHost::~SimPtyHost() { stop(); }

int64_t SimPtyHost::nowUs() const { return steadyUs() - m_epochUs; }

uint32_t SimPtyHost::nowMs() const { return static_cast<uint32_t>(nowUs() / 1000); }

bool SimPtyHost::start(const std::string& linkPath, std::string* error) {
    if (running() || m_master >= 0) {
        errno = EBUSY;
        return fail(error, "already started");
    }
    m_linkPath = linkPath;
    if (!openLine(error)) {
        m_linkPath.clear();
        return false;
    }
    m_stop.store(false, std::memory_order_release);
    m_hungUp.store(false, std::memory_order_release);
    m_running.store(true, std::memory_order_release);
    m_thread = std::thread(&SimPtyHost::run, this);
    return true;
}

bool SimPtyHost::openLine(std::string* error) {
    m_master = posix_openpt(O_RDWR | O_NOCTTY);
    if (m_master < 0) return fail(error, "posix_openpt");
    char name[128] = {};
    if (grantpt(m_master) != 0 || unlockpt(m_master) != 0 || ptsname_r(m_master, name, sizeof name) != 0) {
        const bool r = fail(error, "pseudo-terminal set-up");
        closeLine();
        return r;
    }
    fcntl(m_master, F_SETFL, fcntl(m_master, F_GETFL) | O_NONBLOCK);
    fcntl(m_master, F_SETFD, FD_CLOEXEC);
    {
        std::lock_guard<std::mutex> lock(m_pathMutex);
        m_slavePath = name;
    }

    // Raw from the start: in the default cooked mode ETX would be taken as
    // the interrupt character and vanish before the tool sets its own mode.
    m_slaveKeep = ::open(name, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    termios tio{};
    if (m_slaveKeep < 0 || tcgetattr(m_slaveKeep, &tio) != 0) {
        const bool r = fail(error, std::string("opening ") + name);
        closeLine();
        return r;
    }
    cfmakeraw(&tio);
    cfsetispeed(&tio, B9600);
    cfsetospeed(&tio, B9600);
    tio.c_cflag |= CLOCAL | CREAD;
    if (tcsetattr(m_slaveKeep, TCSANOW, &tio) != 0) {
        const bool r = fail(error, std::string("raw mode on ") + name);
        closeLine();
        return r;
    }

    if (!m_linkPath.empty()) {
        const std::string tmp = m_linkPath + ".tmp" + std::to_string(getpid());
        ::unlink(tmp.c_str());
        if (::symlink(name, tmp.c_str()) != 0 || ::rename(tmp.c_str(), m_linkPath.c_str()) != 0) {
            const bool r = fail(error, "link " + m_linkPath);
            ::unlink(tmp.c_str());
            closeLine();
            return r;
        }
    }
    return true;
}

void SimPtyHost::removeOwnLink() {
    if (m_linkPath.empty()) return;
    // Only our own link: another simulator may have taken the path over.
    char target[256] = {};
    const ssize_t n = ::readlink(m_linkPath.c_str(), target, sizeof target - 1);
    if (n > 0 && slavePath() == std::string(target, static_cast<size_t>(n))) ::unlink(m_linkPath.c_str());
}

std::string SimPtyHost::slavePath() const {
    std::lock_guard<std::mutex> lock(m_pathMutex);
    return m_slavePath;
}

void SimPtyHost::replug(int afterMs) {
    m_replugAfterMs.store(std::max(afterMs, 0), std::memory_order_release);
    hangup();
}

void SimPtyHost::stop() {
    m_stop.store(true, std::memory_order_release);
    if (m_thread.joinable()) m_thread.join();
    closeLine();
    removeOwnLink();
    m_linkPath.clear();
    m_running.store(false, std::memory_order_release);
}

void SimPtyHost::closeLine() {
    if (m_master >= 0) ::close(m_master);
    if (m_slaveKeep >= 0) ::close(m_slaveKeep);
    m_master = -1;
    m_slaveKeep = -1;
}

void SimPtyHost::hangup() {
    if (!running()) {
        closeLine();
        m_hungUp.store(true, std::memory_order_release);
        return;
    }
    m_hangupRequest.store(true, std::memory_order_release);
    // The board thread owns the descriptors; wait (bounded) until it let go.
    const int64_t deadline = nowUs() + kHangupWaitMs * 1000;
    while (!m_hungUp.load(std::memory_order_acquire) && nowUs() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
}

struct SimPtyHost::Wire {
    struct Timed {
        uint8_t byte;
        int64_t dueUs;
    };
    std::deque<Timed> in;   // paced request bytes still on the wire
    std::deque<Timed> out;  // reply and event bytes not yet written
    int64_t lastInUs = 0;
    int64_t lastOutUs = 0;
    bool outStalled = false;
    uint8_t buf[512];
    int64_t replugDueUs = -1;  // when a replugged board comes back; -1: not pending
};

void SimPtyHost::run() {
    Wire w;
    while (!m_stop.load(std::memory_order_acquire)) {
        serviceLine(w);
        const bool pacing = m_pacing.load(std::memory_order_acquire);
        const std::string received = receive(w, pacing);
        const int64_t now = nowUs();
        runBoard(w, received, now, pacing);
        if (m_master < 0) {
            w.out.clear();
            continue;
        }
        transmit(w, now);
    }
    closeLine();
}

void SimPtyHost::serviceLine(Wire& w) {
    if (m_hangupRequest.exchange(false, std::memory_order_acq_rel)) {
        const int replugMs = m_replugAfterMs.exchange(-1, std::memory_order_acq_rel);
        closeLine();
        w.in.clear();
        w.out.clear();
        if (replugMs >= 0) {
            // Unplugged: the path goes away with the device, as /dev/ttyUSB0 does.
            removeOwnLink();
            w.replugDueUs = nowUs() + int64_t(replugMs) * 1000;
        }
        m_hungUp.store(true, std::memory_order_release);
    }
    if (w.replugDueUs >= 0 && nowUs() >= w.replugDueUs && m_master < 0) {
        w.replugDueUs = -1;
        // A new pseudo-terminal under the same link, as a board plugged in again.
        if (openLine(nullptr)) m_hungUp.store(false, std::memory_order_release);
    }
}

// The bytes the tool sent that have arrived by now.
std::string SimPtyHost::receive(Wire& w, bool pacing) {
    // A real board acts when a byte is due, not on a loop of its own: wait
    // for the tool's bytes, at most until the next paced byte falls due,
    // and never longer than the 1 ms tick the board's clock needs.
    int64_t waitUs = kTickUs;
    {
        const int64_t now = nowUs();
        if (!w.in.empty()) waitUs = std::min(waitUs, w.in.front().dueUs - now);
        // Output the line would not take is retried on the tick, not in a spin.
        if (!w.out.empty() && !w.outStalled) waitUs = std::min(waitUs, w.out.front().dueUs - now);
        waitUs = std::max<int64_t>(waitUs, 0);
    }
    std::string received;
    if (m_master >= 0) {
        pollfd p{m_master, POLLIN, 0};
        const timespec timeout{0, static_cast<long>(waitUs * 1000)};
        const int ready = ::ppoll(&p, 1, &timeout, nullptr);
        if (ready > 0 && (p.revents & POLLIN) != 0) {
            const ssize_t n = ::read(m_master, w.buf, sizeof w.buf);
            for (ssize_t i = 0; i < n; ++i) {
                if (pacing) {
                    w.lastInUs = std::max(nowUs(), w.lastInUs) + kByteUs;
                    w.in.push_back({w.buf[i], w.lastInUs});
                } else {
                    received += static_cast<char>(w.buf[i]);
                }
            }
        } else if (ready > 0) {
            std::this_thread::sleep_for(std::chrono::milliseconds(1));  // no reader: HUP until one opens
        }
    } else {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }

    const int64_t now = nowUs();
    while (!w.in.empty() && w.in.front().dueUs <= now) {
        received += static_cast<char>(w.in.front().byte);
        w.in.pop_front();
    }
    return received;
}

// The board's turn: what it received, its clock, and what it answers, queued
// for the line (paced or at once).
void SimPtyHost::runBoard(Wire& w, const std::string& received, int64_t now, bool pacing) {
    std::string produced;
    {
        std::lock_guard<std::mutex> lock(m_boardMutex);
        const uint32_t ms = static_cast<uint32_t>(now / 1000);
        if (!received.empty()) m_board.receive(received, ms);
        m_board.tick(ms);
        produced = m_board.takeOutput();
        produced += m_injected;
        m_injected.clear();
    }
    for (char c : produced) {
        if (pacing) w.lastOutUs = std::max(now, w.lastOutUs) + kByteUs;
        w.out.push_back({static_cast<uint8_t>(c), pacing ? w.lastOutUs : now});
    }
    if (w.out.size() > kMaxBacklog) {
        // Lose whole frames, oldest first, so that a late reader never
        // gets the tail of one.
        size_t cut = w.out.size() - kMaxBacklog;
        while (cut < w.out.size() && w.out[cut - 1].byte != 0x03) ++cut;
        w.out.erase(w.out.begin(), w.out.begin() + static_cast<std::ptrdiff_t>(cut));
    }
}

// Writes what is due, as much as the line takes.
void SimPtyHost::transmit(Wire& w, int64_t now) {
    size_t due = 0;
    while (due < w.out.size() && due < sizeof w.buf && w.out[due].dueUs <= now) {
        w.buf[due] = w.out[due].byte;
        ++due;
    }
    w.outStalled = false;
    if (due > 0) {
        const ssize_t n = ::write(m_master, w.buf, due);
        if (n > 0) w.out.erase(w.out.begin(), w.out.begin() + n);
        w.outStalled = n < static_cast<ssize_t>(due);
    }
}

bool SimPtyHost::touch(int ch) {
    std::lock_guard<std::mutex> lock(m_boardMutex);
    return m_board.touch(ch);
}

bool SimPtyHost::release(int ch) {
    std::lock_guard<std::mutex> lock(m_boardMutex);
    return m_board.release(ch);
}

void SimPtyHost::setLevel(int ch, int level) {
    std::lock_guard<std::mutex> lock(m_boardMutex);
    m_board.chip().setLevel(ch, level);
}

bool SimPtyHost::setStatus(const std::string& digits) {
    std::lock_guard<std::mutex> lock(m_boardMutex);
    return m_board.setStatus(digits);
}

void SimPtyHost::injectRaw(const std::string& bytes) {
    std::lock_guard<std::mutex> lock(m_boardMutex);
    m_injected += bytes;
}

void SimPtyHost::setSilent(bool silent) {
    std::lock_guard<std::mutex> lock(m_boardMutex);
    m_board.setSilent(silent);
}

void SimPtyHost::setVersion(int version) {
    std::lock_guard<std::mutex> lock(m_boardMutex);
    m_board.setVersion(static_cast<uint8_t>(version));
}

void SimPtyHost::setAddr(int addr) {
    std::lock_guard<std::mutex> lock(m_boardMutex);
    m_board.setChipAddr(static_cast<uint8_t>(addr));
}

void SimPtyHost::setAutoplay(bool on) {
    std::lock_guard<std::mutex> lock(m_boardMutex);
    m_board.setAutoplay(on, nowMs());
}

void SimPtyHost::setNoise(int amplitude, uint32_t seed) {
    std::lock_guard<std::mutex> lock(m_boardMutex);
    m_board.chip().setNoise(amplitude, seed);
}

void SimPtyHost::setSelectDelay(uint32_t ms) {
    std::lock_guard<std::mutex> lock(m_boardMutex);
    m_board.chip().setSelectDelay(ms);
}

void SimPtyHost::withBoard(const std::function<void(SimBoard&, uint32_t)>& f) {
    std::lock_guard<std::mutex> lock(m_boardMutex);
    f(m_board, nowMs());
}

bool SimPtyHost::selectionEverWritten(int ch) const {
    std::lock_guard<std::mutex> lock(m_boardMutex);
    return m_board.selectionEverWritten(ch);
}
