// The guided sensitivity procedure of one channel, without a window: it
// narrows monitoring to the channel, holds the channel's sensitivity at a
// fixed value while the engineer holds the key, counts each new sample of the
// channel's difference (third SBF) that the sample stream brings, proposes a
// sensitivity value and writes it on request; cancelled, it puts back what
// the chip held before. The sensitivity dialog and tkeval-cli's autosen both
// drive it.
//
// The sampling window is 5 s until the first accepted sample, then 1 s from
// that sample; a sample is accepted when its difference exceeds 10, and at
// least 5 must be. The proposal is AutoSen_Evaluate over the accepted samples.
#pragma once

#include <QElapsedTimer>
#include <QObject>
#include <QPointer>
#include <QTimer>
#include <cstdint>
#include <functional>

#include "data/MonitorSample.h"
#include "tuning/MonitorNarrowing.h"

class BoardSession;
class ExchangeQueue;
class SampleStream;

constexpr int kAutoSenMinSamples = 5;
constexpr int32_t kAutoSenMinDiff = 10;     // a sample must exceed this
constexpr uint8_t kAutoSenRunValue = 0x05;  // sensitivity held while sampling

class SensitivityProcedure : public QObject {
    Q_OBJECT
public:
    enum class State {
        Idle,
        Preparing,   // saving and setting the registers
        Sampling,    // the engineer holds the key
        AwaitWrite,  // a proposal is ready: write() or cancel()
        AwaitRetry,  // too few samples: retry() or cancel()
        Writing,     // the proposal has been written; finishing follows
        Finishing,   // putting back what the run changed
        Done,        // ended with the proposal written
        Cancelled,   // ended with the chip as it was
        Aborted,     // an exchange failed; mask and Sense are back, the registers as they came
        Refused,     // another procedure narrows the monitoring
    };

    using ReadRegister = std::function<int(uint8_t reg)>;  // the value, or -1
    using WriteRegister = std::function<bool(uint8_t reg, uint8_t value)>;

    SensitivityProcedure(SampleStream* stream, MonitorNarrowing* narrowing, int family, int channel,
                         QObject* parent = nullptr);
    ~SensitivityProcedure() override;

    // The board whose registers the run reads and writes, through its
    // register image (without one, reads and writes fail).
    void setSession(BoardSession* session);
    // Other register access (a stand-in for the chip); replaces the session's.
    void setRegisterAccess(ReadRegister read, WriteRegister write);
    // Where the exchanges of each step run: a window gives its session's
    // queue, so that its thread never waits on the wire. Without one they
    // run on the caller's thread, which waits (the command line's choice).
    void setExchanges(ExchangeQueue* queue) { m_Exchanges = queue; }
    void setSenseSwitch(MonitorNarrowing::SenseSwitch sense) { m_Sense = std::move(sense); }
    void setMargin(float margin) { m_Margin = margin; }

    void start();
    // In AwaitWrite: write the proposal and finish.
    void write();
    // In AwaitRetry: sample again, keeping what the first preparation saved.
    void retry();
    // Ends the run and puts back the registers, the mask and Sense.
    void cancel();

    State state() const { return m_State; }
    bool finished() const;
    int channel() const { return m_Channel; }
    uint8_t proposal() const { return m_Proposal; }
    int32_t computed() const { return m_Computed; }  // before the cap
    int samples() const { return m_Count; }
    uint8_t sensitivityRegister() const;
    // The name other procedures are told when this one holds the narrowing.
    QString name() const;
    // This run narrows the monitoring now (and must put it back).
    bool holdsMonitoring() const { return m_Narrowing && m_Narrowing->heldBy(this); }
    // Who held the monitoring when this run was refused: the channel of
    // another sensitivity run (-1 for another kind of procedure) and its name.
    int refusingChannel() const { return m_RefusingChannel; }
    QString refusingName() const { return m_RefusingName; }

signals:
    void stateChanged(SensitivityProcedure::State state);
    // A register was read back at the end: whoever shows registers shows it.
    void registerReadBack(int reg);

private:
    void setState(State s);
    void prepare();
    void onSample(const MonitorSample& sample);
    void onTick();
    void evaluate();
    void finish();
    void abort();
    // What the preparing step read: -1 where it did not get that far.
    struct Prepared {
        bool ok = false;
        int control = -1;
        int sensitivity = -1;
    };
    // Which registers the finishing step read back.
    struct ReadBacks {
        bool sensitivity = false;
        bool control = false;
    };
    void endPrepare(const Prepared& p);
    // Runs a step of exchanges on the queue, or here without one, then
    // hands its result to then() on this thread.
    template <typename Steps, typename Then>
    void runSteps(Steps steps, Then then);

    SampleStream* m_Stream;
    BoardSession* m_Session = nullptr;
    ExchangeQueue* m_Exchanges = nullptr;
    QPointer<MonitorNarrowing> m_Narrowing;
    int m_Family;
    int m_Channel;
    float m_Margin = 0.0f;
    ReadRegister m_Read;
    WriteRegister m_Write;
    MonitorNarrowing::SenseSwitch m_Sense;

    State m_State = State::Idle;
    // A step's exchanges are on their way: a request made meanwhile waits
    // for it.
    bool m_Busy = false;
    bool m_CancelWanted = false;
    bool m_Prepared = false;  // the saved register values are complete
    bool m_Written = false;   // the proposal's write has gone out
    uint8_t m_SavedSensitivity = 0;
    uint8_t m_SavedControl = 0;
    int m_RefusingChannel = -1;
    QString m_RefusingName;

    qint64 m_FromMs = 0;  // stream ms: samples read earlier belong to no window
    QElapsedTimer m_Window;
    qint64 m_WindowMs = 0;
    float m_Sum = 0.0f;
    int32_t m_Count = 0;
    uint8_t m_Proposal = 0;
    int32_t m_Computed = 0;
    QTimer m_Tick;
};
