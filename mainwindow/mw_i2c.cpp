// The chip's I2C address: taking a typed one into use, searching the usual
// addresses, and re-sending the chip family to the board.
#include <QStatusBar>

#include "app/config.h"
#include "app/limits.h"
#include "data/RegisterImage.h"
#include "link/BoardLink.h"
#include "link/ExchangeQueue.h"
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
    if (m_SearchBusy) return;  // one search at a time; its answer is the one shown
    m_SearchBusy = true;
    RegisterImage* image = &m_Session->image();
    m_Session->exchanges().post(
        this, [image](BoardLink& link) { return I2C_Search(link, *image); },
        [this](int found) {
            m_SearchBusy = false;
            if (found < 0) return;
            m_Session->setI2cAddress(found);
            ui->lineEdit_I2C_ADDR->setText(Hex2(found));
            onSettingOkClicked();
        });
}

void MainWindow::onTestClicked() {
    const auto family = static_cast<uint8_t>(m_Session->family() & 0xFF);
    m_Session->exchanges().post(
        this, [family](BoardLink& link) { CMD_Device(link, family); }, [] {});
}
