#include "tuning/MonitorNarrowing.h"

#include "app/globals.h"

bool MonitorNarrowing::claim(const QObject* owner, const QString& what) {
    if (m_Owner && m_Owner != owner) return false;
    // A holder destroyed without restoring leaves nothing it could put back.
    if (m_Owner != owner) m_Saved = false;
    m_Owner = owner;
    m_What = what;
    return true;
}

void MonitorNarrowing::release(const QObject* owner) {
    if (m_Owner != owner) return;
    m_Owner = nullptr;
    m_Saved = false;
}

bool MonitorNarrowing::narrow(const QObject* owner, const QString& what, uint16_t mask, const SenseSwitch& sense) {
    if (!claim(owner, what)) return false;
    if (!m_Saved) {
        m_SavedMask = g_MonChannelMask.load(std::memory_order_acquire);
        m_SavedSense = g_SenseOn.load(std::memory_order_acquire) != 0;
        m_Saved = true;
    }
    g_MonChannelMask.store(mask, std::memory_order_release);
    if (sense)
        sense(true);
    else
        g_SenseOn.store(1, std::memory_order_release);
    return true;
}

void MonitorNarrowing::setMask(const QObject* owner, uint16_t mask) {
    if (saved(owner)) g_MonChannelMask.store(mask, std::memory_order_release);
}

void MonitorNarrowing::restore(const QObject* owner, const SenseSwitch& sense) {
    if (!saved(owner)) {
        release(owner);
        return;
    }
    g_MonChannelMask.store(m_SavedMask, std::memory_order_release);
    if (sense)
        sense(m_SavedSense);
    else
        g_SenseOn.store(m_SavedSense ? 1 : 0, std::memory_order_release);
    release(owner);
}
