// The engineer's side of the serial link: finding the board's port, opening
// it, checking the firmware, and following the port and the chip as they come
// and go.
#include <QMessageBox>

#include "app/config.h"
#include "app/globals.h"
#include "data/SampleStream.h"
#include "link/Class_ThreadUART.h"
#include "link/PortDiscovery.h"
#include "link/commands.h"
#include "mainwindow/unit_mainwindow.h"
#include "platform/ini.h"
#include "workers/BoardOps.h"

namespace {

const QString kGreen = QStringLiteral(":/NV_EV_Kit/Resources/green_circle.png");
const QString kGrey = QStringLiteral(":/NV_EV_Kit/Resources/grey_circle.png");

}  // namespace

void MainWindow::pushButton_COM_Search_Clecked() {
    const QStringList extra = Split_PortList(
        Ini_GetString(WorkDir_IniFile("config.ini"), QStringLiteral("PORT"), QStringLiteral("EXTRA"), QString()));
    const QStringList ports = Discover_Ports(QString::fromLatin1(kSysClassTty), extra, g_CmdLinePorts);
    comboBox_COM->clear();
    comboBox_COM->addItems(ports);
    const bool open = g_ThreadUART != nullptr && g_ThreadUART->m_Port.load() > 0;
    comboBox_COM->setCurrentIndex(open ? Port_IndexToSelect(ports, g_ThreadUART->portPath()) : 0);
}

void MainWindow::Warn_InvalidPort(const QString& path) {
    QMessageBox::warning(this, QStringLiteral("WARNING"),
                         path + QStringLiteral("\n") + tr("The port number is invalid.     "), QMessageBox::Ok,
                         QMessageBox::Ok);
}

void MainWindow::comboBox_COM_activated(QString strItem) {
    if (strItem.isEmpty()) return;
    if (m_OpeningPort) {
        // The port being opened shares the one serial object with this
        // choice; the newer choice runs once the opening has finished.
        m_PendingPort = strItem;
        return;
    }
    const int remembered = comboBox_COM->currentIndex();
    I2C_Disconnection_Slot();
    UART_Disconnection();
    if (strItem == QLatin1String(kNoPort)) return;

    m_OpeningPort = true;
    const int opened = g_ThreadUART->Open_Port(strItem);
    m_OpeningPort = false;
    if (!m_PendingPort.isEmpty()) {
        const QString next = m_PendingPort;
        m_PendingPort.clear();
        comboBox_COM_activated(next);  // disconnects what we just opened first
        return;
    }
    if (opened != 1) {
        I2C_Disconnection_Slot();
        UART_Disconnection();
        Warn_InvalidPort(strItem);
        return;
    }
    UART_Connection();
    m_PortPath = strItem;
    const int at = comboBox_COM->findText(strItem);
    comboBox_COM->setCurrentIndex(at > 0 ? at : remembered);

    const unsigned cycle = m_ConnectCycle;
    g_FirmwareVer = 0;
    const char result = CMD_Version(&g_FirmwareVer);
    // The port failed, was changed or the window is closing while we waited
    // for the version: that has been dealt with (and reported) already.
    if (cycle != m_ConnectCycle || g_UART_Connected.load() == 0 || Link_ExchangesAborted()) return;
    if (result == '0' && Firmware_Accepted(g_FirmwareVer)) {
        pushButton_TEST->setText(Firmware_Text(g_FirmwareVer));
        CMD_Device(static_cast<uint8_t>(g_DeviceType.load() & 0xFF));
        return;
    }
    QMessageBox::warning(this, QStringLiteral("WARNING"),
                         QStringLiteral("Firmware Version : ") + Firmware_Text(g_FirmwareVer) + QStringLiteral(" \n") +
                             tr("The firmware version is invalid.     "),
                         QMessageBox::Ok, QMessageBox::Ok);
}

void MainWindow::UART_Connection() {
    label_UART_Status->setPixmap(QPixmap(kGreen));
    Reset_Rings();
    ++m_ConnectCycle;
    m_PortErrorShown = false;
    m_Stream->restart();
    g_UART_Connected.store(1, std::memory_order_release);
}

void MainWindow::UART_Disconnection() {
    // First, so that the receive thread starts no further read of the port.
    g_UART_Connected.store(0, std::memory_order_release);
    g_ThreadUART->Close_Port();
    ++m_ConnectCycle;
    comboBox_COM->setCurrentIndex(0);
    label_UART_Status->setPixmap(QPixmap(kGrey));
}

void MainWindow::UART_ERR_slots(int iPort) {
    Q_UNUSED(iPort);  // a handle; the engineer knows the port by its path
    // Queued from the receive thread: by now the engineer may have closed the
    // port or opened another, which owes no warning; and one failure of a
    // connection is reported once, not once per signal.
    const bool stillFailed = g_UART_Connected.load() == 0 && g_ThreadUART->m_Port.load() > 0;
    if (!stillFailed || m_PortErrorShown) return;
    m_PortErrorShown = true;
    const QString path = m_PortPath.isEmpty() ? g_ThreadUART->portPath() : m_PortPath;
    I2C_Disconnection_Slot();
    UART_Disconnection();
    Warn_InvalidPort(path);
}

void MainWindow::I2C_Connection_Slot() {
    // A probe's signal can still be queued when the port has gone meanwhile.
    if (g_UART_Connected.load() == 0) return;
    label_I2C_Status->setPixmap(QPixmap(kGreen));
    groupBox_Key->setEnabled(true);
    frame_reg->setEnabled(true);
    pushButton_Reset->setEnabled(!m_ResetBusy);
    pushButton_Read->setEnabled(!m_ReadBusy);
    pushButton_Sense->setEnabled(true);
    g_I2C_Connected.store(1, std::memory_order_release);
    UpdateTouch_Slot(0);
    pushButton_Read_Clecked();
}

void MainWindow::I2C_Disconnection_Slot() {
    g_I2C_Connected.store(0, std::memory_order_release);
    if (pushButton_Sense->isChecked()) pushButton_Sense->setChecked(false);
    groupBox_Key->setEnabled(false);
    frame_reg->setEnabled(false);
    pushButton_Reset->setEnabled(false);
    pushButton_Read->setEnabled(false);
    pushButton_Sense->setEnabled(false);
    label_I2C_Status->setPixmap(QPixmap(kGrey));
}
