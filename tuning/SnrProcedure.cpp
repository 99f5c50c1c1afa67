#include "tuning/SnrProcedure.h"

#include <QPointer>
#include <cmath>

#include "app/limits.h"
#include "data/SampleStream.h"
#include "link/BoardLink.h"
#include "link/ExchangeQueue.h"
#include "link/ReceiveThread.h"
#include "link/commands.h"
#include "tuning/MonitorNarrowing.h"
#include "tuning/SnrRegisters.h"
#include "workers/BoardSession.h"
#include "workers/ChipFamily.h"
#include "workers/ChipPollThread.h"

namespace {

constexpr int kWatchMs = 100;

}  // namespace

SnrProcedure::SnrProcedure(SampleStream* stream, QObject* parent) : QObject(parent), m_Stream(stream) {
    m_SetSense = [this](bool on) {
        if (m_Session) m_Session->setSensing(on);
    };
    m_ReadSensitivity = [](int) { return -1; };
    m_LinkOk = [this] { return m_Session && m_Session->link().isLive() && m_Session->chipPresent(); };
    m_PortOk = [this] { return m_Session && m_Session->link().isLive(); };
    connect(m_Stream, &SampleStream::sampleAdded, this, &SnrProcedure::onSample);
    connect(m_Stream, &SampleStream::touchChanged, this, &SnrProcedure::onTouch);
    connect(&m_Watch, &QTimer::timeout, this, &SnrProcedure::watch);
}

SnrProcedure::~SnrProcedure() {
    // The owner of the Sense hook (the window) may already be going away:
    // only the flags go back.
    restore(false);
}

bool SnrProcedure::running() const {
    return m_Phase == Phase::HandsOff || m_Phase == Phase::AwaitTouch || m_Phase == Phase::Touching ||
           m_Phase == Phase::Paused || m_Phase == Phase::AwaitRelease;
}

bool SnrProcedure::start(const SnrSettings& settings) {
    if (running() || m_Starting) {
        m_Error = QStringLiteral("The test is already running.");
        return false;
    }
    if (!m_Session) {
        m_Error = QStringLiteral("No chip answers: connect the board first.");
        return false;
    }
    const int family = m_Session->family();
    const ChipFamily* traits = ChipFamily_Find(family);
    if (traits == nullptr || traits->selectionReg < 0) {
        m_Error = QStringLiteral("This chip family has no monitoring cycle, so it cannot be measured.");
        return false;
    }
    m_Error =
        Snr_CheckSettings(settings, qMin(m_Session->channelCount(), traits->monitorChannels), m_Session->sbfCount());
    if (!m_Error.isEmpty()) return false;
    if (!m_LinkOk()) {
        m_Error = QStringLiteral("No chip answers: connect the board first.");
        return false;
    }

    m_Settings = settings;
    m_Results.clear();
    m_Sensitivity.clear();
    m_Starting = true;
    m_CancelWhileStarting = false;
    m_FailedWhileStarting = false;
    // Only values go into the reads: they may run on the exchange thread.
    auto readAll = [read = m_ReadSensitivity, channels = settings.channels] {
        QVector<int> values;
        for (int c : channels) {
            values.append(read(c));
            if (values.last() < 0) break;
        }
        return values;
    };
    if (m_Exchanges == nullptr) return begin(readAll());
    m_Exchanges->post(
        this, [readAll](BoardLink&) { return readAll(); },
        [this](const QVector<int>& values) {
            if (!begin(values)) end(m_CancelWhileStarting && !m_FailedWhileStarting ? Phase::Cancelled : Phase::Failed);
        });
    return true;
}

bool SnrProcedure::begin(const QVector<int>& sensitivity) {
    m_Starting = false;
    if (m_CancelWhileStarting) {
        if (m_Error.isEmpty()) m_Error = QStringLiteral("Cancelled.");
        return false;
    }
    for (int i = 0; i < m_Settings.channels.size(); ++i) {
        if (sensitivity.value(i, -1) >= 0) continue;
        const int c = m_Settings.channels[i];
        m_Error = QStringLiteral("Could not read the sensitivity register 0x%1 of SIN %2.")
                      .arg(QString::asprintf("%02X", ChipFamily_SensitivityRegister(m_Session->family(), c)))
                      .arg(c + 1);
        return false;
    }
    m_Sensitivity = sensitivity;

    const SnrSettings& settings = m_Settings;
    const int n = settings.channels.size();
    m_Untouched = QVector<QVector<int32_t>>(n);
    m_Touched = QVector<QVector<int32_t>>(n);
    m_Index = -1;
    uint16_t mask = 0;
    for (int c : settings.channels) mask |= static_cast<uint16_t>(1u << c);
    if (!narrowing()->narrow(this, kName, mask, m_SetSense)) {
        m_Error = QStringLiteral(
                      "%1 is in progress and narrows the monitored channels. Finish or cancel it, then "
                      "start the SNR test.")
                      .arg(narrowing()->holder());
        return false;
    }
    m_ChipSilentSinceMs = -1;
    m_Watch.start(kWatchMs);
    beginHandsOff(m_Stream->elapsedMs());
    return true;
}

void SnrProcedure::touchingNow() {
    if (m_Phase == Phase::AwaitTouch || m_Phase == Phase::Paused) beginTouching(m_Stream->elapsedMs());
}

void SnrProcedure::cancel() {
    if (m_Starting) {
        m_CancelWhileStarting = true;
        return;
    }
    if (!running()) return;
    m_Error = QStringLiteral("Cancelled.");
    end(Phase::Cancelled);
}

void SnrProcedure::fail(const QString& why) {
    if (m_Starting) {
        m_Error = why;
        m_CancelWhileStarting = true;
        m_FailedWhileStarting = true;
        return;
    }
    if (!running()) return;
    m_Error = why;
    end(Phase::Failed);
}

int SnrProcedure::currentChannel() const {
    const bool touchPhase = m_Phase == Phase::AwaitTouch || m_Phase == Phase::Touching || m_Phase == Phase::Paused ||
                            m_Phase == Phase::AwaitRelease;
    return touchPhase && m_Index >= 0 ? m_Settings.channels.value(m_Index, -1) : -1;
}

int SnrProcedure::collected() const {
    if (m_Phase == Phase::HandsOff) {
        int least = m_Settings.samples;
        for (const QVector<int32_t>& u : m_Untouched) least = qMin(least, static_cast<int>(u.size()));
        return least;
    }
    if (currentChannel() >= 0) return m_Touched[m_Index].size();
    return 0;
}

QString SnrProcedure::prompt() const {
    const int sin = currentChannel() + 1;
    if (m_Starting) return QStringLiteral("Reading the sensitivity registers");
    if (running() && waitingForChip()) return QStringLiteral("The chip did not answer; waiting for it");
    switch (m_Phase) {
        case Phase::Idle:
            return QStringLiteral("Not started");
        case Phase::HandsOff:
            return m_KeyBusy ? QStringLiteral("A key is touched: hands off every key") : QStringLiteral("Hands off");
        case Phase::AwaitTouch:
        case Phase::Touching:
            return QStringLiteral("Touch SIN %1 and hold").arg(sin);
        case Phase::Paused:
            return QStringLiteral("SIN %1 was released early: touch SIN %1 and hold").arg(sin);
        case Phase::AwaitRelease:
            return QStringLiteral("Release SIN %1").arg(sin);
        case Phase::Done:
            return QStringLiteral("Done");
        case Phase::Cancelled:
        case Phase::Failed:
            return m_Error;
    }
    return QString();
}

QString SnrProcedure::PhaseName(Phase phase) {
    static const char* const names[] = {"idle",          "hands off", "await touch", "touching", "paused",
                                        "await release", "done",      "cancelled",   "failed"};
    return QString::fromLatin1(names[static_cast<int>(phase)]);
}

void SnrProcedure::onSample(const MonitorSample& sample) {
    if (m_Phase != Phase::HandsOff && m_Phase != Phase::Touching) return;
    // Read before this collection began (queued behind the phase change).
    if (sample.tMs < m_FromMs || sample.sbfCount <= m_Settings.sbf) return;
    const int idx = m_Settings.channels.indexOf(sample.channel);
    if (idx < 0) return;
    const int32_t d = sample.diff[m_Settings.sbf];

    if (m_Phase == Phase::HandsOff) {
        if (m_KeyBusy || m_Untouched[idx].size() >= m_Settings.samples) return;
        m_Untouched[idx].append(d);
        m_LastProgressMs = Steady_Ms();
        if (collected() >= m_Settings.samples)
            beginChannel(0);
        else
            emit changed();
        return;
    }

    if (idx != m_Index) return;
    m_Touched[idx].append(d);
    m_LastProgressMs = Steady_Ms();
    if (m_Touched[idx].size() < m_Settings.samples) {
        emit changed();
        return;
    }
    setPhase(Phase::AwaitRelease);
    // Started by hand without the chip ever seeing the touch: there is no
    // release to wait for.
    if (!touchedNow(m_Settings.channels[idx])) advanceAfterRelease();
}

void SnrProcedure::onTouch(const TouchEvent& event) {
    if (m_Phase == Phase::HandsOff) {
        if (event.mask != 0) {
            // Samples next to a touch are not untouched; start again once
            // every key is free.
            m_KeyBusy = true;
            for (QVector<int32_t>& u : m_Untouched) u.clear();
            emit changed();
        } else if (m_KeyBusy) {
            m_KeyBusy = false;
            m_FromMs = event.tMs;
            m_LastProgressMs = Steady_Ms();
            emit changed();
        }
        return;
    }
    const int ch = currentChannel();
    if (ch < 0) return;
    const bool down = (event.mask >> ch) & 1u;
    switch (m_Phase) {
        case Phase::AwaitTouch:
        case Phase::Paused:
            if (down) {
                m_ChipSawTouch = true;
                beginTouching(event.tMs);
            }
            break;
        case Phase::Touching:
            if (down)
                m_ChipSawTouch = true;
            else if (m_ChipSawTouch)
                setPhase(Phase::Paused);  // what was collected so far stays
            break;
        case Phase::AwaitRelease:
            if (!down) advanceAfterRelease();
            break;
        default:
            break;
    }
}

void SnrProcedure::watch() {
    if (!running()) return;
    const QString lost = QStringLiteral("The board or the chip stopped answering; the test has ended.");
    if (!m_PortOk()) {
        fail(lost);
        return;
    }
    const qint64 now = Steady_Ms();
    if (!m_LinkOk()) {
        if (m_ChipSilentSinceMs < 0) {
            m_ChipSilentSinceMs = now;
            emit changed();
        }
        const int grace = m_ChipGraceMs >= 0 ? m_ChipGraceMs : defaultChipGraceMs();
        if (now - m_ChipSilentSinceMs > grace) fail(lost);
        return;
    }
    if (m_ChipSilentSinceMs >= 0) {
        m_ChipSilentSinceMs = -1;
        // The window switched Sense off when it counted the chip gone; the
        // time without a chip is no stall of the channels.
        m_SetSense(true);
        m_LastProgressMs = now;
        emit changed();
    }
    const bool collecting = (m_Phase == Phase::HandsOff && !m_KeyBusy) || m_Phase == Phase::Touching;
    if (collecting && now - m_LastProgressMs > m_StallMs) {
        const QString which = m_Phase == Phase::Touching ? QStringLiteral("SIN %1").arg(currentChannel() + 1)
                                                         : QStringLiteral("the chosen channels");
        fail(QStringLiteral("No monitoring data from %1 for %2 s; the test has ended.")
                 .arg(which)
                 .arg(m_StallMs / 1000.0));
    }
}

void SnrProcedure::setPhase(Phase phase) {
    m_Phase = phase;
    emit changed();
}

void SnrProcedure::beginHandsOff(qint64 fromMs) {
    m_FromMs = fromMs;
    m_KeyBusy = m_Stream->touchMask() != 0;
    m_LastProgressMs = Steady_Ms();
    setPhase(Phase::HandsOff);
}

void SnrProcedure::beginChannel(int index) {
    m_Index = index;
    m_ChipSawTouch = false;
    const int ch = m_Settings.channels[index];
    setMask(static_cast<uint16_t>(1u << ch));
    m_FromMs = m_Stream->elapsedMs();
    if (touchedNow(ch)) {
        m_ChipSawTouch = true;
        beginTouching(m_FromMs);
        return;
    }
    setPhase(Phase::AwaitTouch);
}

void SnrProcedure::beginTouching(qint64 fromMs) {
    m_FromMs = fromMs;
    m_LastProgressMs = Steady_Ms();
    setPhase(Phase::Touching);
}

void SnrProcedure::advanceAfterRelease() {
    if (m_Index + 1 < m_Settings.channels.size())
        beginChannel(m_Index + 1);
    else
        finish();
}

void SnrProcedure::finish() {
    m_Results.clear();
    for (int i = 0; i < m_Settings.channels.size(); ++i)
        m_Results.append(Snr_Evaluate(m_Settings.channels[i], m_Settings.sbf, m_Untouched[i], m_Touched[i],
                                      m_Settings.minSnr, m_Settings.margin, m_Sensitivity.value(i, -1)));
    m_Error.clear();
    end(Phase::Done);
}

void SnrProcedure::end(Phase phase) {
    m_Watch.stop();
    m_ChipSilentSinceMs = -1;
    restore(true);
    setPhase(phase);
    emit finished();
}

void SnrProcedure::restore(bool useHook) {
    if (m_Narrowing) m_Narrowing->restore(this, useHook ? m_SetSense : MonitorNarrowing::SenseSwitch());
}

int SnrProcedure::defaultChipGraceMs() const {
    return ChipPollThread::GraceMs(m_Session ? m_Session->link().replyTimeout() : kReplyTimeoutMs);
}

void SnrProcedure::setSession(BoardSession* session) {
    m_Session = session;
    if (session == nullptr) return;
    // The session itself, not this object: the reads may run on the
    // session's exchange thread.
    m_ReadSensitivity = [session](int ch) {
        uint8_t v = 0;
        const uint8_t reg = ChipFamily_SensitivityRegister(session->family(), ch);
        return CMD_Read(session->link(), session->chipAddress(), reg, 1, &v).ok() ? int(v) : -1;
    };
}

MonitorNarrowing* SnrProcedure::narrowing() {
    // Without a board owner's helper (a test, a tool of its own) the
    // procedure keeps one for itself.
    if (!m_Narrowing) m_Narrowing = new MonitorNarrowing(m_Session, this);
    return m_Narrowing;
}

bool SnrProcedure::touchedNow(int channel) const { return (m_Stream->touchMask() >> channel) & 1u; }

void SnrProcedure::setMask(uint16_t mask) { narrowing()->setMask(this, mask); }
