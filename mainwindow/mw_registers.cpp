// The register table as a whole: reading every shown register, and resetting
// the chip.
#include <QPointer>

#include "app/limits.h"
#include "data/RegisterImage.h"
#include "data/SampleStream.h"
#include "link/BoardLink.h"
#include "link/commands.h"
#include "mainwindow/MainWindow.h"
#include "ui_MainWindow.h"
#include "views/RegisterCell.h"
#include "workers/BoardOps.h"
#include "workers/BoardSession.h"
#include "workers/ChipFamily.h"

void MainWindow::Read_Table() {
    const ChipFamily& family = ChipFamily_Rules(m_Session->family());
    bool touchRead = false;
    QVector<int> shown;
    for (int a = 0; a < 256; ++a)
        if (m_RegCells[a] != nullptr) shown.append(a);
    for (const RegisterRun& run : Register_Runs(shown)) {
        const uint8_t dev = m_Session->chipAddress();
        const char result = Register_Read(m_Session->link(), m_Session->image(), dev, static_cast<uint8_t>(run.first),
                                          static_cast<uint8_t>(run.count));
        if (result != '0') continue;  // the run keeps its old texts
        for (int r = run.first; r < run.first + run.count; ++r) showRegister(r);
        for (int i = 0; i < family.touchRegCount; ++i)
            touchRead |= family.touchReg[i] >= run.first && family.touchReg[i] < run.first + run.count;
    }
    // The chip's own touch registers are a second source of touch changes
    // besides the board's touch frames; the stream announces only changes.
    if (touchRead) {
        int mask = m_Session->image().value(family.touchReg[0]) & family.touchLowMask;
        if (family.touchRegCount > 1) mask |= m_Session->image().value(family.touchReg[1]) << 8;
        m_Stream->publishTouchMask(mask);
    }
}

void MainWindow::onReadClicked() {
    // Asked for again while a read waits for the board (the chip found anew,
    // a file loaded, a reset): the running read goes round once more, so the
    // table ends up newer than the request.
    if (m_ReadBusy) {
        m_ReadAgain = true;
        return;
    }
    m_ReadBusy = true;
    // A comparison speaks of the values before this read.
    Clear_Comparison();
    ui->pushButton_Read->setEnabled(false);
    do {
        m_ReadAgain = false;
        Read_Table();
    } while (m_ReadAgain && !m_Session->link().exchangesAborted());
    m_ReadBusy = false;
    // The chip may have gone while we read; the button follows it.
    ui->pushButton_Read->setEnabled(m_Session->chipPresent());
}

void MainWindow::onResetClicked() {
    if (m_ResetBusy) return;
    m_ResetBusy = true;
    ui->pushButton_Reset->setEnabled(false);

    const int family = m_Session->family();
    const uint8_t dev = m_Session->chipAddress();
    // The image, not a fresh read: the register is put back as last seen.
    Chip_Reset(m_Session->link(), dev, family, m_Session->image().value(Chip_ResetRegister(family)),
               [this, dev](uint8_t reg, uint8_t value) { return Write_Register(dev, reg, value); });
    onReadClicked();

    m_ResetBusy = false;
    ui->pushButton_Reset->setEnabled(m_Session->chipPresent());
}
