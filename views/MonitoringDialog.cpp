#include "views/MonitoringDialog.h"

#include <QCheckBox>
#include <QVBoxLayout>
#include <algorithm>

#include "ui_ChannelIndicator.h"
#include "ui_MonitoringDialog.h"
#include "ui_SbfColumn.h"
#include "ui_SbfPanel.h"
#include "views/SbfColumn.h"
#include "views/SbfPanel.h"
#include "workers/BoardSession.h"

namespace {
const QString kTitleTouched = QStringLiteral("color: rgb(255, 255, 255);\n background-color: rgb(0, 255, 0);");
const QString kTitleIdle = QStringLiteral("color: rgb(255, 255, 255);\n background-color: rgb(0, 85, 0);");
const QString kDiffMarked = QStringLiteral("color: rgb(255, 0, 0);");
const QString kOffsetInvalid = QStringLiteral("color: rgb(255, 0, 0);\n background-color: rgb(0, 0, 0);");
}  // namespace

// Values written while the dialog was visible stay in the cells after it is
// hidden and shown again. They are the last measurements of each channel and
// are overwritten by the next update (every 50 ms while sensing runs);
// blanking them would only lose information when sensing is stopped. The
// touch colours of the titles are stale in the same way; the dialog does not
// know the current mask, so whoever shows it can pass one to Update_Touch.
MonitoringDialog::MonitoringDialog(QWidget* parent, BoardSession* session) : QDialog(parent, Qt::WindowFlags()) {
    ui = std::make_unique<Ui::MonitoringDialog>();
    ui->setupUi(this);

    auto* stack = new QVBoxLayout(ui->frame_count);
    stack->setObjectName(QStringLiteral("VBoxLayout"));
    stack->setSpacing(0);
    stack->setContentsMargins(0, 0, 0, 0);

    m_SbfCount = session ? session->sbfCount() : 0;
    for (int s = 0; s < m_SbfCount; ++s) {
        auto* panel = new SbfPanel(this, s, session);
        widget_SBF[s] = panel;
        panel->ui->label_SBF->setText(QString::asprintf("- SBF %d -", s + 1));
        stack->addWidget(panel);
    }

    adjustSize();
    layout()->setSizeConstraint(QLayout::SetFixedSize);

    connect(ui->pushButton_enable, &QPushButton::clicked, this, &MonitoringDialog::onEnableClicked);
    connect(ui->pushButton_disable, &QPushButton::clicked, this, &MonitoringDialog::onDisableClicked);
}

MonitoringDialog::~MonitoringDialog() = default;

SbfColumn* MonitoringDialog::column(int s, int c) const {
    if (s < 0 || s >= m_SbfCount || !widget_SBF[s]) return nullptr;
    return widget_SBF[s]->column(c);
}

void MonitoringDialog::onEnableClicked() { SetAllChecked(true); }

void MonitoringDialog::onDisableClicked() { SetAllChecked(false); }

void MonitoringDialog::SetAllChecked(bool checked) {
    if (m_SbfCount == 0 || !widget_SBF[0]) return;
    // Each box that changes state updates its own mask bit through its slot;
    // boxes already in the requested state leave the mask alone.
    const SbfPanel* first = widget_SBF[0];
    for (int c = 0; c < first->channelCount(); ++c) {
        SbfColumn* col = first->column(c);
        if (col && col->CheckBox_MON_En) col->CheckBox_MON_En->setChecked(checked);
    }
}

void MonitoringDialog::Update_RefCnt(uint8_t ch, const uint16_t* ref) {
    if (!ref) return;
    for (int s = 0; s < m_SbfCount; ++s) {
        if (SbfColumn* col = column(s, ch)) col->ui->label_RIN_CNT->setNum(ref[s]);
    }
}

void MonitoringDialog::Update_Channel(uint8_t ch, const uint16_t* sen, const int32_t* diff, const int32_t* offset) {
    if (!sen || !diff || !offset) return;
    // A channel without a column must not move the red mark either: the next
    // valid update would then fail to clear the real one.
    if (!column(0, ch)) return;
    for (int s = 0; s < m_SbfCount; ++s) {
        if (SbfColumn* marked = column(s, m_LastMarked)) marked->ui->label_DIFF_PER->setStyleSheet(QString());
        SbfColumn* col = column(s, ch);
        if (!col) continue;
        col->ui->label_SIN_CNT->setNum(sen[s]);
        col->ui->label_DIFF_PER->setNum(static_cast<int>(diff[s]));
        col->ui->label_OFFSET_PER->setNum(static_cast<int>(offset[s]));
        col->ui->label_DIFF_PER->setStyleSheet(kDiffMarked);
    }
    m_LastMarked = ch;
}

void MonitoringDialog::Update_Touch(int mask) {
    const int channels = m_SbfCount > 0 && widget_SBF[0] ? widget_SBF[0]->channelCount() : 0;
    for (int c = 0; c < channels; ++c) {
        const bool touched = (static_cast<unsigned>(mask) >> c) & 1u;
        for (int s = 0; s < m_SbfCount; ++s) {
            if (SbfColumn* col = column(s, c))
                col->ui->label_SIN_TITLE->setStyleSheet(touched ? kTitleTouched : kTitleIdle);
        }
    }
}

void MonitoringDialog::Update_SbfStatus(uint8_t ch, uint8_t status) {
    for (int s = 0; s < m_SbfCount; ++s) {
        SbfColumn* col = column(s, ch);
        if (!col) continue;
        const bool valid = (status >> s) & 1u;
        col->ui->label_OFFSET_PER->setStyleSheet(valid ? QString() : kOffsetInvalid);
    }
}
