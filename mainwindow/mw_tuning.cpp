// The main window's side of the tuning procedures: what they need of the
// board, the register table and the log.
#include <QPointer>

#include "app/limits.h"
#include "autosen/SensitivityDialog.h"
#include "data/RegisterImage.h"
#include "link/BoardLink.h"
#include "link/commands.h"
#include "mainwindow/MainWindow.h"
#include "tuning/SensitivityProcedure.h"
#include "ui_MainWindow.h"
#include "views/ChannelIndicator.h"
#include "views/RegisterCell.h"
#include "workers/BoardOps.h"
#include "workers/BoardSession.h"

void MainWindow::openSensitivityDialog(int channel) {
    if (channel < 0 || channel >= kSinSlots || channelIndicators[channel] == nullptr) return;
    auto* proc = new SensitivityProcedure(m_Stream, m_Narrowing, m_Session->family(), channel);
    proc->setMargin(m_Session->margin());
    QPointer<MainWindow> self(this);
    proc->setRegisterAccess(
        [self](uint8_t reg) {
            return self ? Register_ReadValue(self->m_Session->link(), self->m_Session->image(),
                                             self->m_Session->chipAddress(), reg)
                        : -1;
        },
        // Through the window's write hook, so that the log records the run's writes.
        [self](uint8_t reg, uint8_t value) {
            return self && self->Write_Register(self->m_Session->chipAddress(), reg, value) == '0';
        });
    proc->setSenseSwitch([self](bool on) {
        // Without the window its board is gone too.
        if (self) self->onSenseToggled(on);
    });
    connect(proc, &SensitivityProcedure::registerReadBack, this, &MainWindow::showRegister);

    auto* dialog = new SensitivityDialog(proc, channelIndicators[channel]);
    dialog->show();
    dialog->raise();
    dialog->activateWindow();
}
