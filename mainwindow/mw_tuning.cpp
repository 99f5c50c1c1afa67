// The main window's side of the tuning procedures: what they need of the
// board, the register table and the log.
#include <QPointer>

#include "app/limits.h"
#include "autosen/SensitivityDialog.h"
#include "data/RegisterImage.h"
#include "link/BoardLink.h"
#include "link/ExchangeQueue.h"
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
    proc->setSession(m_Session);
    proc->setExchanges(&m_Session->exchanges());
    QPointer<MainWindow> self(this);
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
