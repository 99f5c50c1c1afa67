#include "views/SbfColumn.h"

#include <QCheckBox>
#include <QGridLayout>

#include "app/limits.h"
#include "ui_MonitoringDialog.h"
#include "ui_SbfColumn.h"
#include "workers/BoardSession.h"

SbfColumn::SbfColumn(QWidget* parent, int channel, int panel, BoardSession* session)
    : QWidget(parent, Qt::WindowFlags()), m_Session(session), m_Channel(channel), m_Panel(panel) {
    ui = std::make_unique<Ui::SbfColumn>();
    ui->setupUi(this);
    if (m_Panel != 0) return;

    auto* grid = new QGridLayout(ui->frame_checkbox);
    grid->setSpacing(0);
    grid->setContentsMargins(0, 1, 0, 10);
    grid->setObjectName(QStringLiteral("GridLayout_CheckBox"));

    CheckBox_MON_En = new QCheckBox(this);
    // The box shows the mask as it stands when the dialog is built (every
    // channel at start); it changes the mask only when the engineer clicks.
    CheckBox_MON_En->setChecked(m_Session && (m_Session->monitoredChannels() & ChannelBit()) != 0);
    CheckBox_MON_En->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    grid->addWidget(CheckBox_MON_En, 0, 0);
    connect(CheckBox_MON_En, &QCheckBox::toggled, this, &SbfColumn::onMonitorEnableToggled);
}

SbfColumn::~SbfColumn() = default;

uint16_t SbfColumn::ChannelBit() const {
    if (m_Channel < 0 || m_Channel >= kMaxChannels) return 0;
    return static_cast<uint16_t>(1u << m_Channel);
}

void SbfColumn::onMonitorEnableToggled(bool checked) {
    // One atomic step: the processing thread reads the mask on every pass
    // and must never see another channel's bit flicker.
    if (m_Session && ChannelBit() != 0) m_Session->setChannelMonitored(m_Channel, checked);
}
