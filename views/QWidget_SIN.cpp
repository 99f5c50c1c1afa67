#include "views/QWidget_SIN.h"

#include <QPixmap>

#include "app/globals.h"
#include "autosen/QDialog_AutoSen.h"
#include "workers/ChipFamily.h"

namespace {
bool UsesMediumLamps() { return ChipFamily_Rules(g_DeviceType.load()).mediumLamps; }
}  // namespace

QString QWidget_SIN::IdleImagePath() {
    return UsesMediumLamps() ? QStringLiteral(":/NV_EV_Kit/Resources/grey_circle_m.png")
                             : QStringLiteral(":/NV_EV_Kit/Resources/grey_circle_l.png");
}

QString QWidget_SIN::TouchedImagePath() {
    return UsesMediumLamps() ? QStringLiteral(":/NV_EV_Kit/Resources/green_circle_m.png")
                             : QStringLiteral(":/NV_EV_Kit/Resources/green_circle_l.png");
}

QWidget_SIN::QWidget_SIN(QWidget* parent, int channel) : QWidget(parent), m_Channel(channel) {
    setupUi(this);
    label_SIN_TITLE->setText(QString::asprintf("SIN%d", m_Channel + 1));
    label_SIN_ICON->setPixmap(QPixmap(IdleImagePath()));
    connect(pushButton_Sensitivity, &QPushButton::clicked, this, &QWidget_SIN::pushButton_Sensitivity_Clecked);
}

QWidget_SIN::~QWidget_SIN() = default;

void QWidget_SIN::pushButton_Sensitivity_Clecked() {
    // Modeless: the dialog runs on its own timer. A click while another run is
    // active still opens one, which tells the engineer and closes itself.
    m_pDialogAutoSen = new QDialog_AutoSen(this, m_Channel);
    m_pDialogAutoSen->show();
    m_pDialogAutoSen->raise();
    m_pDialogAutoSen->activateWindow();
}
