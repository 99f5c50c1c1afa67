// The engineer's side of the serial link: finding the board's port, opening
// it, checking the firmware, and following the port and the chip as they come
// and go.
#include <QAbstractItemView>
#include <QFileInfo>
#include <QMessageBox>
#include <QTimer>
#include <cerrno>

#include "app/config.h"
#include "app/limits.h"
#include "app/log.h"
#include "data/SampleStream.h"
#include "link/BoardLink.h"
#include "link/ExchangeQueue.h"
#include "link/PortDiscovery.h"
#include "link/PortFailure.h"
#include "link/PortWatcher.h"
#include "link/ReceiveThread.h"
#include "link/commands.h"
#include "mainwindow/MainWindow.h"
#include "platform/ini.h"
#include "ui_MainWindow.h"
#include "workers/BoardOps.h"
#include "workers/BoardSession.h"

namespace {

const QString kGreen = QStringLiteral(":/NV_EV_Kit/Resources/green_circle.png");
const QString kGrey = QStringLiteral(":/NV_EV_Kit/Resources/grey_circle.png");

// How often a lost board is looked for between hot-plug events (a board on a
// path udev does not report, such as a link to a pseudo-terminal).
constexpr int kReconnectLookMs = 500;

}  // namespace

QStringList MainWindow::Discover_PortList(FILE* trace) const {
    const QStringList extra = Split_PortList(
        Ini_GetString(m_Session->workFile("config.ini"), QStringLiteral("PORT"), QStringLiteral("EXTRA"), QString()));
    return Discover_Ports(m_SysfsRoot, extra, m_CmdLinePorts, trace);
}

void MainWindow::onPortSearchClicked() {
    const QStringList ports = Discover_PortList(stdout);
    ui->comboBox_COM->clear();
    ui->comboBox_COM->addItems(ports);
    const bool open = m_Session->link().receiver()->m_Port.load() > 0;
    ui->comboBox_COM->setCurrentIndex(open ? Port_IndexToSelect(ports, m_Session->link().receiver()->portPath()) : 0);
}

void MainWindow::Refresh_PortList() {
    // An open popup would have its items pulled from under the engineer's
    // pointer; the next change or the COM button brings the list up to date.
    if (ui->comboBox_COM->view() != nullptr && ui->comboBox_COM->view()->isVisible()) return;
    const QStringList ports = Discover_PortList(nullptr);
    const QString current = ui->comboBox_COM->currentText();
    if (ports != Current_PortList()) {
        ui->comboBox_COM->clear();
        ui->comboBox_COM->addItems(ports);
    }
    const bool open = m_Session->link().receiver()->m_Port.load() > 0;
    const int at = open ? Port_IndexToSelect(ports, m_Session->link().receiver()->portPath()) : ports.indexOf(current);
    ui->comboBox_COM->setCurrentIndex(at > 0 ? at : 0);
    Try_Reconnect();
}

QStringList MainWindow::Current_PortList() const {
    QStringList items;
    for (int i = 0; i < ui->comboBox_COM->count(); ++i) items << ui->comboBox_COM->itemText(i);
    return items;
}

void MainWindow::Use_PortSource(const QString& sysfsRoot, PortWatcher* watcher) {
    m_SysfsRoot = sysfsRoot;
    if (watcher != nullptr && watcher != m_PortWatcher) {
        delete m_PortWatcher;
        m_PortWatcher = watcher;
        watcher->setParent(this);
        connect(watcher, &PortWatcher::portsChanged, this, &MainWindow::Refresh_PortList);
    }
}

void MainWindow::Warn_InvalidPort(const QString& path, const QString& reason) {
    if (!reason.isEmpty()) {
        const QByteArray record = (path + QStringLiteral(": ") + reason).toLocal8Bit();
        Log_Write(m_Session->workDir(), "PORT", record.constData(), __FILE__, __LINE__, 1);
    }
    QMessageBox box(QMessageBox::Warning, QStringLiteral("WARNING"),
                    path + QStringLiteral("\n") + tr("The port number is invalid.     "), QMessageBox::Ok, this);
    box.setDefaultButton(QMessageBox::Ok);
    box.setInformativeText(reason);
    box.exec();
}

void MainWindow::onPortActivated(QString strItem) {
    if (strItem.isEmpty()) return;
    // The engineer's own choice, NONE included, ends a wait for a lost board.
    End_ReconnectWait();
    Connect_Port(strItem, false);
}

void MainWindow::Connect_Port(const QString& strItem, bool quiet, const std::function<void(bool)>& then) {
    if (m_OpeningPort) {
        // The port being opened shares the one serial object with this
        // choice; the newer choice runs once the opening has finished.
        m_PendingPort = strItem;
        if (then) then(false);
        return;
    }
    const int remembered = ui->comboBox_COM->currentIndex();
    onChipLost();
    UART_Disconnection();
    if (strItem == QLatin1String(kNoPort)) {
        if (then) then(false);
        return;
    }
    // A board and a replay never feed the stream together.
    Stop_Replay();

    // The bridge settles before the first command; the window goes on
    // meanwhile, and a close or another choice in that time wins.
    const int ticket = m_Session->link().receiver()->Begin_Open(strItem);
    if (ticket == 0) {
        Finish_Connect(strItem, quiet, remembered, 0, then);
        return;
    }
    m_OpeningPort = true;
    QTimer::singleShot(ReceiveThread::kSettleMs, this, [this, strItem, quiet, remembered, ticket, then] {
        Finish_Connect(strItem, quiet, remembered, ticket, then);
    });
}

void MainWindow::Finish_Connect(const QString& strItem, bool quiet, int remembered, int ticket,
                                const std::function<void(bool)>& then) {
    const bool settled = m_OpeningPort;
    m_OpeningPort = false;
    if (!m_PendingPort.isEmpty()) {
        const QString next = m_PendingPort;
        m_PendingPort.clear();
        if (then) then(false);
        onPortActivated(next);  // disconnects what we just opened first
        return;
    }
    // The window closed while the port settled.
    if (settled && m_Session->link().exchangesAborted()) return;
    const int opened = ticket != 0 ? m_Session->link().receiver()->Finish_Open(ticket, strItem) : 0;
    if (opened != 1) {
        const int err = m_Session->link().receiver()->Open_Error();
        onChipLost();
        UART_Disconnection();
        // A board coming back may not be ready (or allowed) yet: the wait
        // for it simply tries again.
        if (!quiet) Warn_InvalidPort(strItem, Port_FailureReason(err, strItem));
        if (then) then(false);
        return;
    }
    UART_Connection();
    m_PortPath = strItem;
    m_PortSerial = Port_UsbSerial(m_SysfsRoot, strItem);
    const int at = ui->comboBox_COM->findText(strItem);
    ui->comboBox_COM->setCurrentIndex(at > 0 ? at : remembered);

    const unsigned cycle = m_ConnectCycle;
    const auto family = static_cast<uint8_t>(m_Session->family() & 0xFF);
    // The firmware version, and the chip family for a version we support.
    m_Session->exchanges().post(
        this, [family](BoardLink& link) { return Board_Identify(link, family, false); },
        [this, cycle](const BoardIdentity& id) { End_Connect(cycle, id); });
    if (then) then(true);
}

void MainWindow::End_Connect(unsigned cycle, const BoardIdentity& id) {
    // The port failed, was changed or the window is closing while we waited
    // for the version: that has been dealt with (and reported) already.
    if (cycle != m_ConnectCycle || !m_Session->link().isLive() || m_Session->link().exchangesAborted()) return;
    m_Session->setFirmware(id.firmware);
    if (id.accepted) {
        ui->pushButton_TEST->setText(Firmware_Text(id.firmware));
        return;
    }
    QMessageBox::warning(this, QStringLiteral("WARNING"),
                         QStringLiteral("Firmware Version : ") + Firmware_Text(id.firmware) + QStringLiteral(" \n") +
                             tr("The firmware version is invalid.     "),
                         QMessageBox::Ok, QMessageBox::Ok);
}

void MainWindow::onReconnectToggled(bool on) {
    m_Reconnect = on;
    Config_WriteKey(m_Session->workDir(), QStringLiteral("PORT"), QStringLiteral("RECONNECT"),
                    on ? QStringLiteral("1") : QStringLiteral("0"));
    if (!on && !m_LostPath.isEmpty()) {
        End_ReconnectWait();
        ui->statusBar->clearMessage();
    }
}

void MainWindow::Begin_ReconnectWait(const QString& path, const QString& serial) {
    m_LostPath = path;
    m_LostSerial = serial;
    ui->statusBar->showMessage(tr("Board on %1 lost; waiting for it to come back").arg(path));
    if (m_ReconnectTimer == nullptr) {
        m_ReconnectTimer = new QTimer(this);
        m_ReconnectTimer->setInterval(kReconnectLookMs);
        connect(m_ReconnectTimer, &QTimer::timeout, this, &MainWindow::Try_Reconnect);
    }
    m_ReconnectTimer->start();
}

void MainWindow::End_ReconnectWait() {
    if (m_LostPath.isEmpty()) return;
    m_LostPath.clear();
    m_LostSerial.clear();
    m_ResumeSense = false;
    if (m_ReconnectTimer != nullptr) m_ReconnectTimer->stop();
}

void MainWindow::Try_Reconnect() {
    // Not in the middle of a connect: the next look comes soon enough.
    if (m_LostPath.isEmpty() || m_Reconnecting || m_OpeningPort) return;
    QString found = Port_FindBySerial(m_SysfsRoot, m_LostSerial);
    if (found.isEmpty() && QFileInfo::exists(m_LostPath)) found = m_LostPath;
    if (found.isEmpty()) return;

    const QString lost = m_LostPath;
    m_Reconnecting = true;
    onPortSearchClicked();  // the board's port may be new to the list
    Connect_Port(found, true, [this, lost, found](bool opened) {
        m_Reconnecting = false;
        // The engineer chose a port meanwhile, or the board went again at once.
        if (m_LostPath != lost || !opened || !m_Session->link().isLive()) return;
        const bool resume = m_ResumeSense;
        End_ReconnectWait();
        m_ResumeSense = resume;  // Sense comes back once the chip answers again
        ui->statusBar->showMessage(tr("Board on %1 back").arg(found));
    });
}

void MainWindow::UART_Connection() {
    ui->label_UART_Status->setPixmap(QPixmap(kGreen));
    ++m_ConnectCycle;
    m_PortErrorShown = false;
    m_Session->portOpened();
}

void MainWindow::UART_Disconnection() {
    m_Session->closePort();
    ++m_ConnectCycle;
    ui->comboBox_COM->setCurrentIndex(0);
    ui->label_UART_Status->setPixmap(QPixmap(kGrey));
}

void MainWindow::onLineFailed(int iPort) {
    Q_UNUSED(iPort);  // a handle; the engineer knows the port by its path
    // Queued from the receive thread: by now the engineer may have closed the
    // port or opened another, which owes no warning; and one failure of a
    // connection is reported once, not once per signal.
    const bool stillFailed = !m_Session->link().isLive() && m_Session->link().receiver()->m_Port.load() > 0;
    if (!stillFailed || m_PortErrorShown) return;
    m_PortErrorShown = true;
    const QString path = m_PortPath.isEmpty() ? m_Session->link().receiver()->portPath() : m_PortPath;
    if (m_Reconnect) {
        // What the engineer had running comes back with the board.
        const bool sensing = ui->pushButton_Sense->isChecked();
        m_ResumeMask = m_Session->monitoredChannels();
        onChipLost();
        UART_Disconnection();
        Log_Write(m_Session->workDir(), "PORT",
                  (path + QStringLiteral(": lost; waiting for it")).toLocal8Bit().constData(), __FILE__, __LINE__, 1);
        Begin_ReconnectWait(path, m_PortSerial);
        m_ResumeSense = sensing;
        return;
    }
    onChipLost();
    UART_Disconnection();
    Warn_InvalidPort(path, Port_FailureReason(EIO, path));
}

void MainWindow::onChipFound() {
    // The session has already passed over a probe's verdict that came after
    // the port had gone.
    ui->label_I2C_Status->setPixmap(QPixmap(kGreen));
    ui->groupBox_Key->setEnabled(true);
    ui->frame_reg->setEnabled(true);
    ui->pushButton_Reset->setEnabled(!m_ResetBusy);
    ui->pushButton_Read->setEnabled(!m_ReadBusy);
    ui->pushButton_Sense->setEnabled(true);
    showTouchMask(0);
    onReadClicked();
    if (m_ResumeSense && m_LostPath.isEmpty() && m_Session->chipPresent()) {
        m_ResumeSense = false;
        m_Session->setMonitoredChannels(m_ResumeMask);
        ui->pushButton_Sense->setChecked(true);
    }
}

void MainWindow::onChipLost() {
    m_Session->setChipPresent(false);
    if (ui->pushButton_Sense->isChecked()) ui->pushButton_Sense->setChecked(false);
    ui->groupBox_Key->setEnabled(false);
    ui->frame_reg->setEnabled(false);
    ui->pushButton_Reset->setEnabled(false);
    ui->pushButton_Read->setEnabled(false);
    ui->pushButton_Sense->setEnabled(false);
    ui->label_I2C_Status->setPixmap(QPixmap(kGrey));
}
