#include "views/ChannelIndicator.h"

#include <QPixmap>

#include "app/globals.h"
#include "ui_ChannelIndicator.h"
#include "ui_SbfColumn.h"
#include "workers/ChipFamily.h"

namespace {
bool UsesMediumLamps() { return ChipFamily_Rules(g_DeviceType.load()).mediumLamps; }
}  // namespace

QString ChannelIndicator::IdleImagePath() {
    return UsesMediumLamps() ? QStringLiteral(":/NV_EV_Kit/Resources/grey_circle_m.png")
                             : QStringLiteral(":/NV_EV_Kit/Resources/grey_circle_l.png");
}

QString ChannelIndicator::TouchedImagePath() {
    return UsesMediumLamps() ? QStringLiteral(":/NV_EV_Kit/Resources/green_circle_m.png")
                             : QStringLiteral(":/NV_EV_Kit/Resources/green_circle_l.png");
}

ChannelIndicator::ChannelIndicator(QWidget* parent, int channel) : QWidget(parent), m_Channel(channel) {
    ui = std::make_unique<Ui::ChannelIndicator>();
    ui->setupUi(this);
    ui->label_SIN_TITLE->setText(QString::asprintf("SIN%d", m_Channel + 1));
    ui->label_SIN_ICON->setPixmap(QPixmap(IdleImagePath()));
    connect(ui->pushButton_Sensitivity, &QPushButton::clicked, this, [this] { emit sensitivityRequested(m_Channel); });
}

ChannelIndicator::~ChannelIndicator() = default;
