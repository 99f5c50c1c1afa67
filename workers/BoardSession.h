// One evaluation board as the tool serves it: its link, the register image of
// its chip, and what the tool knows and wants of it now (whether the chip
// answers, whether sensing is on, which channels are monitored). The window
// and each tkeval-cli run own one; nothing of it is process-wide, so one
// process can serve several boards. Widget-free.
//
// The worker threads read the flags on every pass, so they are atomics; a
// change is announced on the thread that made it (queued to receivers on
// other threads), and only when the value really changed.
#pragma once

#include <QObject>
#include <atomic>
#include <cstdint>
#include <memory>

class BoardLink;
class RegisterImage;

class BoardSession : public QObject {
    Q_OBJECT
    Q_PROPERTY(bool chipPresent READ chipPresent WRITE setChipPresent NOTIFY chipPresentChanged)
    Q_PROPERTY(bool sensing READ sensing WRITE setSensing NOTIFY sensingChanged)
    Q_PROPERTY(
        quint16 monitoredChannels READ monitoredChannels WRITE setMonitoredChannels NOTIFY monitoredChannelsChanged)

public:
    explicit BoardSession(QObject* parent = nullptr);
    // The owner stops the worker threads that use the link and the image
    // first.
    ~BoardSession() override;

    BoardLink& link() const { return *m_Link; }
    RegisterImage& image() const { return *m_Image; }

    // The chip answers at the configured address: the owner's verdict on
    // the chip-poll thread's probes (or its own probe).
    bool chipPresent() const { return m_ChipPresent.load(std::memory_order_acquire); }
    void setChipPresent(bool present);
    // Monitoring is switched on (the window's Sense button).
    bool sensing() const { return m_Sensing.load(std::memory_order_acquire); }
    void setSensing(bool on);
    // The channels the monitor thread visits; bit i is channel i.
    quint16 monitoredChannels() const { return m_Monitored.load(std::memory_order_acquire); }
    void setMonitoredChannels(quint16 mask);
    // One channel in or out in a single atomic step, so that the monitor
    // thread never sees another channel's bit flicker.
    void setChannelMonitored(int channel, bool monitored);

    // Samples can come: the link is live, the chip answers and sensing is on
    // (whether any channel is chosen is the caller's question).
    bool monitoringWanted() const;

signals:
    void chipPresentChanged(bool present);
    void sensingChanged(bool on);
    void monitoredChannelsChanged(quint16 mask);

private:
    std::unique_ptr<BoardLink> m_Link;
    RegisterImage* m_Image;  // a child
    std::atomic<bool> m_ChipPresent{false};
    std::atomic<bool> m_Sensing{false};
    std::atomic<quint16> m_Monitored{0};
};
