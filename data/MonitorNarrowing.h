// Who narrows the monitored-channel mask now. The procedures that narrow it
// (the automatic sensitivity run, the signal-to-noise test) save the mask and
// the Sense state and put them back at their end; two at once would each put
// back what the other had set. The main window holds one of these and every
// such procedure claims it first. A holder that is destroyed frees it.
#pragma once

#include <QObject>
#include <QPointer>
#include <QString>

class MonitorNarrowing : public QObject {
    Q_OBJECT
public:
    explicit MonitorNarrowing(QObject* parent = nullptr) : QObject(parent) {}

    // True when it was free or is already the owner's; what names the
    // procedure in messages ("The SNR test").
    bool claim(const QObject* owner, const QString& what) {
        if (m_Owner && m_Owner != owner) return false;
        m_Owner = owner;
        m_What = what;
        return true;
    }
    void release(const QObject* owner) {
        if (m_Owner == owner) m_Owner = nullptr;
    }
    bool held() const { return !m_Owner.isNull(); }
    bool heldBy(const QObject* owner) const { return held() && m_Owner == owner; }
    // The holder's name, empty when free.
    QString holder() const { return held() ? m_What : QString(); }

private:
    QPointer<const QObject> m_Owner;
    QString m_What;
};
