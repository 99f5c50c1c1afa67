#include "workers/ChipPollThread.h"

#include <QMutexLocker>

#include "app/globals.h"
#include "data/RegisterImage.h"
#include "link/BoardLink.h"
#include "link/commands.h"
#include "workers/BoardOps.h"

ChipPollThread::ChipPollThread(BoardLink& link, RegisterImage& image, QObject* parent)
    : QThread(parent), m_Link(link), m_Image(image) {}

ChipPollThread::~ChipPollThread() {
    Stop();
    wait();
}

void ChipPollThread::Stop() {
    m_Stop.store(true, std::memory_order_release);
    m_Sleep.Wake();
}

void ChipPollThread::run() {
    while (!m_Stop.load(std::memory_order_acquire)) {
        if (!m_Sleep.Sleep_Unless_Stopped(kProbeIntervalMs, m_Stop)) break;
        if (!m_Link.isLive()) continue;
        Probe();
    }
    // Cleared here, not at the start of run, so that a Stop that comes before
    // the loop begins still ends it.
    m_Stop.store(false, std::memory_order_release);
}

void ChipPollThread::Probe() {
    char result;
    {
        // Held around the whole exchange so the address and the reply belong
        // together even when the GUI thread sends commands of its own.
        QMutexLocker lock(&m_Link.exchangeLock());
        const uint8_t dev = Chip_AddressByte();
        result = Register_Read(m_Link, m_Image, dev, 0x00, 1);
    }
    // The main window's slots own g_I2C_Connected; until the queued slot has
    // run, a second probe may repeat the same signal, which the slots accept.
    const int connected = g_I2C_Connected.load(std::memory_order_acquire);
    if (result == '0' && connected == 0)
        emit chipFound();
    else if (result != '0' && connected == 1)
        emit chipLost();
}
