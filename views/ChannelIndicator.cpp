#include "views/ChannelIndicator.h"

#include <QPixmap>

#include "app/limits.h"
#include "ui_ChannelIndicator.h"
#include "ui_SbfColumn.h"
#include "workers/ChipFamily.h"

namespace {
bool UsesMediumLamps(int family) { return ChipFamily_Rules(family).mediumLamps; }
}  // namespace

QString ChannelIndicator::IdleImagePath(int family) {
    return UsesMediumLamps(family) ? QStringLiteral(":/NV_EV_Kit/Resources/grey_circle_m.png")
                                   : QStringLiteral(":/NV_EV_Kit/Resources/grey_circle_l.png");
}

QString ChannelIndicator::TouchedImagePath(int family) {
    return UsesMediumLamps(family) ? QStringLiteral(":/NV_EV_Kit/Resources/green_circle_m.png")
                                   : QStringLiteral(":/NV_EV_Kit/Resources/green_circle_l.png");
}

ChannelIndicator::ChannelIndicator(QWidget* parent, int channel, int family) : QWidget(parent), m_Channel(channel) {
    ui = std::make_unique<Ui::ChannelIndicator>();
    ui->setupUi(this);
    ui->label_SIN_TITLE->setText(QString::asprintf("SIN%d", m_Channel + 1));
    ui->label_SIN_ICON->setPixmap(QPixmap(IdleImagePath(family)));
    connect(ui->pushButton_Sensitivity, &QPushButton::clicked, this, [this] { emit sensitivityRequested(m_Channel); });
}

ChannelIndicator::~ChannelIndicator() = default;
