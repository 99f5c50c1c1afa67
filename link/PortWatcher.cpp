#include "link/PortWatcher.h"

#include <libudev.h>

#include <QSocketNotifier>

namespace {

// A plug-in brings its USB device, interface and tty events within a few
// milliseconds, and the tty's sysfs entries must be in place before
// discovery reads them.
constexpr int kSettleMs = 150;

}  // namespace

PortWatcher::PortWatcher(QObject* parent) : QObject(parent) {
    m_Udev = udev_new();
    if (m_Udev != nullptr) m_Monitor = udev_monitor_new_from_netlink(m_Udev, "udev");
    if (m_Monitor != nullptr && udev_monitor_filter_add_match_subsystem_devtype(m_Monitor, "tty", nullptr) == 0 &&
        udev_monitor_enable_receiving(m_Monitor) == 0) {
        m_Drain = [this] {
            if (udev_device* dev = udev_monitor_receive_device(m_Monitor)) udev_device_unref(dev);
        };
        watch(udev_monitor_get_fd(m_Monitor));
    }
}

PortWatcher::PortWatcher(int fd, std::function<void()> drain, QObject* parent)
    : QObject(parent), m_Drain(std::move(drain)) {
    watch(fd);
}

PortWatcher::~PortWatcher() {
    delete m_Notifier;
    if (m_Monitor != nullptr) udev_monitor_unref(m_Monitor);
    if (m_Udev != nullptr) udev_unref(m_Udev);
}

void PortWatcher::watch(int fd) {
    m_Settle.setSingleShot(true);
    m_Settle.setInterval(kSettleMs);
    connect(&m_Settle, &QTimer::timeout, this, &PortWatcher::portsChanged);
    if (fd < 0) return;
    m_Notifier = new QSocketNotifier(fd, QSocketNotifier::Read);
    connect(m_Notifier, &QSocketNotifier::activated, this, &PortWatcher::onReadable);
}

void PortWatcher::onReadable() {
    if (m_Drain) m_Drain();
    m_Settle.start();
}
