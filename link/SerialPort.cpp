#include "link/SerialPort.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <thread>

namespace {

// How long a write may wait for room in the driver's queue before it gives
// up. Command frames are tiny, so a full queue means the device is stuck.
constexpr int kWriteRetryLimitMs = 250;

bool isDeviceGone(int err) { return err == EIO || err == ENXIO || err == ENODEV || err == EBADF; }

}  // namespace

SerialPort::SerialPort() : m_WakeFd(::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC)) {}

SerialPort::~SerialPort() {
    {
        std::unique_lock<std::mutex> lock(m_Mutex);
        closeLocked(lock);
    }
    if (m_WakeFd >= 0) ::close(m_WakeFd);
}

int SerialPort::open(const QString& path) {
    std::lock_guard<std::mutex> lock(m_Mutex);
    if (m_Fd >= 0 || path.isEmpty()) return -1;
    const QByteArray native = path.toLocal8Bit();
    int fd = ::open(native.constData(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return errno != 0 ? errno : -1;
    // Exclusive use: TIOCEXCL refuses later opens by other programs (root
    // excepted); the lock refuses a second holder that honours it, root too.
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        const int err = errno == EWOULDBLOCK ? EBUSY : errno;
        ::close(fd);
        return err != 0 ? err : -1;
    }
    ::ioctl(fd, TIOCEXCL);  // fails harmlessly on what is not a tty; setLine refuses those
    if (fd == 0) {
        // Descriptor 0 would read as "no port" in the handle; move it up.
        const int moved = ::fcntl(fd, F_DUPFD_CLOEXEC, 1);
        ::close(fd);
        if (moved < 0) return -1;
        fd = moved;
    }
    m_Fd = fd;
    m_Failed = false;
    m_Handle.store(fd, std::memory_order_release);
    m_Open.store(true, std::memory_order_release);
    return 0;
}

int SerialPort::setLine() {
    std::lock_guard<std::mutex> lock(m_Mutex);
    if (m_Fd < 0) return -1;
    termios tio{};
    if (::tcgetattr(m_Fd, &tio) != 0) return errno != 0 ? errno : -1;
    ::cfmakeraw(&tio);
    tio.c_cflag &= ~(CSIZE | PARENB | CSTOPB | CRTSCTS);
    tio.c_cflag |= CS8 | CREAD | CLOCAL;
    tio.c_iflag &= ~(IXON | IXOFF | IXANY);
    tio.c_cc[VMIN] = 0;
    tio.c_cc[VTIME] = 0;
    if (::cfsetispeed(&tio, B9600) != 0 || ::cfsetospeed(&tio, B9600) != 0) return -1;
    if (::tcsetattr(m_Fd, TCSANOW, &tio) != 0) return errno != 0 ? errno : -1;
    return 0;
}

void SerialPort::flush() {
    std::lock_guard<std::mutex> lock(m_Mutex);
    if (m_Fd >= 0) ::tcflush(m_Fd, TCIOFLUSH);
}

int SerialPort::close() {
    std::unique_lock<std::mutex> lock(m_Mutex);
    return closeLocked(lock);
}

int SerialPort::closeLocked(std::unique_lock<std::mutex>& lock) {
    if (m_Fd < 0) return -1;
    // No new wait may begin while this one drains, or a busy waiter could
    // hold the close off indefinitely.
    m_Closing = true;
    if (m_Waiters > 0) wake();
    m_WaitersDone.wait(lock, [this] { return m_Waiters == 0; });
    m_Closing = false;
    if (m_Fd < 0) return -1;  // another close finished while this one waited
    // Linux releases the descriptor even when close() reports an error, so the
    // port counts as closed either way; keeping the number would risk closing
    // an unrelated file that reused it.
    ::ioctl(m_Fd, TIOCNXCL);
    ::close(m_Fd);
    m_Fd = -1;
    m_Failed = false;
    m_Open.store(false, std::memory_order_release);
    m_Handle.store(0, std::memory_order_release);
    return 0;
}

int SerialPort::write(const uint8_t* data, int n) {
    if (n <= 0) return 0;
    if (data == nullptr) return -1;
    int done = 0;
    int waitedMs = 0;
    while (done < n) {
        {
            std::lock_guard<std::mutex> lock(m_Mutex);
            if (m_Fd < 0 || m_Failed) return -1;
            const ssize_t w = ::write(m_Fd, data + done, static_cast<size_t>(n - done));
            if (w > 0) {
                done += static_cast<int>(w);
                continue;
            }
            if (w < 0 && errno == EINTR) continue;
            if (w < 0 && errno != EAGAIN && errno != EWOULDBLOCK) {
                if (isDeviceGone(errno)) m_Failed = true;
                return -1;
            }
        }
        // The queue is full: wait outside the lock so the receive thread keeps
        // its rhythm and a close is not held up.
        if (waitedMs >= kWriteRetryLimitMs) return done;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
        ++waitedMs;
    }
    return done;
}

int SerialPort::read(uint8_t* buf, int max) {
    if (buf == nullptr || max <= 0) return 0;
    std::lock_guard<std::mutex> lock(m_Mutex);
    if (m_Fd < 0 || m_Failed) return -1;
    for (;;) {
        const ssize_t r = ::read(m_Fd, buf, static_cast<size_t>(max));
        if (r >= 0) return static_cast<int>(r);
        if (errno == EINTR) continue;
        if (errno == EAGAIN || errno == EWOULDBLOCK) return 0;
        if (isDeviceGone(errno)) m_Failed = true;
        return -1;
    }
}

int SerialPort::waitReadable(int timeoutMs) {
    int fd = -1;
    {
        std::lock_guard<std::mutex> lock(m_Mutex);
        if (m_Fd < 0 || m_Failed || m_Closing) return -1;
        fd = m_Fd;
        ++m_Waiters;
    }
    pollfd p[2] = {};
    p[0].fd = fd;
    p[0].events = POLLIN;
    p[1].fd = m_WakeFd;
    p[1].events = POLLIN;
    const int r = ::poll(p, m_WakeFd >= 0 ? 2 : 1, timeoutMs < 0 ? -1 : timeoutMs);
    const int err = errno;
    if (r > 0 && (p[1].revents & POLLIN)) {
        uint64_t count = 0;
        [[maybe_unused]] const ssize_t drained = ::read(m_WakeFd, &count, sizeof count);
    }
    {
        std::lock_guard<std::mutex> lock(m_Mutex);
        if (--m_Waiters == 0) m_WaitersDone.notify_all();
    }
    if (r > 0 && p[0].revents != 0) return 1;
    return r >= 0 || err == EINTR ? 0 : -1;
}

int SerialPort::waitWake(int timeoutMs) {
    if (m_WakeFd < 0) {
        std::this_thread::sleep_for(std::chrono::milliseconds(timeoutMs < 0 ? 1 : timeoutMs));
        return 0;
    }
    pollfd p{};
    p.fd = m_WakeFd;
    p.events = POLLIN;
    if (::poll(&p, 1, timeoutMs < 0 ? -1 : timeoutMs) <= 0) return 0;
    uint64_t count = 0;
    [[maybe_unused]] const ssize_t drained = ::read(m_WakeFd, &count, sizeof count);
    return 1;
}

void SerialPort::wake() {
    if (m_WakeFd < 0) return;
    const uint64_t one = 1;
    [[maybe_unused]] const ssize_t n = ::write(m_WakeFd, &one, sizeof one);
}

int SerialPort::checkLine() {
    std::lock_guard<std::mutex> lock(m_Mutex);
    if (m_Fd < 0) return 0;
    if (m_Failed) return 1;
    pollfd p{};
    p.fd = m_Fd;
    p.events = POLLIN;
    if (::poll(&p, 1, 0) < 0) return 0;  // EINTR and friends say nothing about the line
    if (p.revents & (POLLHUP | POLLERR | POLLNVAL)) {
        m_Failed = true;
        return 1;
    }
    return 0;
}
