#include "autosen/SensitivityDialog.h"

#include <QCloseEvent>
#include <QLayout>
#include <QTimer>

#include "ui_SensitivityDialog.h"
#include "ui_SnrDialog.h"

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

constexpr int kStartMs = 1;
constexpr int kCloseMs = 100;         // after the last message of a finished run
constexpr int kReadMessageMs = 5000;  // an abort or refusal stays this long to be read

}  // namespace

SensitivityDialog::SensitivityDialog(SensitivityProcedure* procedure, QWidget* parent)
    : QDialog(parent), m_Proc(procedure) {
    ui = std::make_unique<Ui::SensitivityDialog>();
    ui->setupUi(this);
    m_Proc->setParent(this);
    setWindowTitle(QString::asprintf("SENSITIVITY - SIN%d", m_Proc->channel() + 1));
    ui->label_msg->setWordWrap(true);
    ui->pushButton_OK->setVisible(false);
    ui->pushButton_Cancel->setVisible(true);
    layout()->setSizeConstraint(QLayout::SetMinAndMaxSize);

    connect(m_Proc, &SensitivityProcedure::stateChanged, this, &SensitivityDialog::onStateChanged);
    connect(ui->pushButton_OK, &QPushButton::clicked, this, &SensitivityDialog::onOkClicked);
    connect(ui->pushButton_Cancel, &QPushButton::clicked, m_Proc, &SensitivityProcedure::cancel);
    // Started from the event loop, once whoever opened the window has shown it.
    QTimer::singleShot(kStartMs, m_Proc, &SensitivityProcedure::start);
}

// The procedure, a child, gives the monitoring back if it still holds it.
SensitivityDialog::~SensitivityDialog() = default;

int SensitivityDialog::state() const {
    using S = SensitivityProcedure::State;
    switch (m_Proc->state()) {
        case S::Idle:
        case S::Preparing:
            return STA_PREPARE;
        case S::Sampling:
            return STA_SAMPLE;
        case S::AwaitWrite:
            return STA_AWAIT_WRITE;
        case S::AwaitRetry:
            return STA_AWAIT_RETRY;
        case S::Writing:
            return STA_WRITE_VALUE;
        case S::Finishing:
            return STA_FINISH;
        case S::Aborted:
            return STA_ABORT;
        case S::Done:
        case S::Cancelled:
        case S::Refused:
            return STA_CLOSE_DIALOG;
    }
    return STA_CLOSE_DIALOG;
}

void SensitivityDialog::showMessage(const QString& text, bool alarm) {
    ui->label_msg->setStyleSheet(QLatin1String(alarm ? kStyleRed : kStyleNormal));
    ui->label_msg->setText(text);
}

void SensitivityDialog::onStateChanged(SensitivityProcedure::State s) {
    using S = SensitivityProcedure::State;
    const bool asking = s == S::AwaitWrite || s == S::AwaitRetry;
    const bool cancellable = s == S::Preparing || s == S::Sampling || asking;
    ui->pushButton_OK->setVisible(asking);
    ui->pushButton_Cancel->setVisible(cancellable);
    switch (s) {
        case S::Idle:
        case S::Preparing:
            showMessage(MsgPreparing(), false);
            break;
        case S::Sampling:
            showMessage(MsgHoldTouch(), false);
            break;
        case S::AwaitWrite:
            showMessage(QString::asprintf("SENSITIVITY : 0x%X", m_Proc->proposal()) + MsgAskWrite(), false);
            // A close asked for while the run was busy is a Cancel.
            if (m_CloseRequested) m_Proc->cancel();
            break;
        case S::AwaitRetry:
            showMessage(MsgTooFew(), false);
            if (m_CloseRequested) m_Proc->cancel();
            break;
        case S::Writing:
            showMessage(MsgWriting(), false);
            break;
        case S::Finishing:
            showMessage(MsgFinishing(), false);
            break;
        case S::Done:
        case S::Cancelled:
            closeAfter(kCloseMs);
            break;
        case S::Aborted:
            showMessage(MsgAbort(), true);
            closeAfter(m_CloseRequested ? kStartMs : kReadMessageMs);
            break;
        case S::Refused:
            showMessage(m_Proc->refusingChannel() >= 0 ? MsgRefused(m_Proc->refusingChannel())
                                                       : MsgBusy(m_Proc->refusingName()),
                        true);
            closeAfter(m_CloseRequested ? kStartMs : kReadMessageMs);
            break;
    }
}

void SensitivityDialog::onOkClicked() {
    if (m_Proc->state() == SensitivityProcedure::State::AwaitWrite)
        m_Proc->write();
    else if (m_Proc->state() == SensitivityProcedure::State::AwaitRetry)
        m_Proc->retry();
}

void SensitivityDialog::reject() {
    if (m_Closing) {
        QDialog::reject();
        return;
    }
    requestClose();
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
    if (!m_Closing) requestClose();
    if (m_Closing)
        event->accept();
    else
        event->ignore();  // the procedure restores first, and the window closes after
}

void SensitivityDialog::requestClose() {
    m_CloseRequested = true;
    using S = SensitivityProcedure::State;
    const S s = m_Proc->state();
    if (m_Proc->finished() || (s == S::Idle && !m_Proc->holdsMonitoring())) {
        closeNow();
        return;
    }
    // Sampling or asking: ends now; preparing or writing: once that step is done.
    m_Proc->cancel();
}

void SensitivityDialog::closeAfter(int ms) {
    if (m_Ending) return;
    m_Ending = true;
    QTimer::singleShot(ms, this, &SensitivityDialog::closeNow);
}

void SensitivityDialog::closeNow() {
    if (m_Closing) return;
    m_Closing = true;
    hide();
    deleteLater();
}
