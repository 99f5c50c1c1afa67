#include "mainwindow/MainWindow.h"

#include <QCloseEvent>
#include <QDir>
#include <QFile>
#include <QGridLayout>
#include <QKeyEvent>
#include <QLayout>
#include <QStatusBar>
#include <QTimer>

#include "app/config.h"
#include "app/hintfile.h"
#include "app/limits.h"
#include "app/log.h"
#include "data/LogRecorder.h"
#include "data/RegisterImage.h"
#include "data/SampleStream.h"
#include "link/BoardLink.h"
#include "link/PortDiscovery.h"
#include "link/PortWatcher.h"
#include "link/ReceiveThread.h"
#include "link/commands.h"
#include "mainwindow/startup.h"
#include "tuning/MonitorNarrowing.h"
#include "ui_ChannelIndicator.h"
#include "ui_MainWindow.h"
#include "ui_RegisterCell.h"
#include "ui_SbfColumn.h"
#include "ui_SnrDialog.h"
#include "views/ChannelIndicator.h"
#include "views/MonitoringDialog.h"
#include "views/ProductionWindow.h"
#include "views/RegisterCell.h"
#include "views/SignalsWindow.h"
#include "views/SnrDialog.h"
#include "workers/BoardOps.h"
#include "workers/BoardSession.h"
#include "workers/ChipPollThread.h"
#include "workers/MonitorThread.h"

namespace {

constexpr int kRegGridMaxColumns = 8;

}  // namespace

MainWindow::MainWindow(QWidget* parent, Qt::WindowFlags flags) : QMainWindow(parent, flags) {
    // The form loads its icon and lamps from the embedded images.
    Startup_InitResources();
    ui = std::make_unique<Ui::MainWindow>();
    ui->setupUi(this);

    ui->lineEdit_I2C_ADDR->installEventFilter(this);
    // The board: its link, register image and state. Before the cells and
    // the threads that use it; the destructor deletes it after the threads.
    m_Session = new BoardSession(this);

    // The working directory is where the tool was started: Log.txt, the INI
    // files and hint.txt are there.
    const QString workDir = QDir::currentPath();
    Log_Write(workDir, "START", "========================================", __FILE__, __LINE__, 0);

    QStringList messages;
    m_Session->setConfig(Config_Read(workDir, &messages));
    m_Title = Window_Title(m_Session->device());
    setWindowTitle(m_Title);
    ui->lineEdit_I2C_ADDR->setText(Hex2(m_Session->i2cAddress()));

    Build_ChannelIndicators();

    // Only the marker's presence counts; its content is never read.
    if (!QFile::exists(m_Session->workFile("DEBUG.txt"))) {
        ui->tabWidget->removeTab(1);
        ui->pushButton_TEST->hide();
    }

    Build_RegisterCells();

    // The window keeps the size its content asks for; it is laid out for a
    // fixed set of channels and registers, not for stretching.
    adjustSize();
    layout()->setSizeConstraint(QLayout::SetFixedSize);

    // Every channel takes part in monitoring until the engineer says
    // otherwise in the monitoring dialog (which has no boxes without an SBF).
    if (m_Session->sbfCount() > 0)
        m_Session->setMonitoredChannels(
            static_cast<uint16_t>(m_Session->monitoredChannels() | ((1u << m_Session->channelCount()) - 1u)));
    Start_Workers(workDir);
    Connect_Controls();
    Init_Ports(workDir);

    m_ConfigMessage = messages.join(QStringLiteral("; "));
    if (!m_ConfigMessage.isEmpty())
        // The form's member, not QMainWindow::statusBar(), which shares the name.
        ui->statusBar->showMessage(m_ConfigMessage);
}

void MainWindow::Build_ChannelIndicators() {
    auto* sinGrid = new QGridLayout(ui->frame_SIN);
    sinGrid->setVerticalSpacing(0);
    sinGrid->setHorizontalSpacing(0);
    sinGrid->setContentsMargins(0, 3, 0, 3);
    sinGrid->setObjectName(QStringLiteral("QGridLayout_SIN"));
    const int channels = qMin(m_Session->channelCount(), kSinSlots - 1);
    for (int i = 0; i < channels; ++i) {
        channelIndicators[i] = new ChannelIndicator(this, i, m_Session->family());
        channelIndicators[i]->ui->label_SIN_TITLE->setText(QString::asprintf("SIN %d", i + 1));
        connect(channelIndicators[i], &ChannelIndicator::sensitivityRequested, this,
                &MainWindow::openSensitivityDialog);
        sinGrid->addWidget(channelIndicators[i], 0, i);
    }
}

// The sample stream and the threads that talk to the board, and how their
// results reach the window.
void MainWindow::Start_Workers(const QString& workDir) {
    m_Stream = m_Session->stream();
    m_Narrowing = new MonitorNarrowing(m_Session, this);
    m_Stream->setHistorySeconds(Config_ReadHistorySeconds(workDir, SampleHistory::kDefaultSeconds));

    connect(m_Session, &BoardSession::trafficReceived, this, &MainWindow::showTraffic);
    connect(m_Session, &BoardSession::touchMaskReceived, this, &MainWindow::showTouchMask);
    connect(m_Session, &BoardSession::sbfStatusReceived, this, &MainWindow::takeSbfStatus);
    connect(m_Session, &BoardSession::lineFailed, this, &MainWindow::onLineFailed);
    connect(m_Session, &BoardSession::chipFound, this, &MainWindow::onChipFound);
    connect(m_Session, &BoardSession::chipLost, this, &MainWindow::onChipLost);
    connect(m_Stream, &SampleStream::sampleAdded, this, &MainWindow::Show_MonitorSample);
    m_Session->startWorkers();
}

void MainWindow::Connect_Controls() {
    connect(ui->pushButton_TEST, &QPushButton::clicked, this, &MainWindow::onTestClicked);
    connect(ui->comboBox_COM, &QComboBox::textActivated, this, &MainWindow::onPortActivated);
    connect(ui->pushButton_COM_Search, &QPushButton::clicked, this, &MainWindow::onPortSearchClicked);
    connect(ui->pushButton_Setting_OK, &QPushButton::clicked, this, &MainWindow::onSettingOkClicked);
    connect(ui->pushButton_Setting_SearchI2C, &QPushButton::clicked, this, &MainWindow::onSearchI2cClicked);
    connect(ui->pushButton_Reset, &QPushButton::clicked, this, &MainWindow::onResetClicked);
    connect(ui->pushButton_Read, &QPushButton::clicked, this, &MainWindow::onReadClicked);
    connect(ui->pushButton_Sense, &QPushButton::toggled, this, &MainWindow::onSenseToggled);
    connect(ui->pushButton_Load, &QPushButton::clicked, this, &MainWindow::onLoadClicked);
    connect(ui->pushButton_Save, &QPushButton::clicked, this, &MainWindow::onSaveClicked);
    connect(ui->pushButton_Dlg, &QPushButton::clicked, this, &MainWindow::onMonitorDialogClicked);
    connect(ui->actionSnr, &QAction::triggered, this, &MainWindow::onSnrTriggered);
    Init_Logging();
    Init_Handoff();
    connect(ui->actionSignals, &QAction::triggered, this, &MainWindow::Show_SignalsWindow);
    connect(ui->actionProductionTest, &QAction::triggered, this, [this] {
        auto* w = findChild<ProductionWindow*>();
        if (!w) {
            w = new ProductionWindow(m_Stream, m_Session, this);
            w->setPortSource([this] { return m_PortPath; });
            w->setSenseSwitch([this](bool on) { onSenseToggled(on); });
        }
        w->show();
        w->raise();
        w->activateWindow();
    });
}

// The port list, its watcher and reconnection, and the window's start as
// "no port".
void MainWindow::Init_Ports(const QString& workDir) {
    m_SysfsRoot = QString::fromLatin1(kSysClassTty);
    m_PortWatcher = new PortWatcher(this);
    connect(m_PortWatcher, &PortWatcher::portsChanged, this, &MainWindow::Refresh_PortList);
    m_Reconnect = Config_ReadReconnect(workDir);
    ui->actionReconnect->setChecked(m_Reconnect);
    connect(ui->actionReconnect, &QAction::toggled, this, &MainWindow::onReconnectToggled);

    onPortSearchClicked();
    onChipLost();
    m_Session->link().setLive(false);
    m_Session->link().receiver()->Close_Port();
    ui->comboBox_COM->setCurrentIndex(0);
    ui->label_UART_Status->setPixmap(QPixmap(QStringLiteral(":/NV_EV_Kit/Resources/grey_circle.png")));
}

void MainWindow::Show_StartNote(const QString& note) {
    if (note.isEmpty()) return;
    Log_Write(m_Session->workDir(), "WORKDIR", note.toLocal8Bit().constData(), __FILE__, __LINE__, 1);
    const QString text = m_ConfigMessage.isEmpty() ? note : m_ConfigMessage + QStringLiteral("; ") + note;
    ui->statusBar->showMessage(text);
}

QString MainWindow::deviceName() const { return m_Session->device(); }

RegisterImage* MainWindow::registerImage() const { return &m_Session->image(); }

BoardLink* MainWindow::link() const { return &m_Session->link(); }

QString MainWindow::firmwareText() const { return m_Session->firmwareText(); }

ChipPollThread* MainWindow::chipPollThread() const { return m_Session->chipPollThread(); }

MonitorThread* MainWindow::monitorThread() const { return m_Session->monitorThread(); }

void MainWindow::showRegister(int reg) {
    if (RegisterCell* cell = m_RegCells[reg & 0xFF]) cell->showImage();
}

void MainWindow::Build_RegisterCells() {
    auto* grid = new QGridLayout(ui->frame_reg);
    grid->setVerticalSpacing(10);
    grid->setHorizontalSpacing(10);
    grid->setContentsMargins(0, 5, 0, 5);
    grid->setObjectName(QStringLiteral("GLayout"));

    for (auto*& cell : m_RegCells) cell = nullptr;
    QFile hint(m_Session->workFile("hint.txt"));
    if (!hint.open(QIODevice::ReadOnly | QIODevice::Text)) return;

    const int channels = m_Session->channelCount();
    int row = 0;
    int column = 0;
    for (const HintEntry& entry : HintFile_Read(&hint)) {
        auto* cell = new RegisterCell(ui->tab_reg, entry.address, m_Session);
        m_RegCells[entry.address] = cell;
        cell->ui->label_Addr->setToolTip(QString::fromLatin1(entry.hint));
        grid->addWidget(cell, row, column);
        ++column;
        if (column == channels || column >= kRegGridMaxColumns) {
            ++row;
            column = 0;
        }
    }
}

MainWindow::~MainWindow() {
    // Before the stream it draws from.
    delete m_Signals;
    m_Signals = nullptr;
    // While this is still a whole main window: the dialog hands the
    // narrowing token back to it as it goes.
    delete m_SnrDialog;
    // Every thread stops, should close not have stopped them.
    m_Session->shutDown();
    delete m_MonitoringDialog;
    m_MonitoringDialog = nullptr;
    // Its test may still be exchanging on its own thread.
    delete findChild<ProductionWindow*>();
    delete m_Session;
    m_Session = nullptr;
}

void MainWindow::Connect_FirstCmdLinePort() {
    if (m_CmdLinePorts.isEmpty()) return;
    const QString path = m_CmdLinePorts.first();
    onPortSearchClicked();
    const int at = ui->comboBox_COM->findText(path);
    if (at >= 0) ui->comboBox_COM->setCurrentIndex(at);
    onPortActivated(path);
}

bool MainWindow::eventFilter(QObject* watched, QEvent* event) {
    if (watched != ui->lineEdit_I2C_ADDR || event->type() != QEvent::KeyPress)
        return QMainWindow::eventFilter(watched, event);

    const int key = static_cast<QKeyEvent*>(event)->key();
    const bool hexDigit = (key >= Qt::Key_0 && key <= Qt::Key_9) || (key >= Qt::Key_A && key <= Qt::Key_F);
    if (hexDigit || key == Qt::Key_Backspace || key == Qt::Key_Delete) return false;
    if (key == Qt::Key_Return || key == Qt::Key_Enter) {
        onSettingOkClicked();
        return false;
    }
    return true;
}

void MainWindow::closeEvent(QCloseEvent* event) {
    // A running SNR test puts the monitored mask and Sense back while the
    // window can still take them.
    if (m_SnrDialog) m_SnrDialog->endTest();
    // Exchanges still queued or under way end at once, and none starts with
    // threads that are gone.
    m_Session->link().abortExchanges(true);
    Stop_Replay();
    m_Recorder->stop();
    m_Session->shutDown();
    // Closed, not just left behind, so that it keeps its place for next time.
    if (m_Signals && m_Signals->isVisible()) m_Signals->close();
    event->accept();
}

void MainWindow::onSnrTriggered() {
    if (!m_SnrDialog) {
        m_SnrDialog = new SnrDialog(m_Stream, m_Narrowing, m_Session, m_Session->device(), this);
        m_SnrDialog->setSenseSwitch([this](bool on) { onSenseToggled(on); });
        connect(m_SnrDialog, &SnrDialog::registerReadBack, this, &MainWindow::showRegister);
        m_SnrDialog->move(pos().x() + 40, pos().y() + 40);
        Keep_SnrResult();
    }
    m_SnrDialog->show();
    m_SnrDialog->raise();
    m_SnrDialog->activateWindow();
}

MonitoringDialog* MainWindow::monitoringDialog() {
    if (m_MonitoringDialog == nullptr) m_MonitoringDialog = new MonitoringDialog(this, m_Session);
    return m_MonitoringDialog;
}
