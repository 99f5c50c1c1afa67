#include "tuning/SensitivityProcedure.h"

#include "app/limits.h"
#include "data/SampleStream.h"
#include "link/commands.h"
#include "workers/BoardSession.h"
#include "tuning/SensitivityProposal.h"
#include "workers/ChipFamily.h"

namespace {

constexpr int kTickMs = 100;
constexpr int kWriteSettleMs = 500;  // the written value settles before the read-back
constexpr qint64 kFirstWindowMs = 5000;
constexpr qint64 kSampleWindowMs = 1000;
constexpr int kSampledSbf = 2;

}  // namespace

SensitivityProcedure::SensitivityProcedure(SampleStream* stream, MonitorNarrowing* narrowing, int family, int channel,
                                           QObject* parent)
    : QObject(parent), m_Stream(stream), m_Narrowing(narrowing), m_Family(family), m_Channel(channel) {
    // A window that shows registers gives access that keeps its image.
    m_Read = [this](uint8_t reg) {
        uint8_t v = 0;
        return m_Session && CMD_Read(m_Session->link(), m_Session->chipAddress(), reg, 1, &v) == '0' ? int(v) : -1;
    };
    m_Write = [this](uint8_t reg, uint8_t value) {
        return m_Session && CMD_Write(m_Session->link(), m_Session->chipAddress(), reg, 1, &value) == '0';
    };
    m_Tick.setInterval(kTickMs);
    connect(&m_Tick, &QTimer::timeout, this, &SensitivityProcedure::onTick);
    connect(m_Stream, &SampleStream::sampleAdded, this, &SensitivityProcedure::onSample);
}

SensitivityProcedure::~SensitivityProcedure() {
    // Destroyed mid-run (with its window, at exit): the monitoring goes back;
    // whoever switches Sense may be going away too, so only the flag.
    if (m_Narrowing) m_Narrowing->restore(this, {});
}

void SensitivityProcedure::setRegisterAccess(ReadRegister read, WriteRegister write) {
    m_Read = std::move(read);
    m_Write = std::move(write);
}

bool SensitivityProcedure::finished() const {
    return m_State == State::Done || m_State == State::Cancelled || m_State == State::Aborted ||
           m_State == State::Refused;
}

uint8_t SensitivityProcedure::sensitivityRegister() const {
    return ChipFamily_SensitivityRegister(m_Family, m_Channel);
}

QString SensitivityProcedure::name() const { return QStringLiteral("The sensitivity run of SIN%1").arg(m_Channel + 1); }

void SensitivityProcedure::setState(State s) {
    m_State = s;
    emit stateChanged(s);
}

void SensitivityProcedure::start() {
    if (m_State != State::Idle) return;
    prepare();
}

void SensitivityProcedure::retry() {
    if (m_State != State::AwaitRetry || m_Busy) return;
    prepare();
}

void SensitivityProcedure::cancel() {
    if (m_Busy) {
        m_CancelWanted = true;
        return;
    }
    if (m_State == State::Sampling || m_State == State::AwaitWrite || m_State == State::AwaitRetry) finish();
}

bool SensitivityProcedure::readInto(uint8_t reg, uint8_t* value) {
    const int v = m_Read(reg);
    if (v < 0) return false;
    *value = static_cast<uint8_t>(v);
    return true;
}

void SensitivityProcedure::prepare() {
    const uint16_t mask = (m_Channel >= 0 && m_Channel < kMaxChannels) ? static_cast<uint16_t>(1u << m_Channel) : 0;
    if (!m_Narrowing || !m_Narrowing->narrow(this, name(), mask, m_Sense)) {
        const auto* other = m_Narrowing ? qobject_cast<const SensitivityProcedure*>(m_Narrowing->holderObject())
                                        : nullptr;
        m_RefusingChannel = other ? other->channel() : -1;
        m_RefusingName = m_Narrowing ? m_Narrowing->holder() : QString();
        setState(State::Refused);
        return;
    }
    setState(State::Preparing);
    m_Sum = 0.0f;
    m_Count = 0;

    // Once an exchange has failed the run aborts: a write built on a failed
    // read would put a stale value into the chip. A retry keeps what the first
    // preparation saved: by now the chip holds the run's own values.
    QPointer<SensitivityProcedure> self(this);
    m_Busy = true;
    bool ok = true;
    const ChipFamily& family = ChipFamily_Rules(m_Family);
    if (family.runControlReg >= 0) {
        const uint8_t reg = static_cast<uint8_t>(family.runControlReg);
        uint8_t control = 0;
        ok = readInto(reg, &control);
        if (!self) return;
        if (ok) {
            if (!m_Prepared) m_SavedControl = control;
            ok = m_Write(reg, static_cast<uint8_t>(control | family.runControlBit));
            if (!self) return;
        }
    }
    if (ok) {
        uint8_t current = 0;
        ok = readInto(sensitivityRegister(), &current);
        if (!self) return;
        if (ok) {
            if (!m_Prepared) m_SavedSensitivity = current;
            ok = m_Write(sensitivityRegister(), kAutoSenRunValue);
            if (!self) return;
        }
    }
    m_Busy = false;
    if (!ok) {
        abort();
        return;
    }
    m_Prepared = true;
    if (m_CancelWanted) {
        finish();
        return;
    }
    m_FromMs = m_Stream->elapsedMs();
    m_WindowMs = kFirstWindowMs;
    m_Window.start();
    m_Tick.start();
    setState(State::Sampling);
}

void SensitivityProcedure::onSample(const MonitorSample& sample) {
    // Each sample of the channel counts once, as it arrives; a channel that
    // stalls adds nothing.
    if (m_State != State::Sampling || sample.channel != m_Channel || sample.tMs < m_FromMs) return;
    const int32_t d = sample.diff[kSampledSbf];
    if (d <= kAutoSenMinDiff) return;
    if (m_Count == 0) {
        m_WindowMs = kSampleWindowMs;
        m_Window.start();
    }
    m_Count += 1;
    m_Sum += static_cast<float>(d);
}

void SensitivityProcedure::onTick() {
    if (m_State != State::Sampling) {
        m_Tick.stop();
        return;
    }
    if (m_Window.elapsed() > m_WindowMs) evaluate();
}

void SensitivityProcedure::evaluate() {
    m_Tick.stop();
    if (m_Count >= kAutoSenMinSamples) {
        m_Proposal = AutoSen_Evaluate(m_Sum, m_Count, m_Margin, &m_Computed);
        setState(State::AwaitWrite);
    } else {
        setState(State::AwaitRetry);
    }
}

void SensitivityProcedure::write() {
    if (m_State != State::AwaitWrite || m_Busy) return;
    setState(State::Writing);
    QPointer<SensitivityProcedure> self(this);
    m_Written = true;
    m_Busy = true;
    const bool ok = m_Write(sensitivityRegister(), m_Proposal);
    if (!self) return;
    m_Busy = false;
    if (!ok) {
        abort();
        return;
    }
    QTimer::singleShot(kWriteSettleMs, this, &SensitivityProcedure::finish);
}

void SensitivityProcedure::finish() {
    m_Tick.stop();
    setState(State::Finishing);
    if (m_Narrowing) m_Narrowing->restore(this, m_Sense);

    // Best effort: the run ends either way, and the read-backs show what the
    // chip holds now.
    QPointer<SensitivityProcedure> self(this);
    m_Busy = true;
    const uint8_t reg = sensitivityRegister();
    if (!m_Written) {
        m_Write(reg, m_SavedSensitivity);
        if (!self) return;
    }
    uint8_t v = 0;
    const bool readBack = readInto(reg, &v);
    if (!self) return;
    if (readBack) emit registerReadBack(reg);
    if (const int control = ChipFamily_Rules(m_Family).runControlReg; control >= 0) {
        if (!m_Written) {
            m_Write(static_cast<uint8_t>(control), m_SavedControl);
            if (!self) return;
        }
        const bool controlBack = readInto(static_cast<uint8_t>(control), &v);
        if (!self) return;
        if (controlBack) emit registerReadBack(control);
    }
    m_Busy = false;
    setState(m_Written ? State::Done : State::Cancelled);
}

void SensitivityProcedure::abort() {
    m_Tick.stop();
    m_Busy = false;
    if (m_Narrowing) m_Narrowing->restore(this, m_Sense);
    setState(State::Aborted);
}
