#include "autosen/SensitivityDialog.h"

#include <QCloseEvent>
#include <QLayout>
#include <QPointer>
#include <QTimer>

#include "app/globals.h"
#include "data/MonitorNarrowing.h"
#include "link/commands.h"
#include "mainwindow/MainWindow.h"
#include "platform/timing.h"
#include "views/RegisterCell.h"
#include "workers/ChipFamily.h"

AutoSenRun g_AutoSenRun;

namespace {

const char kStyleNormal[] = "font-family:'Gulim'; font-size:12pt; font-weight:600; color:#000000;";
const char kStyleRed[] = "font-family:'Gulim'; font-size:12pt; font-weight:600; color:red;";

QString MsgPreparing() { return QStringLiteral("작업 준비 중입니다..."); }
QString MsgHoldTouch() {
    return QStringLiteral(
        "터치를 정상적으로 유지하시기 바랍니다.<p>본 감도는 대략적인 값으로 메뉴얼로 재 검토 하시기를 "
        "권장합니다.");
}
QString MsgAskWrite() { return QStringLiteral("<p>데이터를 레지스터에 Write 하시겠습니까?"); }
QString MsgTooFew() {
    return QStringLiteral(
        "변화율이 적습니다. 터치 상태를 확인 하시기 바랍니다.<p>본 상태가 계속 반복 될 경우에는 업체에 문의 "
        "하시기 바랍니다.<p>다시 진행 하시겠습니까?");
}
QString MsgWriting() { return QStringLiteral("데이터를 레지스터에 Write 중입니다..."); }
QString MsgFinishing() { return QStringLiteral("작업을 마무리 중입니다..."); }
QString MsgAbort() {
    return QStringLiteral("작업이 비 정상적으로 마무리 중입니다...<p>통신상태를 확인하시기 바랍니다.");
}
QString MsgRefused(int ownerChannel) {
    return QStringLiteral(
               "Another sensitivity run (SIN%1) is in progress.<p>Finish or cancel it, then press SEN again.")
        .arg(ownerChannel + 1);
}

QString MsgBusy(const QString& holder) {
    return QStringLiteral("%1 is in progress.<p>Finish or cancel it, then press SEN again.").arg(holder);
}

constexpr int kPrepareNextMs = 1;
constexpr int kSampleNextMs = 100;
constexpr int kEvaluateNextMs = 10;
constexpr int kAwaitNextMs = 100;
constexpr int kWriteNextMs = 500;
constexpr int kFinishNextMs = 100;
constexpr int kAbortNextMs = 5000;
constexpr uint32_t kFirstWindowMs = 5000;
constexpr uint32_t kSampleWindowMs = 1000;
constexpr int kSampledSbf = 2;

}  // namespace

uint8_t AutoSen_RegisterBase(int deviceType) { return ChipFamily_Rules(deviceType).sensitivityBase; }

SensitivityDialog::SensitivityDialog(QWidget* parent, int channel) : QDialog(parent), m_Channel(channel) {
    setupUi(this);
    m_ButtonRequest = 0;
    setWindowTitle(QString::asprintf("SENSITIVITY - SIN%d", m_Channel + 1));
    m_State = STA_PREPARE;
    label_msg->setWordWrap(true);
    pushButton_OK->setVisible(false);
    pushButton_Cancel->setVisible(true);
    layout()->setSizeConstraint(QLayout::SetMinAndMaxSize);

    m_Timer = new QTimer(this);
    // One step per shot: a step that pumps events must not see the next tick.
    m_Timer->setSingleShot(true);
    connect(m_Timer, &QTimer::timeout, this, &SensitivityDialog::onTick);
    connect(pushButton_OK, &QPushButton::clicked, this, &SensitivityDialog::onOkClicked);
    connect(pushButton_Cancel, &QPushButton::clicked, this, &SensitivityDialog::onCancelClicked);
    m_Timer->start(kPrepareNextMs);
}

SensitivityDialog::~SensitivityDialog() {
    // Destroyed mid-run (with its indicator, at exit): give the processing
    // thread its channels back. The main window may itself be going away, so
    // only the flags are restored, not its labels.
    if (ownsRun()) {
        g_MonChannelMask.store(g_AutoSenRun.savedMonMask, std::memory_order_release);
        g_SenseOn.store(g_AutoSenRun.savedSenseOn, std::memory_order_release);
        g_AutoSenRun.owner = nullptr;
    }
}

void SensitivityDialog::onOkClicked() { m_ButtonRequest = 1; }

void SensitivityDialog::onCancelClicked() { m_ButtonRequest = 2; }

void SensitivityDialog::reject() {
    if (m_Closing) {
        QDialog::reject();
        return;
    }
    RequestClose();
}

void SensitivityDialog::changeEvent(QEvent* event) {
    // Losing the chip disables the key group and with it our indicator, and
    // Qt passes that on to child windows too. A run that is asking OK or
    // Cancel would then wait for an answer nobody can give; a window may be
    // enabled again on its own.
    if (event->type() == QEvent::EnabledChange && !isEnabled()) setEnabled(true);
    QDialog::changeEvent(event);
}

void SensitivityDialog::closeEvent(QCloseEvent* event) {
    if (!m_Closing) RequestClose();
    if (m_Closing)
        event->accept();
    else
        event->ignore();  // the state machine restores first and then closes
}

void SensitivityDialog::RequestClose() {
    m_CloseRequested = true;
    if (m_InTick) return;  // the running tick ends with the request in view
    const bool nothingToRestore = m_State == STA_CLOSE_DIALOG || (m_State == STA_PREPARE && !ownsRun());
    if (nothingToRestore) CloseNow();
}

void SensitivityDialog::CloseNow() {
    m_Closing = true;
    m_Timer->stop();
    ReleaseRun();
    hide();
    deleteLater();
}

void SensitivityDialog::onTick() {
    // Exchanges and Wait_Pump dispatch events; with the timer stopped nothing
    // but a stray direct call could re-enter, and that is refused here.
    if (m_InTick || m_Closing) return;
    m_InTick = true;
    m_Timer->stop();
    QPointer<SensitivityDialog> self(this);

    int next = -1;
    switch (m_State) {
        case STA_PREPARE:
            next = Step_Prepare();
            break;
        case STA_SAMPLE:
            next = Step_Sample();
            break;
        case STA_EVALUATE:
            next = Step_Evaluate();
            break;
        case STA_AWAIT_WRITE:
            next = Step_AwaitWrite();
            break;
        case STA_AWAIT_RETRY:
            next = Step_AwaitRetry();
            break;
        case STA_WRITE_VALUE:
            next = Step_WriteValue();
            break;
        case STA_FINISH:
            next = Step_Finish();
            break;
        case STA_ABORT:
            next = Step_Abort();
            break;
        default:  // STA_CLOSE_DIALOG and anything above the last step
            m_Closing = true;
            ReleaseRun();
            close();
            deleteLater();
            break;
    }
    if (!self) return;
    m_ButtonRequest = 0;
    m_InTick = false;
    if (m_Closing || next < 0) return;
    // A window close that arrived during the run ends it without the wait
    // meant for reading the abort message.
    if (m_State == STA_CLOSE_DIALOG && m_CloseRequested) next = 1;
    m_Timer->start(next);
}

int SensitivityDialog::Step_Prepare() {
    QPointer<SensitivityDialog> self(this);
    // The run variables belong to the other dialog; taking them over would
    // make both restore the wrong values. Another procedure narrowing the
    // monitored channels would likewise restore ours.
    QString refusal;
    MonitorNarrowing* narrowing = g_MainWindow != nullptr ? g_MainWindow->monitorNarrowing() : nullptr;
    if (g_AutoSenRun.owner != nullptr && g_AutoSenRun.owner != this)
        refusal = MsgRefused(g_AutoSenRun.owner->channel());
    else if (narrowing != nullptr &&
             !narrowing->claim(this, QStringLiteral("The sensitivity run of SIN%1").arg(m_Channel + 1)))
        refusal = MsgBusy(narrowing->holder());
    if (!refusal.isEmpty()) {
        pushButton_OK->setVisible(false);
        pushButton_Cancel->setVisible(false);
        label_msg->setStyleSheet(QLatin1String(kStyleRed));
        label_msg->setText(refusal);
        m_State = STA_CLOSE_DIALOG;
        return kAbortNextMs;
    }
    if (m_Prepared && m_CloseRequested) {
        // A retry was accepted and then the window was closed.
        m_State = STA_FINISH;
        return kPrepareNextMs;
    }

    m_State = STA_SAMPLE;
    label_msg->setStyleSheet(QLatin1String(kStyleNormal));
    label_msg->setText(MsgPreparing());

    // A retry keeps what the first preparation saved: by now the chip and the
    // mask hold the run's own values, and restoring those would leave them.
    g_AutoSenRun.owner = this;
    if (!m_Prepared) {
        g_AutoSenRun.savedMonMask = g_MonChannelMask.load(std::memory_order_acquire);
        g_AutoSenRun.savedSenseOn = g_SenseOn.load(std::memory_order_acquire);
    }
    const uint16_t mask = (m_Channel >= 0 && m_Channel < 16) ? static_cast<uint16_t>(1u << m_Channel) : 0;
    g_MonChannelMask.store(mask, std::memory_order_release);
    g_AutoSenRun.sampleSum = 0.0f;
    g_AutoSenRun.sampleCount = 0;
    g_AutoSenRun.written = false;

    SetSensing(true);
    Wait_Pump(1);
    if (!self) return -1;

    // Once an exchange has failed the run goes to Abort; further exchanges
    // would each wait for the time-out, and a write built on a failed read
    // would put a stale value into the chip.
    bool ok = true;
    m_Family = g_DeviceType.load();
    g_AutoSenRun.regBase = AutoSen_RegisterBase(m_Family);
    const ChipFamily& family = ChipFamily_Rules(m_Family);
    if (family.runControlReg >= 0) {
        const uint8_t controlReg = static_cast<uint8_t>(family.runControlReg);
        ok = ReadReg(controlReg);
        if (!self) return -1;
        if (ok) {
            const uint8_t control = g_RegMirror[controlReg].load();
            if (!m_Prepared) g_AutoSenRun.savedControl = control;
            ok = WriteReg(controlReg, static_cast<uint8_t>(control | family.runControlBit));
            if (!self) return -1;
        }
    }
    const uint8_t reg = SensitivityRegister();
    if (ok) {
        ok = ReadReg(reg);
        if (!self) return -1;
    }
    if (ok) {
        if (!m_Prepared) g_AutoSenRun.savedSensitivity = g_RegMirror[reg].load();
        ok = WriteReg(reg, kAutoSenRunValue);
        if (!self) return -1;
    }
    if (!ok) m_State = STA_ABORT;
    // The saved values are complete only when every exchange went through;
    // after a failure the run ends in Abort and never retries.
    if (ok) m_Prepared = true;

    g_AutoSenRun.windowLength = kFirstWindowMs;
    g_AutoSenRun.windowStart = GetTickCount();
    pushButton_OK->setVisible(false);
    pushButton_Cancel->setVisible(true);
    label_msg->setText(MsgHoldTouch());
    return kPrepareNextMs;
}

int SensitivityDialog::Step_Sample() {
    if (CancelWanted()) m_State = STA_FINISH;

    const int32_t d = (m_Channel >= 0 && m_Channel < kMaxChannels)
                          ? g_Diff_Per_Tick[m_Channel][kSampledSbf].load(std::memory_order_acquire)
                          : 0;
    if (d > kAutoSenMinDiff) {
        if (g_AutoSenRun.sampleCount == 0) {
            g_AutoSenRun.windowLength = kSampleWindowMs;
            g_AutoSenRun.windowStart = GetTickCount();
        }
        g_AutoSenRun.sampleCount += 1;
        g_AutoSenRun.sampleSum += static_cast<float>(d);
    }

    g_AutoSenRun.elapsed = GetTickCount() - g_AutoSenRun.windowStart;
    if (g_AutoSenRun.elapsed > g_AutoSenRun.windowLength) m_State = STA_EVALUATE;
    return kSampleNextMs;
}

int SensitivityDialog::Step_Evaluate() {
    if (g_AutoSenRun.sampleCount >= kAutoSenMinSamples) {
        g_AutoSenRun.sensitivity = AutoSen_Evaluate(g_AutoSenRun.sampleSum, g_AutoSenRun.sampleCount,
                                                    g_AutoSen_Margin.load(), &g_AutoSenRun.computedValue);
        m_State = STA_AWAIT_WRITE;
        label_msg->setText(QString::asprintf("SENSITIVITY : 0x%X", g_AutoSenRun.sensitivity) + MsgAskWrite());
    } else {
        m_State = STA_AWAIT_RETRY;
        label_msg->setText(MsgTooFew());
    }
    pushButton_OK->setVisible(true);
    return kEvaluateNextMs;
}

int SensitivityDialog::Step_AwaitWrite() {
    if (m_CloseRequested)
        m_State = STA_FINISH;
    else if (m_ButtonRequest == 1)
        m_State = STA_WRITE_VALUE;
    else if (m_ButtonRequest == 2)
        m_State = STA_FINISH;
    return kAwaitNextMs;
}

int SensitivityDialog::Step_AwaitRetry() {
    if (m_CloseRequested)
        m_State = STA_FINISH;
    else if (m_ButtonRequest == 1)
        m_State = STA_PREPARE;
    else if (m_ButtonRequest == 2)
        m_State = STA_FINISH;
    return kAwaitNextMs;
}

int SensitivityDialog::Step_WriteValue() {
    QPointer<SensitivityDialog> self(this);
    pushButton_OK->setVisible(false);
    pushButton_Cancel->setVisible(false);
    m_State = STA_FINISH;
    label_msg->setText(MsgWriting());
    g_AutoSenRun.written = true;
    const bool ok = WriteReg(SensitivityRegister(), g_AutoSenRun.sensitivity);
    if (!self) return -1;
    if (!ok) m_State = STA_ABORT;
    return kWriteNextMs;
}

int SensitivityDialog::Step_Finish() {
    QPointer<SensitivityDialog> self(this);
    pushButton_OK->setVisible(false);
    pushButton_Cancel->setVisible(false);
    label_msg->setText(MsgFinishing());

    g_MonChannelMask.store(g_AutoSenRun.savedMonMask, std::memory_order_release);
    SetSensing(g_AutoSenRun.savedSenseOn != 0);
    Wait_Pump(1);
    if (!self) return -1;

    // Restoring is best effort: the dialog closes either way, and the cells
    // show what the chip answered.
    const uint8_t reg = SensitivityRegister();
    if (!g_AutoSenRun.written) {
        WriteReg(reg, g_AutoSenRun.savedSensitivity);
        if (!self) return -1;
    }
    if (ReadReg(reg)) RegCell_ShowImage(reg);
    if (!self) return -1;

    if (const int controlReg = ChipFamily_Rules(m_Family).runControlReg; controlReg >= 0) {
        if (!g_AutoSenRun.written) {
            WriteReg(static_cast<uint8_t>(controlReg), g_AutoSenRun.savedControl);
            if (!self) return -1;
        }
        if (ReadReg(static_cast<uint8_t>(controlReg))) RegCell_ShowImage(static_cast<uint8_t>(controlReg));
        if (!self) return -1;
    }

    ReleaseRun();
    m_State = STA_CLOSE_DIALOG;
    return kFinishNextMs;
}

int SensitivityDialog::Step_Abort() {
    QPointer<SensitivityDialog> self(this);
    pushButton_OK->setVisible(false);
    pushButton_Cancel->setVisible(false);
    label_msg->setStyleSheet(QLatin1String(kStyleRed));
    label_msg->setText(MsgAbort());

    g_MonChannelMask.store(g_AutoSenRun.savedMonMask, std::memory_order_release);
    SetSensing(g_AutoSenRun.savedSenseOn != 0);
    Wait_Pump(1);
    if (!self) return -1;

    ReleaseRun();
    m_State = STA_CLOSE_DIALOG;
    return kAbortNextMs;
}

uint8_t SensitivityDialog::SensitivityRegister() const { return static_cast<uint8_t>(m_Channel + g_AutoSenRun.regBase); }

bool SensitivityDialog::ReadReg(uint8_t reg) { return CMD_Read(Chip_AddressByte(), reg, 1, &g_RegMirror[reg]) == '0'; }

bool SensitivityDialog::WriteReg(uint8_t reg, uint8_t value) {
    return Write_EngineerRegister(Chip_AddressByte(), reg, value) == '0';
}

void SensitivityDialog::SetSensing(bool on) {
    if (g_MainWindow != nullptr)
        g_MainWindow->onSenseToggled(on);
    else
        g_SenseOn.store(on ? 1 : 0, std::memory_order_release);
}

void SensitivityDialog::ReleaseRun() {
    if (ownsRun()) g_AutoSenRun.owner = nullptr;
    if (g_MainWindow != nullptr) g_MainWindow->monitorNarrowing()->release(this);
}
