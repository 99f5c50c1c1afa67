// The one main window: owner of the form, the channel indicators, the
// register cells, the monitoring dialog and the worker threads.
//
// Slot bodies live in the mw_*.cpp file of their area.
#pragma once

#include <QMainWindow>
#include <QPointer>
#include <QString>
#include <QStringList>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <memory>

#include "handoff/RegisterSet.h"
#include "handoff/SnrReportReader.h"
#include "link/event_frames.h"
#include "workers/BoardOps.h"

class MonitoringDialog;
class MonitorThread;
class MonitorNarrowing;
class LogPlayer;
class LogRecorder;
class QLabel;
class QToolBar;
class SampleStream;
class SnrDialog;
class SignalsWindow;
struct MonitorSample;
class BoardLink;
class BoardSession;
class ChannelIndicator;
class ChipPollThread;
class RegisterCell;
class RegisterImage;
class QCloseEvent;
class QEvent;
class QTimer;
class PortWatcher;

constexpr int kSinSlots = 17;  // one more than the largest channel count

namespace Ui {
class MainWindow;
}

class MainWindow : public QMainWindow {
    Q_OBJECT
public:
    // The generated form; its widgets keep the object names scripts and tests use.
    std::unique_ptr<Ui::MainWindow> ui;

    explicit MainWindow(QWidget* parent = nullptr, Qt::WindowFlags flags = Qt::WindowFlags());
    ~MainWindow() override;

    // The monitoring dialog, built the first time it is asked for: most
    // sessions never open it, and its panels are most of the start-up work.
    MonitoringDialog* monitoringDialog();
    MonitoringDialog* monitoringDialogIfBuilt() const { return m_MonitoringDialog; }
    ChannelIndicator* channelIndicators[kSinSlots] = {};

    bool eventFilter(QObject* watched, QEvent* event) override;

    // Status-bar text about configuration values that had to be corrected at
    // start, empty when there were none.
    QString m_ConfigMessage;
    // Adds a start-up remark (where the working directory came from) to the
    // status bar, after any configuration message.
    void Show_StartNote(const QString& note);

    // Connects to the first port named with --port, as if the engineer had
    // chosen it; nothing when none was named. Run once the window is shown.
    void Connect_FirstCmdLinePort();

    // Where the port list comes from: the sysfs tty tree and what says it
    // changed. Tests put a fake tree and source here; the window takes the
    // watcher over.
    void Use_PortSource(const QString& sysfsRoot, PortWatcher* watcher);

    // The stream every live view, recorder and test consumes: the session's.
    SampleStream* sampleStream() const { return m_Stream; }
    // Who narrows the monitored channels now: the sensitivity run or the SNR
    // test, one at a time.
    MonitorNarrowing* monitorNarrowing() const { return m_Narrowing; }
    // DEVICE of system.ini as read at start.
    QString deviceName() const;
    // The log being recorded (always there, recording or not) and the one
    // being replayed (null when none).
    LogRecorder* logRecorder() const { return m_Recorder; }
    LogPlayer* logPlayer() const { return m_Player; }

    // Ports named with --port: listed by every port search, the first one
    // connected by Connect_FirstCmdLinePort. Takes effect at the next search.
    void setCommandLinePorts(const QStringList& ports) { m_CmdLinePorts = ports; }

    // The newest SBF status the board sent for channel ch: bit k = SBF k.
    int sbfStatus(int ch) const { return ch >= 0 && ch < kMaxChannels ? m_SbfStatus[ch] : 0; }

    // A chosen port is settling before the connect procedure goes on.
    bool portSettling() const { return m_OpeningPort; }

    // "v3.2" while a board whose firmware was accepted is connected, else empty.
    QString firmwareText() const;

    // The session's worker threads, running from construction to close.
    ChipPollThread* chipPollThread() const;
    MonitorThread* monitorThread() const;

    // The window's copy of the chip's registers.
    // The window's board: its link, register image and state.
    BoardSession* session() const { return m_Session; }
    RegisterImage* registerImage() const;
    // The board link: its receive thread, rings and exchanges.
    BoardLink* link() const;
    // The cell of a register address, null where hint.txt names none.
    RegisterCell* registerCell(int reg) const { return m_RegCells[reg & 0xFF]; }
    // Shows what the register image holds for reg in reg's cell, if it has one.
    void showRegister(int reg);

    // The graphs window, made the first time it is asked for; null before.
    SignalsWindow* signalsWindow() const { return m_Signals; }

public slots:
    void onTestClicked();
    void onPortActivated(QString strItem);
    void onPortSearchClicked();
    void onSettingOkClicked();
    void onSearchI2cClicked();
    void onResetClicked();
    void onReadClicked();
    void onSenseToggled(bool bToggled);
    void onLoadClicked();
    void onSaveClicked();
    void onMonitorDialogClicked();
    void onSnrTriggered();
    void onReconnectToggled(bool on);
    // Discovery again after a hot-plug, keeping the current choice selected.
    void Refresh_PortList();
    // Tools > Signals: shows the graphs window, raised when already shown.
    void Show_SignalsWindow();
    // SEN of a channel: the guided sensitivity run in its own window, a child
    // of the channel's indicator. A second run while one is active opens too,
    // tells the engineer and closes itself.
    void openSensitivityDialog(int channel);
    // Tools > Compare with file, Clear comparison, Export C header, Tuning
    // report (mw_handoff.cpp).
    void onCompareTriggered();
    // Marks the cells whose value differs from the register file at path,
    // once a fresh read has finished where a chip answers. False when the
    // file is refused.
    bool Compare_WithFile(const QString& path);
    void Clear_Comparison();
    void onExportHeaderTriggered();
    void onReportTriggered();

protected slots:
    void UART_Connection();
    void UART_Disconnection();
    // Bytes of the line, for the Debug tab when it shows them.
    void showTraffic(const QByteArray& bytes);
    // A status frame's values, one per channel.
    void takeSbfStatus(const QByteArray& status);
    void onLineFailed(int iPort);
    void onChipFound();
    void onChipLost();
    void showTouchMask(int iTouchKey);
    // Shows one sample in its channel's indicator and, when shown, the
    // monitoring dialog.
    void Show_MonitorSample(const MonitorSample& sample);
    void showSbfStatus();
    void onLoggingToggled(bool on);
    void onMarkTriggered();
    void onReplayTriggered();
    void Stop_Replay();
    void Log_Stopped(const QString& reason);

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    // What a Load sent: the counts, and each write line's address and value
    // text for the cells.
    struct RegFileLoad {
        RegLoadResult result;
        QVector<QPair<uint8_t, QByteArray>> written;
    };

    void Build_ChannelIndicators();
    void Start_Workers(const QString& workDir);
    void Connect_Controls();
    void Init_Ports(const QString& workDir);
    void Build_RegisterCells();
    void Init_Logging();
    void Show_LogStatus();
    void Mark_Board(bool chipAnswers, const QString& why);
    void Show_ReplayKeys(bool replaying);

    MonitoringDialog* m_MonitoringDialog = nullptr;
    SampleStream* m_Stream = nullptr;
    MonitorNarrowing* m_Narrowing = nullptr;
    QPointer<SnrDialog> m_SnrDialog;
    void Read_Table();
    void End_TableRead(bool touchRead);
    // Runs next once a fresh read of the table has finished, or now when no
    // chip answers (the table as it stands).
    void Read_TableThen(std::function<void()> next);
    void Mark_Comparison(const RegisterSet& file, const QString& name);
    void Export_Header(const QString& prefix, const QString& name);
    void End_Connect(unsigned cycle, const BoardIdentity& id);
    void End_Load(const RegFileReader& reader, const QString& name, bool remembered, const RegFileLoad& load);
    void Warn_InvalidPort(const QString& path, const QString& reason);
    QStringList Discover_PortList(FILE* trace) const;
    QStringList Current_PortList() const;
    // The connect procedure; quiet: an open failure shows no warning (a
    // reconnect tries again later). then(true) once the port has opened and
    // settled, then(false) when it did not.
    void Connect_Port(const QString& strItem, bool quiet, const std::function<void(bool)>& then = {});
    void Finish_Connect(const QString& strItem, bool quiet, int remembered, int ticket,
                        const std::function<void(bool)>& then);
    void Begin_ReconnectWait(const QString& path, const QString& serial);
    void End_ReconnectWait();
    void Try_Reconnect();

    // A flow's exchanges run on the session's queue while the window goes
    // on; the flags keep a second click from starting the same flow again
    // before the first has finished.
    bool m_ReadBusy = false;
    bool m_ReadAgain = false;                    // a read was asked for while one was running
    QVector<std::function<void()>> m_AfterRead;  // what waits for the running read
    bool m_ResetBusy = false;
    bool m_LoadBusy = false;  // a register file's writes are going out
    bool m_SearchBusy = false;
    bool m_OpeningPort = false;  // the port is settling before the connect goes on
    QString m_PendingPort;       // a port chosen meanwhile, connected next
    // Counts every open and close of the port, so that a connect procedure
    // resumed after a nested one can tell that its port is no longer its own.
    unsigned m_ConnectCycle = 0;
    bool m_PortErrorShown = false;  // one line-failure warning per connect cycle
    QString m_PortPath;             // path of the open port, for the warnings
    QString m_PortSerial;           // its USB serial number, to know it again

    QString m_SysfsRoot;
    PortWatcher* m_PortWatcher = nullptr;
    // Reconnecting: on by the Tools menu; while a lost board is awaited,
    // m_LostPath names it and the timer looks for it.
    bool m_Reconnect = false;
    bool m_Reconnecting = false;  // a reconnect's connect procedure is running
    QString m_LostPath;
    QString m_LostSerial;
    QTimer* m_ReconnectTimer = nullptr;
    bool m_ResumeSense = false;  // switch Sense on again once the chip answers
    uint16_t m_ResumeMask = 0;

    QString m_Title;  // the window title outside a replay
    LogRecorder* m_Recorder = nullptr;
    LogPlayer* m_Player = nullptr;
    QToolBar* m_ReplayBar = nullptr;
    QLabel* m_LogLabel = nullptr;
    QTimer* m_LogStatusTimer = nullptr;
    bool m_LogChipSeen = false;  // last chip state a mark reported
    SignalsWindow* m_Signals = nullptr;

    void Init_Handoff();
    // Keeps the SNR dialog's result when its test finishes, for the report:
    // the dialog deletes itself on close.
    void Keep_SnrResult();
    bool m_HaveSnr = false;
    SnrReportFile m_LastSnr;

    BoardSession* m_Session = nullptr;
    QStringList m_CmdLinePorts;
    uint8_t m_SbfStatus[kMaxChannels] = {};
    // Filled from hint.txt when the window is built.
    RegisterCell* m_RegCells[256] = {};
};
