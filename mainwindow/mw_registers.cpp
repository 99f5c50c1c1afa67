// The register table as a whole: reading every shown register, and resetting
// the chip.
#include <QPointer>

#include "app/globals.h"
#include "link/commands.h"
#include "mainwindow/unit_mainwindow.h"
#include "platform/timing.h"
#include "views/unit_widget_reg.h"

namespace {

struct ResetPlan {
    uint8_t reg;
    uint8_t bit;
    uint8_t firstLevel;  // board output, then secondLevel after 1 ms
    uint8_t secondLevel;
};

ResetPlan ResetPlanOf(int family) {
    switch (family) {
        case 1:
        case 4:
            return {0x0B, 0x01, 0x00, 0x01};
        case 2:
            // The family resets through bit 7 of 0x06. Its board output pulse
            // is our choice: high then low, as for families 0 and 3, whose
            // boards share the output circuit.
            return {0x06, 0x80, 0x01, 0x00};
        default:
            return {0x0B, 0x01, 0x01, 0x00};
    }
}

}  // namespace

void MainWindow::Read_Table() {
    int a = 0;
    while (a < 256) {
        if (g_RegCells[a] == nullptr) {
            ++a;
            continue;
        }
        const int start = a;
        int len = 0;
        while (a < 256 && g_RegCells[a] != nullptr && len < kMaxRegsPerFrame) {
            ++a;
            ++len;
        }
        const uint8_t dev = static_cast<uint8_t>(g_I2C_Addr.load() & 0xFF);
        const char result = CMD_Read(dev, static_cast<uint8_t>(start), static_cast<uint8_t>(len), &g_RegMirror[start]);
        if (result != '0') continue;  // the run keeps its old texts
        for (int r = start; r < start + len; ++r) {
            if (g_RegCells[r] != nullptr)
                g_RegCells[r]->lineEdit_data->setText(QString::asprintf("%02X", g_RegMirror[r].load()));
        }
    }
}

void MainWindow::pushButton_Read_Clecked() {
    // Asked for again while a read waits for the board (the chip found anew,
    // a file loaded, a reset): the running read goes round once more, so the
    // table ends up newer than the request.
    if (m_ReadBusy) {
        m_ReadAgain = true;
        return;
    }
    m_ReadBusy = true;
    pushButton_Read->setEnabled(false);
    do {
        m_ReadAgain = false;
        Read_Table();
    } while (m_ReadAgain && !Link_ExchangesAborted());
    m_ReadBusy = false;
    // The chip may have gone while we read; the button follows it.
    pushButton_Read->setEnabled(g_I2C_Connected.load() == 1);
}

void MainWindow::pushButton_Reset_Clecked() {
    if (m_ResetBusy) return;
    m_ResetBusy = true;
    pushButton_Reset->setEnabled(false);

    const ResetPlan plan = ResetPlanOf(g_DeviceType.load());
    const uint8_t dev = static_cast<uint8_t>(g_I2C_Addr.load() & 0xFF);
    // The image, not a fresh read: the register is put back as last seen.
    const uint8_t v = g_RegMirror[plan.reg].load();
    const uint8_t set = static_cast<uint8_t>(v | plan.bit);
    CMD_Write(dev, plan.reg, 1, &set);
    Wait_Pump(1);
    CMD_Write(dev, plan.reg, 1, &v);
    CMD_Output(plan.firstLevel);
    Wait_Pump(1);
    CMD_Output(plan.secondLevel);
    pushButton_Read_Clecked();

    m_ResetBusy = false;
    pushButton_Reset->setEnabled(g_I2C_Connected.load() == 1);
}
