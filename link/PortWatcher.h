// Tells when serial devices come and go while the tool runs, so the port list
// can follow boards being plugged in and out. Which ports belong to the board
// is still decided by discovery (sysfs); this only says "look again".
#pragma once

#include <QObject>
#include <QTimer>
#include <functional>

class QSocketNotifier;
struct udev;
struct udev_monitor;

class PortWatcher : public QObject {
    Q_OBJECT
public:
    // Watches the system's tty devices through udev's monitor. Without udev
    // (a container, no udev daemon) it stays inactive and never signals.
    explicit PortWatcher(QObject* parent = nullptr);
    // Watches any descriptor that turns readable for each change; drain takes
    // one change off it (tests use a pipe). The descriptor stays the caller's.
    PortWatcher(int fd, std::function<void()> drain, QObject* parent = nullptr);
    ~PortWatcher() override;

    bool active() const { return m_Notifier != nullptr; }

signals:
    // Once per burst of changes (one plug-in brings several events), after
    // the burst has settled.
    void portsChanged();

private:
    void watch(int fd);
    void onReadable();

    udev* m_Udev = nullptr;
    udev_monitor* m_Monitor = nullptr;
    std::function<void()> m_Drain;
    QSocketNotifier* m_Notifier = nullptr;
    QTimer m_Settle;
};
