// Who narrows the monitored-channel mask now, and what to put back after.
// The procedures that narrow it (the sensitivity run, the signal-to-noise
// test) save the mask and the Sense state and put them back at their end; two
// at once would each put back what the other had set. The board's owner holds
// one of these and every such procedure narrows through it. A holder that is
// destroyed frees it.
#pragma once

#include <QObject>
#include <QPointer>
#include <QString>
#include <cstdint>
#include <functional>

#include "workers/BoardSession.h"

class MonitorNarrowing : public QObject {
    Q_OBJECT
public:
    // How Sense is switched: the window's Sense slot keeps its button in
    // step; without one, the session's flag alone.
    using SenseSwitch = std::function<void(bool)>;

    // Narrows the monitoring of session's board; without one (or once it is
    // gone) it only keeps procedures from overlapping.
    explicit MonitorNarrowing(BoardSession* session, QObject* parent = nullptr) : QObject(parent), m_Session(session) {}

    // True when it was free or is already the owner's; what names the
    // procedure in messages ("The SNR test").
    bool claim(const QObject* owner, const QString& what);
    void release(const QObject* owner);
    bool held() const { return !m_Owner.isNull(); }
    bool heldBy(const QObject* owner) const { return held() && m_Owner == owner; }
    // The holder's name, empty when free.
    QString holder() const { return held() ? m_What : QString(); }
    const QObject* holderObject() const { return m_Owner.data(); }

    // Claims for owner, saves the mask and Sense the first time (a procedure
    // narrowing again, say for a retry, keeps what was there before it), sets
    // the mask and switches Sense on. False when someone else holds it.
    bool narrow(const QObject* owner, const QString& what, uint16_t mask, const SenseSwitch& sense);
    // A new mask for a narrowing the owner holds.
    void setMask(const QObject* owner, uint16_t mask);
    // Puts back what narrow saved and releases. Without a switch only the
    // flag is set: the switch's owner may be going away.
    void restore(const QObject* owner, const SenseSwitch& sense);
    // The owner holds a narrowing whose saved state is still to go back.
    bool saved(const QObject* owner) const { return heldBy(owner) && m_Saved; }

private:
    QPointer<BoardSession> m_Session;
    QPointer<const QObject> m_Owner;
    QString m_What;
    bool m_Saved = false;
    uint16_t m_SavedMask = 0;
    bool m_SavedSense = false;
};
