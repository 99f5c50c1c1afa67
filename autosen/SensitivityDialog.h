// Guided sensitivity procedure for one channel: while the engineer holds the
// key, the dialog samples the channel's difference value, proposes a value for
// the channel's sensitivity register and writes it on OK; Cancel (or closing
// the window) puts back what the chip held before.
//
// All work runs on the GUI thread as a chain of single-shot timer ticks, one
// state step per tick. The buttons only post a request that the next tick
// reads. The dialog deletes itself once it has closed.
#pragma once

#include <QDialog>
#include <cstdint>

#include "data/SensitivityProposal.h"
#include "ui_SensitivityDialog.h"

class QCloseEvent;
class QTimer;
class SensitivityDialog;

// Variables of the one run that may be active in the process. GUI thread only:
// every dialog runs there, so none of these is shared with a worker.
struct AutoSenRun {
    uint16_t savedMonMask = 0;  // g_MonChannelMask before the run
    uint8_t savedSenseOn = 0;   // g_SenseOn before the run
    float sampleSum = 0.0f;     // accepted diff samples
    int32_t sampleCount = 0;
    uint32_t windowLength = 0;  // ms; 5000 until the first accepted sample, then 1000
    uint32_t windowStart = 0;   // GetTickCount() at preparation, then at the first accepted sample
    uint32_t elapsed = 0;       // ms since windowStart at the last sample tick
    int32_t computedValue = 0;  // truncated mean x margin, before the cap
    uint8_t sensitivity = 0;    // the offered register value, at most 0x3F
    bool written = false;       // the write of the offered value has started
    uint8_t regBase = 0;        // first sensitivity register of the family
    uint8_t savedSensitivity = 0;
    uint8_t savedControl = 0;  // register 0x3A, family 0 only
    // The dialog whose run holds these values; null when no run is active.
    const SensitivityDialog* owner = nullptr;
};
extern AutoSenRun g_AutoSenRun;

constexpr int kAutoSenMinSamples = 5;
constexpr int32_t kAutoSenMinDiff = 10;  // a sample must exceed this
constexpr uint8_t kAutoSenRunValue = 0x05;  // sensitivity held while sampling

// First sensitivity register of a chip family (from the family table).
uint8_t AutoSen_RegisterBase(int deviceType);

class SensitivityDialog : public QDialog, public Ui::SensitivityDialog {
    Q_OBJECT

public:
    enum State {
        STA_PREPARE = 0,
        STA_SAMPLE = 1,
        STA_EVALUATE = 2,
        STA_AWAIT_WRITE = 3,
        STA_AWAIT_RETRY = 4,
        STA_WRITE_VALUE = 5,
        STA_FINISH = 6,
        STA_ABORT = 7,
        STA_CLOSE_DIALOG = 100,
    };

    SensitivityDialog(QWidget* parent, int channel);
    ~SensitivityDialog() override;

    int channel() const { return m_Channel; }
    int state() const { return m_State; }
    // True while this dialog's run holds the process-wide run variables.
    bool ownsRun() const { return g_AutoSenRun.owner == this; }

    // Frame close button and Escape end up here: the run is cancelled and its
    // values restored before the dialog closes.
    void reject() override;

protected:
    void closeEvent(QCloseEvent* event) override;
    void changeEvent(QEvent* event) override;

private slots:
    void onTick();
    void onOkClicked();
    void onCancelClicked();

private:
    // One step per state; each returns the interval of the next tick, or -1
    // when the dialog has gone and nothing more may be touched.
    int Step_Prepare();
    int Step_Sample();
    int Step_Evaluate();
    int Step_AwaitWrite();
    int Step_AwaitRetry();
    int Step_WriteValue();
    int Step_Finish();
    int Step_Abort();

    // Register exchanges with the chip; false on any result but '0'. They
    // dispatch events while waiting, so callers check that the dialog is
    // still alive afterwards.
    uint8_t SensitivityRegister() const;
    bool ReadReg(uint8_t reg);
    bool WriteReg(uint8_t reg, uint8_t value);
    void SetSensing(bool on);
    void ReleaseRun();
    // Cancels the run (the next tick restores) or, with nothing to restore,
    // closes and deletes the dialog at once.
    void RequestClose();
    void CloseNow();
    bool CancelWanted() const { return m_ButtonRequest == 2 || m_CloseRequested; }

    int m_Channel;
    int m_ButtonRequest = 0;  // 0 none, 1 OK, 2 Cancel; read by the next tick
    int m_State = STA_PREPARE;
    QTimer* m_Timer = nullptr;

    int m_Family = 0;               // g_DeviceType when the run was prepared
    bool m_Prepared = false;        // the first preparation has saved the values to restore
    bool m_CloseRequested = false;  // the window was asked to close; acts as Cancel
    bool m_Closing = false;         // close() has been called by the state machine
    bool m_InTick = false;
};
