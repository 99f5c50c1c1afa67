#include "tuning/MonitorNarrowing.h"

#include "workers/BoardSession.h"

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
        m_SavedMask = m_Session ? m_Session->monitoredChannels() : 0;
        m_SavedSense = m_Session && m_Session->sensing();
        m_Saved = true;
    }
    if (m_Session) m_Session->setMonitoredChannels(mask);
    if (sense)
        sense(true);
    else if (m_Session)
        m_Session->setSensing(true);
    return true;
}

void MonitorNarrowing::setMask(const QObject* owner, uint16_t mask) {
    if (saved(owner) && m_Session) m_Session->setMonitoredChannels(mask);
}

void MonitorNarrowing::restore(const QObject* owner, const SenseSwitch& sense) {
    if (!saved(owner)) {
        release(owner);
        return;
    }
    if (m_Session) m_Session->setMonitoredChannels(m_SavedMask);
    if (sense)
        sense(m_SavedSense);
    else if (m_Session)
        m_Session->setSensing(m_SavedSense);
    release(owner);
}
