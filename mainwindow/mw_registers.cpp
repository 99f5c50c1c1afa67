// The register table as a whole: reading every shown register, and resetting
// the chip.
#include <memory>
#include <utility>

#include "app/limits.h"
#include "data/RegisterImage.h"
#include "data/SampleStream.h"
#include "link/BoardLink.h"
#include "link/ExchangeQueue.h"
#include "mainwindow/MainWindow.h"
#include "ui_MainWindow.h"
#include "views/RegisterCell.h"
#include "workers/BoardOps.h"
#include "workers/BoardSession.h"
#include "workers/ChipFamily.h"

// One pass over every shown register: a job per run of registers, each
// showing its registers as it completes, and a last one that ends the pass.
void MainWindow::Read_Table() {
    QVector<int> shown;
    for (int a = 0; a < 256; ++a)
        if (m_RegCells[a] != nullptr) shown.append(a);
    RegisterImage* image = &m_Session->image();
    const uint8_t dev = m_Session->chipAddress();
    auto touchRead = std::make_shared<bool>(false);
    for (const RegisterRun& run : Register_Runs(shown)) {
        m_Session->exchanges().post(
            this,
            [image, dev, run](BoardLink& link) {
                return Register_Read(link, *image, dev, static_cast<uint8_t>(run.first),
                                     static_cast<uint8_t>(run.count))
                    .ok();
            },
            [this, run, touchRead](bool read) {
                if (!read) return;  // the run keeps its old texts
                for (int r = run.first; r < run.first + run.count; ++r) showRegister(r);
                const ChipFamily& family = ChipFamily_Rules(m_Session->family());
                for (int i = 0; i < family.touchRegCount; ++i)
                    *touchRead |= family.touchReg[i] >= run.first && family.touchReg[i] < run.first + run.count;
            });
    }
    m_Session->exchanges().post(
        this, [](BoardLink&) {}, [this, touchRead] { End_TableRead(*touchRead); });
}

void MainWindow::End_TableRead(bool touchRead) {
    // The chip's own touch registers are a second source of touch changes
    // besides the board's touch frames; the stream announces only changes.
    if (touchRead) {
        const ChipFamily& family = ChipFamily_Rules(m_Session->family());
        int mask = m_Session->image().value(family.touchReg[0]) & family.touchLowMask;
        if (family.touchRegCount > 1) mask |= m_Session->image().value(family.touchReg[1]) << 8;
        m_Stream->publishTouchMask(mask);
    }
    if (m_ReadAgain && !m_Session->link().exchangesAborted()) {
        m_ReadAgain = false;
        Read_Table();
        return;
    }
    m_ReadBusy = false;
    // The chip may have gone while we read; the button follows it.
    ui->pushButton_Read->setEnabled(m_Session->chipPresent());
    const QVector<std::function<void()>> after = std::exchange(m_AfterRead, {});
    for (const auto& next : after) next();
}

void MainWindow::Read_TableThen(std::function<void()> next) {
    if (!m_Session->chipPresent()) {
        next();
        return;
    }
    m_AfterRead.append(std::move(next));
    onReadClicked();
}

void MainWindow::onReadClicked() {
    // Asked for again while a read is on its way (the chip found anew, a file
    // loaded, a reset): the running read goes round once more, so the table
    // ends up newer than the request.
    if (m_ReadBusy) {
        m_ReadAgain = true;
        return;
    }
    m_ReadBusy = true;
    m_ReadAgain = false;
    // A comparison speaks of the values before this read.
    Clear_Comparison();
    ui->pushButton_Read->setEnabled(false);
    Read_Table();
}

void MainWindow::onResetClicked() {
    if (m_ResetBusy) return;
    m_ResetBusy = true;
    ui->pushButton_Reset->setEnabled(false);

    const int family = m_Session->family();
    const uint8_t dev = m_Session->chipAddress();
    RegisterImage* image = &m_Session->image();
    // The image, not a fresh read: the register is put back as last seen.
    const uint8_t current = image->value(Chip_ResetRegister(family));
    m_Session->exchanges().post(
        this,
        [family, dev, image, current](BoardLink& link) {
            Chip_Reset(link, dev, family, current, [&link, image, dev](uint8_t reg, uint8_t value) {
                return Register_Write(link, *image, dev, reg, value);
            });
        },
        [this] {
            m_ResetBusy = false;
            ui->pushButton_Reset->setEnabled(m_Session->chipPresent());
            onReadClicked();
        });
}
