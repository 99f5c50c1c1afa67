// The workers against the simulated board: a pseudo-terminal board, the real
// receive thread on its slave side, and the process state the main window
// would have set. Every test builds its own rig; the destructor stops every
// thread, closes the port and puts the globals back.
#pragma once

#include <QMutex>
#include <QMutexLocker>
#include <QtTest>
#include <functional>
#include <memory>
#include <vector>

#include "app/limits.h"
#include "data/RegisterImage.h"
#include "link/ReceiveThread.h"
#include "link/commands.h"
#include "sim/SimPtyHost.h"
#include "workers/BoardSession.h"
#include "workers/ChipPollThread.h"
#include "workers/MonitorThread.h"

class WorkerRig {
public:
    WorkerRig(const std::string& model, int channels, int sbf)
        : host(model, channels, sbf), m_family(SimChip::familyForModel(model)), m_channels(channels), m_sbf(sbf) {}
    ~WorkerRig() { shutdown(); }
    WorkerRig(const WorkerRig&) = delete;
    WorkerRig& operator=(const WorkerRig&) = delete;

    // Board up, receive thread running; with openPort the port is open and the
    // state is "port open" as after the connect procedure.
    bool start(bool openPort = true) {
        std::string error;
        if (!host.start(std::string(), &error)) {
            qWarning("simulated board: %s", error.c_str());
            return false;
        }
        uart = session->link().receiver();
        if (openPort) {
            if (uart->Open_Port(QString::fromStdString(host.slavePath())) != 1) return false;
            session->link().resetRings();
            session->link().setLive(true);
        }
        BoardConfig config;
        config.family = m_family;
        config.channels = m_channels;
        config.sbfs = m_sbf;
        session->setConfig(config);
        uart->start();
        return true;
    }

    // State "chip answering, monitoring on" with the given channels selected.
    void monitor(uint16_t mask) {
        session->setChipPresent(true);
        session->setMonitoredChannels(mask);
        session->setSensing(true);
    }

    // Starts the processing thread and records, on that thread, every channel
    // it publishes.
    MonitorThread* startProc() {
        proc = new MonitorThread(*session);
        QObject::connect(
            proc, &MonitorThread::sampleReady, proc,
            [this](const MonitorSample& s) {
                QMutexLocker lock(&m_pubMutex);
                m_published.push_back(s.channel);
                if (onPublish) onPublish(s.channel);
            },
            Qt::DirectConnection);
        proc->start();
        return proc;
    }

    ChipPollThread* startCmd() {
        cmd = new ChipPollThread(*session);
        cmd->start();
        return cmd;
    }

    std::vector<int> published() const {
        QMutexLocker lock(&m_pubMutex);
        return m_published;
    }

    // Stops the workers in the main window's order; safe to call twice.
    void stopWorkers() {
        if (proc != nullptr) {
            proc->Stop();
            proc->wait();
        }
        if (cmd != nullptr) {
            cmd->Stop();
            cmd->wait();
        }
    }

    void shutdown() {
        stopWorkers();
        delete proc;
        proc = nullptr;
        delete cmd;
        cmd = nullptr;
        if (uart != nullptr) {
            session->link().setLive(false);
            uart->Stop();
            uart->wait();
            uart->Close_Port();
            uart = nullptr;
        }
        host.stop();
    }

    SimChip chipCopy() {
        SimChip copy(0, 0, 0);
        host.withBoard([&](SimBoard& b, uint32_t) { copy = b.chip(); });
        return copy;
    }

    std::vector<SimFrame> frames() const { return host.log()->frames(); }

    SimPtyHost host;
    // The workers' register image; declared before them, so it outlives them.
    // The board the workers serve; on the heap, like every started thread
    // object (see link_fixture.h), and declared before them, so it outlives
    // them.
    std::unique_ptr<BoardSession> session = std::make_unique<BoardSession>();
    RegisterImage& image = session->image();
    ReceiveThread* uart = nullptr;  // the session link's, once started
    MonitorThread* proc = nullptr;
    ChipPollThread* cmd = nullptr;
    // Called on the processing thread with each published channel.
    std::function<void(int)> onPublish;

private:
    int m_family;
    int m_channels;
    int m_sbf;
    mutable QMutex m_pubMutex;
    std::vector<int> m_published;
};
