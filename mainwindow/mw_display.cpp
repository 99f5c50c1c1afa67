// Live sensing on the main window: touch lamps, the chip's touch registers,
// the indicators' monitor numbers, the Sense/Stop toggle and the monitoring
// dialog's Dlg button.
#include <QLabel>
#include <QPixmap>
#include <QPushButton>
#include <QSignalBlocker>
#include <algorithm>

#include "app/limits.h"
#include "data/RegisterImage.h"
#include "data/SampleStream.h"
#include "mainwindow/MainWindow.h"
#include "ui_ChannelIndicator.h"
#include "ui_MainWindow.h"
#include "ui_SbfColumn.h"
#include "views/ChannelIndicator.h"
#include "views/MonitoringDialog.h"
#include "views/RegisterCell.h"
#include "views/SignalsWindow.h"
#include "workers/BoardSession.h"
#include "workers/ChipFamily.h"

namespace {
// Touch frames arrive for every key change; decoding a PNG per lamp per frame
// is wasted work. Never destroyed: a QPixmap must not outlive the application
// object, and this outlives every main window.
struct LampImages {
    QPixmap idleMedium{QStringLiteral(":/NV_EV_Kit/Resources/grey_circle_m.png")};
    QPixmap touchedMedium{QStringLiteral(":/NV_EV_Kit/Resources/green_circle_m.png")};
    QPixmap idleLarge{QStringLiteral(":/NV_EV_Kit/Resources/grey_circle_l.png")};
    QPixmap touchedLarge{QStringLiteral(":/NV_EV_Kit/Resources/green_circle_l.png")};
};

const LampImages& Lamps() {
    static const LampImages* lamps = new LampImages;
    return *lamps;
}

// The indicators show the third SBF whatever the chip's SBF count.
constexpr int kIndicatorSbf = 2;

}  // namespace

void MainWindow::showTouchMask(int iTouchKey) {
    if (const ChipFamily* family = ChipFamily_Find(m_Session->family())) {
        const LampImages& lamps = Lamps();
        const QPixmap& touched = family->mediumLamps ? lamps.touchedMedium : lamps.touchedLarge;
        const QPixmap& idle = family->mediumLamps ? lamps.idleMedium : lamps.idleLarge;
        const int channels = std::min(m_Session->channelCount(), kSinSlots);
        for (int i = 0; i < channels; ++i) {
            if (!channelIndicators[i]) continue;
            const bool on = i < 32 && ((static_cast<unsigned>(iTouchKey) >> i) & 1u);
            channelIndicators[i]->ui->label_SIN_ICON->setPixmap(on ? touched : idle);
        }

        for (int r = 0; r < family->touchRegCount; ++r) {
            uint8_t value = static_cast<uint8_t>((iTouchKey >> (8 * r)) & 0xFF);
            if (r == 0) value &= family->touchLowMask;
            m_Session->image().store(family->touchReg[r], value);
            showRegister(family->touchReg[r]);
        }
    }
    if (m_MonitoringDialog && m_MonitoringDialog->isVisible()) m_MonitoringDialog->Update_Touch(iTouchKey);
    m_Stream->publishTouchMask(iTouchKey);
}

void MainWindow::Show_MonitorSample(const MonitorSample& sample) {
    const int c = sample.channel;
    // Live samples only name channels below the channel count; a replayed
    // log may name any, and anything else would index past the indicators.
    if (c < 0 || c >= std::min(m_Session->channelCount(), kMaxChannels)) return;

    if (ChannelIndicator* sin = channelIndicators[c]) {
        sin->ui->label_RIN_CNT->setNum(static_cast<int>(sample.ref[kIndicatorSbf]));
        sin->ui->label_SIN_CNT->setNum(static_cast<int>(sample.sense[kIndicatorSbf]));
        sin->ui->label_DIFF_PER->setNum(static_cast<int>(sample.diff[kIndicatorSbf]));
    }

    if (!m_MonitoringDialog || !m_MonitoringDialog->isVisible()) return;
    uint16_t ref[kMaxSbf] = {};
    uint16_t sen[kMaxSbf] = {};
    int32_t diff[kMaxSbf] = {};
    int32_t offset[kMaxSbf] = {};
    const int n = std::clamp(sample.sbfCount, 0, kMaxSbf);
    for (int s = 0; s < n; ++s) {
        ref[s] = sample.ref[s];
        sen[s] = sample.sense[s];
        diff[s] = sample.diff[s];
        offset[s] = sample.offset[s];
    }
    m_MonitoringDialog->Update_RefCnt(static_cast<uint8_t>(c), ref);
    m_MonitoringDialog->Update_Channel(static_cast<uint8_t>(c), sen, diff, offset);
}

void MainWindow::showSbfStatus() {
    if (!m_MonitoringDialog || !m_MonitoringDialog->isVisible()) return;
    const int channels = std::min(m_Session->channelCount(), kMaxChannels);
    for (int i = 0; i < channels; ++i) m_MonitoringDialog->Update_SbfStatus(static_cast<uint8_t>(i), m_SbfStatus[i]);
}

void MainWindow::onSenseToggled(bool bToggled) {
    // Nothing goes to the board here: the processing thread picks the flag up
    // at its next pass.
    m_Session->setSensing(bToggled);

    const QString colour = bToggled ? QStringLiteral("color: black") : QStringLiteral("color: grey");
    const int channels = std::min(m_Session->channelCount(), kSinSlots);
    for (int i = 0; i < channels; ++i) {
        if (ChannelIndicator* sin = channelIndicators[i]) {
            sin->ui->label_RIN_CNT->setStyleSheet(colour);
            sin->ui->label_SIN_CNT->setStyleSheet(colour);
            sin->ui->label_DIFF_PER->setStyleSheet(colour);
        }
    }
    // Called directly too (a sensitivity run switches sensing on and back):
    // the button must then show the state, or the next click would undo it
    // instead of doing what its text says. Blocked, so this slot runs once.
    if (ui->pushButton_Sense->isChecked() != bToggled) {
        const QSignalBlocker block(ui->pushButton_Sense);
        ui->pushButton_Sense->setChecked(bToggled);
    }
    ui->pushButton_Sense->setText(bToggled ? tr("Stop") : tr("Sense"));
}

void MainWindow::onMonitorDialogClicked() {
    MonitoringDialog* dialog = monitoringDialog();
    if (dialog->isVisible()) return;
    dialog->move(pos().x() + size().width() + 10, pos().y());
    dialog->show();
    dialog->raise();
    dialog->activateWindow();
}

void MainWindow::Show_SignalsWindow() {
    if (!m_Signals) m_Signals = new SignalsWindow(m_Stream, &m_Session->image(), m_Session->config(), this);
    m_Signals->show();
    m_Signals->raise();
    m_Signals->activateWindow();
}
