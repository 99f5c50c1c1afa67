// The guided signal-to-noise test as a state machine fed from the sample
// stream: hands off (untouched samples of every chosen channel), then each
// channel in turn touched and held, then released; the results at the end.
// Widget-free: the dialog shows its prompts and buttons, the command-line
// tool prints them and maps Enter to touchingNow().
//
// While it runs it owns the monitored-channel mask and the Sense state: it
// narrows the mask to the channels it is collecting, switches Sense on, and
// puts both back when it ends (done, cancelled, failed or destroyed).
#pragma once

#include <QObject>
#include <QPointer>
#include <QStringList>
#include <QTimer>
#include <QVector>
#include <functional>

#include "data/MonitorSample.h"
#include "tuning/MonitorNarrowing.h"
#include "tuning/SnrMath.h"
#include "tuning/SnrSettings.h"

class BoardSession;
class ExchangeQueue;
class SampleStream;

class SnrProcedure : public QObject {
    Q_OBJECT
public:
    enum class Phase {
        Idle,          // not started
        HandsOff,      // collecting untouched samples of every channel
        AwaitTouch,    // waiting for the current channel's touch
        Touching,      // collecting touched samples of the current channel
        Paused,        // released early; waiting for the touch again
        AwaitRelease,  // enough samples; waiting for the release
        Done,
        Cancelled,
        Failed,
    };

    explicit SnrProcedure(SampleStream* stream, QObject* parent = nullptr);
    ~SnrProcedure() override;

    // The board the test runs on: its link and chip for the default checks
    // and sensitivity reads, its Sense and monitored channels for the
    // default switch and narrowing. Without one the link counts as gone.
    void setSession(BoardSession* session);
    // Where the sensitivity reads of start() run: a window gives its
    // session's queue, so that its thread never waits on the wire; start()
    // then returns at once and the test begins (or ends with finished())
    // when the reads are back. Without one they run on the caller's thread.
    void setExchanges(ExchangeQueue* queue) { m_Exchanges = queue; }
    // How Sense is switched (the window's Sense slot); by default the
    // session's flag.
    void setSenseSwitch(std::function<void(bool)> f) { m_SetSense = std::move(f); }
    // The board owner's narrowing helper, which saves and restores the mask
    // and Sense and keeps two procedures from narrowing at once.
    void setNarrowing(MonitorNarrowing* n) { m_Narrowing = n; }
    // How the test names itself to other procedures.
    static inline const QString kName = QStringLiteral("The SNR test");
    // How the current sensitivity of a channel is read; -1 for a failure.
    // By default the chip's register through the board.
    void setSensitivityReader(std::function<int(int)> f) { m_ReadSensitivity = std::move(f); }
    // Whether the board and chip are still there; by default the connection
    // flags. Checked several times a second while running.
    void setLinkCheck(std::function<bool()> f) { m_LinkOk = std::move(f); }
    // Whether the port is still open; by default the port flag. A port that
    // closes ends the test at once.
    void setPortCheck(std::function<bool()> f) { m_PortOk = std::move(f); }
    // How long a chip that stopped answering (with the port still open) is
    // waited for before the test ends. One probe missed on a busy machine
    // must not throw away what was collected when the next one answers.
    // By default: one probe interval, the next probe's exchange and the wait
    // for a late reply before it, and room to spare (2.5 s at the board's
    // 100 ms reply time-out).
    void setChipGrace(int ms) { m_ChipGraceMs = ms; }
    int defaultChipGraceMs() const;
    // The chip is not answering and the test waits for it.
    bool waitingForChip() const { return m_ChipSilentSinceMs >= 0; }
    // A collection that receives no sample for this long fails.
    void setStallTimeout(int ms) { m_StallMs = ms; }

    // Checks the settings, reads the channels' sensitivity, narrows the mask
    // and switches Sense on. False, with errorText(), when it could not start.
    bool start(const SnrSettings& settings);
    // The engineer says the key is held: the touched collection of the
    // current channel starts now, without waiting for the chip's touch report.
    void touchingNow();
    // Ends the test, restoring the mask and Sense; finished() follows.
    void cancel();
    // Ends the test as failed with the reason (for example a lost board).
    void fail(const QString& why);

    Phase phase() const { return m_Phase; }
    bool running() const;
    // start() is reading the sensitivity registers on the exchange queue.
    bool starting() const { return m_Starting; }
    const SnrSettings& settings() const { return m_Settings; }
    // Channel being touched, -1 outside the touch phases.
    int currentChannel() const;
    // Samples so far of the current collection and how many it needs (the
    // least-filled channel while hands off).
    int collected() const;
    int needed() const { return m_Settings.samples; }
    // What the engineer should do now, one short line.
    QString prompt() const;
    QString errorText() const { return m_Error; }
    // Every channel's result once Done.
    const QVector<SnrResult>& results() const { return m_Results; }

    static QString PhaseName(Phase phase);

signals:
    // The phase, the prompt or the progress changed.
    void changed();
    // Done, Cancelled or Failed; the mask and Sense are back by then.
    void finished();

private slots:
    void onSample(const MonitorSample& sample);
    void onTouch(const TouchEvent& event);
    void watch();

private:
    bool begin(const QVector<int>& sensitivity);
    void setPhase(Phase phase);
    void beginHandsOff(qint64 fromMs);
    void beginChannel(int index);
    void beginTouching(qint64 fromMs);
    void advanceAfterRelease();
    void finish();
    void end(Phase phase);
    void restore(bool useHook);
    bool touchedNow(int channel) const;
    void setMask(uint16_t mask);
    MonitorNarrowing* narrowing();

    SampleStream* m_Stream;
    BoardSession* m_Session = nullptr;
    ExchangeQueue* m_Exchanges = nullptr;
    SnrSettings m_Settings;
    Phase m_Phase = Phase::Idle;
    QString m_Error;
    bool m_Starting = false;
    bool m_CancelWhileStarting = false;
    bool m_FailedWhileStarting = false;
    QPointer<MonitorNarrowing> m_Narrowing;

    std::function<void(bool)> m_SetSense;
    std::function<int(int)> m_ReadSensitivity;
    std::function<bool()> m_LinkOk;
    std::function<bool()> m_PortOk;
    int m_StallMs = 10000;
    int m_ChipGraceMs = -1;           // -1: defaultChipGraceMs()
    qint64 m_ChipSilentSinceMs = -1;  // steady ms the chip was first missed; -1 while it answers

    QVector<int> m_Sensitivity;             // per chosen channel, in settings order
    QVector<QVector<int32_t>> m_Untouched;  // per chosen channel
    QVector<QVector<int32_t>> m_Touched;
    int m_Index = -1;             // chosen channel being touched
    qint64 m_FromMs = 0;          // samples stamped earlier belong to another phase
    bool m_KeyBusy = false;       // hands off: a key is touched, nothing is collected
    bool m_ChipSawTouch = false;  // the current channel's touch was reported by the chip
    qint64 m_LastProgressMs = 0;  // steady ms of the last accepted sample or phase start
    QTimer m_Watch;
    QVector<SnrResult> m_Results;
};
