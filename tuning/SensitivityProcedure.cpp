#include "tuning/SensitivityProcedure.h"

#include "app/limits.h"
#include "data/SampleStream.h"
#include "link/ExchangeQueue.h"
#include "workers/BoardOps.h"
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
    // Without a session every read and write fails.
    m_Read = [](uint8_t) { return -1; };
    m_Write = [](uint8_t, uint8_t) { return false; };
    m_Tick.setInterval(kTickMs);
    connect(&m_Tick, &QTimer::timeout, this, &SensitivityProcedure::onTick);
    connect(m_Stream, &SampleStream::sampleAdded, this, &SensitivityProcedure::onSample);
}

SensitivityProcedure::~SensitivityProcedure() {
    // Destroyed mid-run (with its window, at exit): the monitoring goes back;
    // whoever switches Sense may be going away too, so only the flag.
    if (m_Narrowing) m_Narrowing->restore(this, {});
}

void SensitivityProcedure::setSession(BoardSession* session) {
    m_Session = session;
    if (session == nullptr) return;
    // Through the session's image: the read-backs show in whatever shows it,
    // and the writes the board takes are announced to the log. Only values
    // are captured: the exchanges may run on the session's exchange thread.
    m_Read = [session](uint8_t reg) {
        return Register_ReadValue(session->link(), session->image(), session->chipAddress(), reg);
    };
    m_Write = [session](uint8_t reg, uint8_t value) {
        return Register_Write(session->link(), session->image(), session->chipAddress(), reg, value).ok();
    };
}

template <typename Steps, typename Then>
void SensitivityProcedure::runSteps(Steps steps, Then then) {
    if (m_Exchanges != nullptr) {
        m_Exchanges->post(this, [steps](BoardLink&) mutable { return steps(); }, then);
        return;
    }
    then(steps());
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
    // read would put a stale value into the chip.
    const ChipFamily& family = ChipFamily_Rules(m_Family);
    const int controlReg = family.runControlReg;
    const uint8_t controlBit = family.runControlBit;
    const uint8_t sensitivityReg = sensitivityRegister();
    m_Busy = true;
    runSteps(
        [read = m_Read, write = m_Write, controlReg, controlBit, sensitivityReg] {
            Prepared p;
            if (controlReg >= 0) {
                p.control = read(static_cast<uint8_t>(controlReg));
                if (p.control < 0 ||
                    !write(static_cast<uint8_t>(controlReg), static_cast<uint8_t>(p.control | controlBit)))
                    return p;
            }
            p.sensitivity = read(sensitivityReg);
            p.ok = p.sensitivity >= 0 && write(sensitivityReg, kAutoSenRunValue);
            return p;
        },
        [this](const Prepared& p) { endPrepare(p); });
}

void SensitivityProcedure::endPrepare(const Prepared& p) {
    m_Busy = false;
    if (!p.ok) {
        abort();
        return;
    }
    // A retry keeps what the first preparation saved: by now the chip holds
    // the run's own values.
    if (!m_Prepared) {
        m_SavedControl = static_cast<uint8_t>(p.control < 0 ? 0 : p.control);
        m_SavedSensitivity = static_cast<uint8_t>(p.sensitivity);
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
    m_Written = true;
    m_Busy = true;
    runSteps([write = m_Write, reg = sensitivityRegister(), value = m_Proposal] { return write(reg, value); },
             [this](bool ok) {
                 m_Busy = false;
                 if (!ok) {
                     abort();
                     return;
                 }
                 QTimer::singleShot(kWriteSettleMs, this, &SensitivityProcedure::finish);
             });
}

void SensitivityProcedure::finish() {
    m_Tick.stop();
    setState(State::Finishing);
    if (m_Narrowing) m_Narrowing->restore(this, m_Sense);

    // Best effort: the run ends either way, and the read-backs show what the
    // chip holds now.
    m_Busy = true;
    const int controlReg = ChipFamily_Rules(m_Family).runControlReg;
    runSteps(
        [read = m_Read, write = m_Write, reg = sensitivityRegister(), controlReg, written = m_Written,
         sensitivity = m_SavedSensitivity, control = m_SavedControl] {
            ReadBacks r;
            if (!written) write(reg, sensitivity);
            r.sensitivity = read(reg) >= 0;
            if (controlReg >= 0) {
                if (!written) write(static_cast<uint8_t>(controlReg), control);
                r.control = read(static_cast<uint8_t>(controlReg)) >= 0;
            }
            return r;
        },
        [this, controlReg](const ReadBacks& r) {
            m_Busy = false;
            if (r.sensitivity) emit registerReadBack(sensitivityRegister());
            if (r.control) emit registerReadBack(controlReg);
            setState(m_Written ? State::Done : State::Cancelled);
        });
}

void SensitivityProcedure::abort() {
    m_Tick.stop();
    m_Busy = false;
    if (m_Narrowing) m_Narrowing->restore(this, m_Sense);
    setState(State::Aborted);
}
