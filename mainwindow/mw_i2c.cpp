// The chip's I2C address: taking a typed one into use, searching the usual
// addresses, and re-sending the chip family to the board.
#include <QStatusBar>

#include "app/config.h"
#include "app/limits.h"
#include "data/RegisterImage.h"
#include "link/BoardLink.h"
#include "link/commands.h"
#include "mainwindow/MainWindow.h"
#include "ui_MainWindow.h"
#include "workers/BoardOps.h"
#include "workers/BoardSession.h"

void MainWindow::onSettingOkClicked() {
    // No range check: the whole value is shown and stored, its low byte sent.
    const int addr = Parse_Hex(ui->lineEdit_I2C_ADDR->text());
    m_Session->setI2cAddress(addr);
    const QString text = Hex2(addr);
    if (!Config_WriteKey(m_Session->workDir(), QStringLiteral("I2C"), QStringLiteral("I2C_ADDR"), text))
        ui->statusBar->showMessage(tr("The address could not be saved in config.ini."));
    ui->lineEdit_I2C_ADDR->setText(text);
}

void MainWindow::onSearchI2cClicked() {
    if (m_SearchBusy) return;  // a second search from inside the first's wait
    m_SearchBusy = true;
    const int found = I2C_Search(m_Session->link(), m_Session->image());
    if (found >= 0) {
        m_Session->setI2cAddress(found);
        ui->lineEdit_I2C_ADDR->setText(Hex2(found));
        onSettingOkClicked();
    }
    m_SearchBusy = false;
}

void MainWindow::onTestClicked() { CMD_Device(m_Session->link(), static_cast<uint8_t>(m_Session->family() & 0xFF)); }
