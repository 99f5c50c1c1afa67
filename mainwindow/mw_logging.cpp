// Tools menu: recording the sample stream into a log, marks, and replaying a
// log into every view while no board is connected.
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QInputDialog>
#include <QLabel>
#include <QMessageBox>
#include <QStatusBar>
#include <QTimer>
#include <QToolBar>

#include "app/config.h"
#include "app/limits.h"
#include "data/LogPlayer.h"
#include "data/LogRecorder.h"
#include "data/RegisterImage.h"
#include "data/SampleStream.h"
#include "link/BoardLink.h"
#include "link/commands.h"
#include "mainwindow/MainWindow.h"
#include "platform/ini.h"
#include "ui_ChannelIndicator.h"
#include "ui_MainWindow.h"
#include "views/ChannelIndicator.h"
#include "views/ReplayBar.h"
#include "workers/BoardSession.h"

namespace {

constexpr QFileDialog::Options kDialogOptions = QFileDialog::DontUseNativeDialog;
constexpr int kMaxProblemsShown = 8;

QString LogDir(const BoardSession& session) {
    const QString dir = Config_ReadKey(session.workDir(), QStringLiteral("LOG"), QStringLiteral("DIR"));
    return dir.isEmpty() || !QDir(dir).exists() ? session.workDir() : dir;
}

void RememberLogDir(const BoardSession& session, const QString& file) {
    Config_WriteKey(session.workDir(), QStringLiteral("LOG"), QStringLiteral("DIR"), QFileInfo(file).absolutePath());
}

}  // namespace

void MainWindow::Init_Logging() {
    m_Recorder = new LogRecorder(m_Stream, this);
    m_LogLabel = new QLabel(this);
    m_LogLabel->hide();
    ui->statusBar->addPermanentWidget(m_LogLabel);
    m_LogStatusTimer = new QTimer(this);
    m_LogStatusTimer->setInterval(500);

    connect(ui->actionLogging, &QAction::toggled, this, &MainWindow::onLoggingToggled);
    connect(ui->actionMark, &QAction::triggered, this, &MainWindow::onMarkTriggered);
    connect(ui->actionReplay, &QAction::triggered, this, &MainWindow::onReplayTriggered);
    connect(m_Recorder, &LogRecorder::stopped, this, &MainWindow::Log_Stopped);
    connect(m_LogStatusTimer, &QTimer::timeout, this, &MainWindow::Show_LogStatus);
    connect(&m_Session->image(), &RegisterImage::written, m_Recorder, &LogRecorder::addRegisterWrite);

    // Live touches reach the lamps through showTouchMask, which publishes
    // them; replayed ones come only from the stream. Publishing the same mask
    // again announces nothing, so each touch is shown once.
    connect(m_Stream, &SampleStream::touchChanged, this, [this](const TouchEvent& e) {
        if (m_Stream->source() == SampleStream::Source::Replay) showTouchMask(e.mask);
    });

    // Rows pause while the board is away; the log says why.
    connect(m_Session, &BoardSession::lineFailed, this,
            [this] { Mark_Board(false, tr("board lost: the port %1 failed").arg(m_PortPath)); });
    connect(m_Session, &BoardSession::chipLost, this, [this] {
        Mark_Board(false, tr("board lost: no chip answers at I2C address %1").arg(Hex2(m_Session->i2cAddress())));
    });
    connect(m_Session, &BoardSession::chipFound, this, [this] {
        Mark_Board(true, tr("board back: the chip answers at I2C address %1").arg(Hex2(m_Session->i2cAddress())));
    });
    connect(ui->pushButton_Sense, &QPushButton::toggled, this,
            [this](bool on) { m_Recorder->addMark(on ? tr("monitoring on") : tr("monitoring off: logging paused")); });
}

void MainWindow::Mark_Board(bool chipAnswers, const QString& why) {
    if (chipAnswers == m_LogChipSeen) return;
    m_LogChipSeen = chipAnswers;
    m_Recorder->addMark(why);
}

void MainWindow::onLoggingToggled(bool on) {
    if (!on) {
        m_Recorder->stop();
        return;
    }
    const QString proposal = QDir(LogDir(*m_Session)).filePath(Log_DefaultFileName(QDateTime::currentDateTime()));
    const QString name =
        QFileDialog::getSaveFileName(this, tr("Start logging"), proposal, tr("logs (*.csv)"), nullptr, kDialogOptions);
    if (name.isEmpty()) {
        const QSignalBlocker quiet(ui->actionLogging);
        ui->actionLogging->setChecked(false);
        return;
    }
    RememberLogDir(*m_Session, name);

    const bool live = m_Session->link().isLive();
    const LogHeader header = m_Session->logHeader(live ? m_PortPath : QString(), live ? firmwareText() : QString());
    if (!m_Recorder->start(name, header)) {
        const QSignalBlocker quiet(ui->actionLogging);
        ui->actionLogging->setChecked(false);
        QMessageBox::warning(this, tr("Logging"), m_Recorder->error());
        return;
    }
    m_LogChipSeen = m_Session->chipPresent();
    ui->actionLogging->setText(tr("Stop logging"));
    ui->actionMark->setEnabled(true);
    m_LogLabel->show();
    Show_LogStatus();
    m_LogStatusTimer->start();
}

void MainWindow::Show_LogStatus() {
    m_LogLabel->setText(
        tr("Logging to %1: %2 rows").arg(QFileInfo(m_Recorder->path()).fileName()).arg(m_Recorder->rowCount()));
}

void MainWindow::Log_Stopped(const QString& reason) {
    m_LogStatusTimer->stop();
    m_LogLabel->hide();
    {
        const QSignalBlocker quiet(ui->actionLogging);
        ui->actionLogging->setChecked(false);
    }
    ui->actionLogging->setText(tr("Start logging…"));
    ui->actionMark->setEnabled(false);
    if (reason.isEmpty()) {
        ui->statusBar->showMessage(
            tr("Log %1 closed: %2 rows").arg(QDir::toNativeSeparators(m_Recorder->path())).arg(m_Recorder->rowCount()));
        return;
    }
    // Monitoring goes on; only the recording has ended.
    ui->statusBar->showMessage(reason);
    QMessageBox::warning(this, tr("Logging"), reason);
}

void MainWindow::onMarkTriggered() {
    if (!m_Recorder->isRecording()) return;
    bool ok = false;
    const QString text =
        QInputDialog::getText(this, tr("Add mark"), tr("Note for the log:"), QLineEdit::Normal, QString(), &ok);
    if (ok && !text.isEmpty()) m_Recorder->addMark(text);
}

void MainWindow::onReplayTriggered() {
    if (m_Session->link().isLive()) {
        const auto answer = QMessageBox::question(
            this, tr("Replay log"),
            tr("A log replays only while no board is connected.\nDisconnect from %1?").arg(m_PortPath),
            QMessageBox::Yes | QMessageBox::No, QMessageBox::No);
        if (answer != QMessageBox::Yes) return;
        onChipLost();
        UART_Disconnection();
    }
    const QString name = QFileDialog::getOpenFileName(this, tr("Replay log"), LogDir(*m_Session), tr("logs (*.csv)"),
                                                      nullptr, kDialogOptions);
    if (name.isEmpty()) return;
    // The port may have been chosen while the dialog was open.
    if (m_Session->link().isLive()) return;
    RememberLogDir(*m_Session, name);
    Stop_Replay();

    auto* player = new LogPlayer(m_Stream, this);
    if (!player->load(name)) {
        QMessageBox::warning(this, tr("Replay log"), player->error());
        delete player;
        return;
    }
    m_Player = player;
    if (player->problemCount() > 0) {
        QStringList shown = player->problems().mid(0, kMaxProblemsShown);
        if (player->problemCount() > shown.size())
            shown << tr("… and %1 more").arg(player->problemCount() - shown.size());
        QMessageBox::warning(this, tr("Replay log"),
                             tr("%1: these rows are left out of the replay:\n\n%2")
                                 .arg(QDir::toNativeSeparators(name), shown.join(QLatin1Char('\n'))));
        // The engineer may have closed the window or stopped meanwhile.
        if (m_Player != player) return;
    }

    auto* controls = new ReplayBar(player);
    m_ReplayBar = new QToolBar(tr("Replay"), this);
    m_ReplayBar->setObjectName(QStringLiteral("toolBar_Replay"));
    m_ReplayBar->setMovable(false);
    m_ReplayBar->addWidget(controls);
    addToolBar(Qt::BottomToolBarArea, m_ReplayBar);
    connect(controls, &ReplayBar::stopRequested, this, &MainWindow::Stop_Replay);
    connect(player, &LogPlayer::markReached, this,
            [this](const QString& text) { ui->statusBar->showMessage(tr("Mark: %1").arg(text)); });
    setWindowTitle(tr("Replay: %1 - %2").arg(QFileInfo(name).fileName(), m_Title));
    // A disabled group draws its lamps grey whatever they show; the keys'
    // sensitivity runs need a board, so their buttons stay off.
    Show_ReplayKeys(true);
    player->play();
}

void MainWindow::Show_ReplayKeys(bool replaying) {
    ui->groupBox_Key->setEnabled(replaying || m_Session->chipPresent());
    for (ChannelIndicator* sin : channelIndicators)
        if (sin != nullptr) sin->ui->pushButton_Sensitivity->setEnabled(!replaying);
}

void MainWindow::Stop_Replay() {
    if (m_Player == nullptr) return;
    m_Player->pause();
    m_Player->deleteLater();
    m_Player = nullptr;
    if (m_ReplayBar != nullptr) {
        removeToolBar(m_ReplayBar);
        m_ReplayBar->deleteLater();
        m_ReplayBar = nullptr;
    }
    setWindowTitle(m_Title);
    Show_ReplayKeys(false);
    m_Stream->restart(SampleStream::Source::Live);
    showTouchMask(0);
}
