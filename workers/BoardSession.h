// One evaluation board as the tool serves it: its link, the register image of
// its chip, its configuration (working directory, family, channel and SBF
// counts, chip address, margin, register file), what the tool knows and
// wants of it now (whether the port is open, the firmware, whether the chip
// answers, whether sensing is on, which channels are monitored), and its live
// side: the receive, chip-poll and monitor threads, the event frames taken
// from the received bytes and the sample stream they all feed. The window
// and each tkeval-cli run own one; nothing of it is process-wide, so one
// process can serve several boards. Widget-free.
//
// The worker threads read the flags and the numbers of the configuration on
// every pass, so they are atomics; the texts of the configuration belong to
// the owner's thread. A
// change is announced on the thread that made it (queued to receivers on
// other threads), and only when the value really changed.
#pragma once

#include <QObject>
#include <QString>
#include <atomic>
#include <cstdint>
#include <memory>

#include "app/config.h"
#include "data/MonitorSample.h"
#include "link/event_frames.h"

class BoardLink;
class ChipPollThread;
class ExchangeQueue;
class MonitorThread;
class RegisterImage;
class SampleStream;
struct LogHeader;

class BoardSession : public QObject {
    Q_OBJECT
    Q_PROPERTY(bool chipPresent READ chipPresent WRITE setChipPresent NOTIFY chipPresentChanged)
    Q_PROPERTY(bool sensing READ sensing WRITE setSensing NOTIFY sensingChanged)
    Q_PROPERTY(
        quint16 monitoredChannels READ monitoredChannels WRITE setMonitoredChannels NOTIFY monitoredChannelsChanged)
    Q_PROPERTY(int i2cAddress READ i2cAddress WRITE setI2cAddress NOTIFY i2cAddressChanged)
    Q_PROPERTY(bool portOpen READ portOpen NOTIFY portOpenChanged)
    Q_PROPERTY(int firmware READ firmware WRITE setFirmware NOTIFY firmwareChanged)

public:
    explicit BoardSession(QObject* parent = nullptr);
    // Stops the worker threads first (stopWorkers).
    ~BoardSession() override;

    BoardLink& link() const { return *m_Link; }
    RegisterImage& image() const { return *m_Image; }
    // The owner's exchanges with the board, run off the owner's thread; the
    // worker threads make theirs themselves.
    ExchangeQueue& exchanges() const { return *m_Exchanges; }

    // The configuration in use; counts are clamped to what the arrays hold.
    // Set before the worker threads start (the address may change later).
    void setConfig(const BoardConfig& config);
    BoardConfig config() const;
    QString workDir() const { return m_WorkDir; }
    QString device() const { return m_Device; }
    // A file of the working directory (config.ini, hint.txt, Log.txt...).
    QString workFile(const char* name) const;
    int family() const { return m_Family.load(std::memory_order_acquire); }
    int channelCount() const { return m_Channels.load(std::memory_order_acquire); }
    int sbfCount() const { return m_Sbfs.load(std::memory_order_acquire); }
    float margin() const { return m_Margin.load(std::memory_order_acquire); }
    // Where the register-file dialogs start: the file last saved or loaded.
    QString registerFile() const { return m_RegisterFile; }
    void setRegisterFile(const QString& path) { m_RegisterFile = path; }
    // The 8-bit chip address as configured, and its low byte, as it goes out
    // on the wire.
    int i2cAddress() const { return m_I2cAddress.load(std::memory_order_acquire); }
    void setI2cAddress(int address);
    uint8_t chipAddress() const { return static_cast<uint8_t>(i2cAddress() & 0xFF); }
    // A log's header for this board, started now: the port and the
    // firmware text are the caller's, empty while no port is open.
    LogHeader logHeader(const QString& port, const QString& firmware) const;

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

    // The port: portOpened() once the receive thread has it open (the rings
    // start empty, the stream starts a new origin, the link goes live);
    // closePort() takes the link down first, so that the receive thread
    // starts no further read, then closes the port. The chip and the
    // firmware are unknown while no port is open.
    void portOpened();
    void closePort();
    bool portOpen() const { return m_PortOpen; }
    // The firmware version the board reported on connecting; 0 while unknown.
    int firmware() const { return m_Firmware; }
    void setFirmware(int version);
    // The firmware as the engineer reads it ("V3.2"), empty unless the port
    // is open and the version is one this tool supports.
    QString firmwareText() const;

    // The live side. startReceiver() starts the receive thread;
    // startWorkers() that and the chip-poll and monitor threads, once in a
    // session's life (a second call does nothing). stopWorkers() stops the
    // chip-poll and monitor threads and waits for them, shutDown() the
    // receive thread too (the destructor's last word). An owner that will
    // not wait for exchanges under way ends them first (the link's abort).
    void startReceiver();
    void startWorkers();
    void stopWorkers();
    void shutDown();
    // The samples and touch events of this board (and of a replay its owner
    // plays); a child.
    SampleStream* stream() const { return m_Stream; }
    ChipPollThread* chipPollThread() const { return m_ChipPoll.get(); }
    MonitorThread* monitorThread() const { return m_Monitor.get(); }
    // Takes what the receive thread has stored in the traffic ring since the
    // last call: trafficReceived() carries the bytes, and each whole event
    // frame among them is told (touchMaskReceived, sbfStatusReceived; a
    // touch goes to the stream too). Runs on arrival and before each sample
    // is published; an owner that fills the ring itself calls it.
    void takeReceivedBytes();

signals:
    void chipPresentChanged(bool present);
    void sensingChanged(bool on);
    void monitoredChannelsChanged(quint16 mask);
    void i2cAddressChanged(int address);
    void portOpenChanged(bool open);
    void firmwareChanged(int version);
    // The chip-poll thread's verdicts, on this object's thread; chipPresent
    // has been set already (a chip found while no port is live is ignored).
    void chipFound();
    void chipLost();
    // The receive thread found the port failed (the board pulled).
    void lineFailed(int port);
    // Bytes of the line as they came, replies and event frames mixed.
    void trafficReceived(const QByteArray& bytes);
    void touchMaskReceived(quint16 mask);
    // A status frame: one value (bit k = SBF k) per channel it carried.
    void sbfStatusReceived(const QByteArray& status);

private:
    void publishSample(const MonitorSample& sample);

    std::unique_ptr<BoardLink> m_Link;
    std::unique_ptr<ExchangeQueue> m_Exchanges;  // goes before the link
    RegisterImage* m_Image;                      // a child
    SampleStream* m_Stream;                      // a child
    std::unique_ptr<ChipPollThread> m_ChipPoll;  // stopped before the link goes
    std::unique_ptr<MonitorThread> m_Monitor;
    EventFrameAssembler m_Frames;
    bool m_PortOpen = false;
    int m_Firmware = 0;
    std::atomic<bool> m_ChipPresent{false};
    std::atomic<bool> m_Sensing{false};
    std::atomic<quint16> m_Monitored{0};
    std::atomic<int> m_Family{0};
    std::atomic<int> m_Channels{0};
    std::atomic<int> m_Sbfs{0};
    std::atomic<int> m_I2cAddress{0xB0};
    std::atomic<float> m_Margin{0.0f};
    QString m_WorkDir;
    QString m_Device;
    QString m_RegisterFile;
};
