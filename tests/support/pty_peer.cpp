#include "pty_peer.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <QElapsedTimer>
#include <cerrno>
#include <cstdlib>

namespace {
constexpr char kEtx = 0x03;
constexpr int kQuietMs = 30;  // "nothing more is coming" for open-ended reads
}  // namespace

PtyPeer::PtyPeer() {
    const int fd = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) return;
    if (::grantpt(fd) != 0 || ::unlockpt(fd) != 0) {
        ::close(fd);
        return;
    }
    char name[256];
    if (::ptsname_r(fd, name, sizeof name) != 0) {
        ::close(fd);
        return;
    }
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK);
    m_Master = fd;
    m_SlavePath = QString::fromLocal8Bit(name);
}

PtyPeer::~PtyPeer() {
    stopResponder();
    closeMaster();
}

QByteArray PtyPeer::read(int timeoutMs, int want) {
    QByteArray out;
    if (m_Master < 0) return out;
    QElapsedTimer timer;
    timer.start();
    qint64 lastByteAt = 0;
    while (timer.elapsed() < timeoutMs) {
        if (want >= 0 && out.size() >= want) break;
        if (want < 0 && !out.isEmpty() && timer.elapsed() - lastByteAt >= kQuietMs) break;
        pollfd p{m_Master, POLLIN, 0};
        if (::poll(&p, 1, 5) <= 0) continue;
        if (!(p.revents & POLLIN)) {
            ::usleep(1000);  // hung up with no slave open: do not spin
            continue;
        }
        char buf[512];
        const ssize_t n =
            ::read(m_Master, buf, want >= 0 ? std::min<qsizetype>(sizeof buf, want - out.size()) : sizeof buf);
        if (n > 0) {
            out.append(buf, static_cast<int>(n));
            lastByteAt = timer.elapsed();
        }
    }
    return out;
}

bool PtyPeer::write(const QByteArray& bytes) {
    qsizetype done = 0;
    QElapsedTimer timer;
    timer.start();
    while (m_Master >= 0 && done < bytes.size() && timer.elapsed() < 2000) {
        const ssize_t n = ::write(m_Master, bytes.constData() + done, static_cast<size_t>(bytes.size() - done));
        if (n > 0) {
            done += n;
        } else if (n < 0 && errno != EAGAIN && errno != EINTR) {
            return false;
        } else {
            pollfd p{m_Master, POLLOUT, 0};
            ::poll(&p, 1, 5);
        }
    }
    return done == bytes.size();
}

int PtyPeer::pendingOnSlave() const {
    if (m_SlavePath.isEmpty()) return -1;
    const int fd = ::open(m_SlavePath.toLocal8Bit().constData(), O_RDONLY | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return -1;
    int n = -1;
    if (::ioctl(fd, FIONREAD, &n) != 0) n = -1;
    ::close(fd);
    return n;
}

bool PtyPeer::waitForSlaveClosed(int timeoutMs) {
    QElapsedTimer timer;
    timer.start();
    while (m_Master >= 0 && timer.elapsed() < timeoutMs) {
        pollfd p{m_Master, POLLIN, 0};
        if (::poll(&p, 1, 5) > 0 && (p.revents & POLLHUP)) return true;
    }
    return false;
}

void PtyPeer::closeMaster() {
    if (m_Master >= 0) {
        ::close(m_Master);
        m_Master = -1;
    }
}

void PtyPeer::startResponder(Responder responder) {
    stopResponder();
    m_Responder = std::move(responder);
    m_Run.store(true);
    m_Thread = std::thread([this] { respondLoop(); });
}

void PtyPeer::stopResponder() {
    m_Run.store(false);
    if (m_Thread.joinable()) m_Thread.join();
}

QList<QByteArray> PtyPeer::frames() const {
    std::lock_guard<std::mutex> lock(m_FramesMutex);
    return m_Frames;
}

void PtyPeer::respondLoop() {
    QByteArray pending;
    while (m_Run.load()) {
        pending.append(read(5, 1));
        const qsizetype end = pending.indexOf(kEtx);
        if (end < 0) continue;
        const QByteArray frame = pending.left(end + 1);
        pending.remove(0, end + 1);
        {
            std::lock_guard<std::mutex> lock(m_FramesMutex);
            m_Frames.append(frame);
        }
        const QByteArray answer = m_Responder ? m_Responder(frame) : QByteArray();
        if (!answer.isEmpty()) write(answer);
    }
}
