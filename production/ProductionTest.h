// One board's production test, widget-free, shared by tkeval-cli and the
// operator window: the golden registers written and read back, the settle
// time, the hands-off samples of every channel taken from the sample stream,
// every limit evaluated with the SNR test's arithmetic, and optionally the
// touch phase (the SNR test itself). The result is a TestRecord.
//
// start() makes blocking board exchanges: call it on a thread that may block
// (the command-line tool's, or a worker thread in the window), with the
// monitoring threads feeding the stream. While measuring it owns the
// monitored-channel mask and Sense, and puts both back when it ends.
#pragma once

#include <QObject>
#include <QTimer>
#include <QVector>
#include <atomic>
#include <functional>
#include <memory>

#include "data/MonitorSample.h"
#include "link/ExchangeResult.h"
#include "production/LimitsFile.h"
#include "production/TestRecord.h"

class BoardSession;
class MonitorNarrowing;
class SampleStream;
class SnrProcedure;
struct SnrResult;

// The hands-off measurements of one channel from its samples (reference and
// diff of the limits' SBF), each judged against its bound.
QVector<Measurement> Production_EvaluateUntouched(const ProductionLimits& limits, int channel,
                                                  const QVector<int32_t>& reference, const QVector<int32_t>& diff);
// signal and snr of one channel's SNR result.
QVector<Measurement> Production_EvaluateTouch(const ProductionLimits& limits, const SnrResult& result);

class ProductionTest : public QObject {
    Q_OBJECT
public:
    enum class Phase { Idle, Registers, Settling, HandsOff, Touch, Done };

    ProductionTest(const ProductionLimits& limits, SampleStream* stream, QObject* parent = nullptr);
    ~ProductionTest() override;

    // Whether the touch phase runs (the limits must have a "touch" section).
    void setTouchPhase(bool on) { m_TouchPhase = on; }
    // How Sense is switched (the window's Sense button); by default the
    // session's flag.
    // Called on the test's thread.
    void setSenseSwitch(std::function<void(bool)> f) { m_SetSense = std::move(f); }
    // The board under test: the registers are written and verified over its
    // link, the default checks follow its link and chip, and the test
    // narrows its monitored channels.
    void setSession(BoardSession* session) { m_Session = session; }
    // Whether the board and chip are still there; by default the connection flags.
    void setLinkCheck(std::function<bool()> f) { m_LinkOk = std::move(f); }
    // A collection that receives no sample for this long ends as ERROR.
    void setStallTimeout(int ms) { m_StallMs = ms; }

    // Serial, station, operator, port, firmware, device and tool version are
    // filled by the caller before start(); the rest by the test.
    TestRecord& record() { return m_Record; }
    const TestRecord& record() const { return m_Record; }

    // Writes and verifies the golden registers of the chip at dev (blocking),
    // then measures; finished() follows in every case.
    void start(uint8_t dev);
    // The operator says the key asked for is held (touch phase).
    void touchingNow();
    // Ends the run as ERROR with the cause (a lost board, Ctrl+C).
    void fail(const QString& why);
    // From any thread: the exchanges the run has still to make are skipped
    // (and count as failed), so that a run writing its registers to a board
    // that does not answer gets back to its thread's events at once. For an
    // owner that is going away.
    void abandon() { m_Abandoned.store(true, std::memory_order_release); }

    Phase phase() const { return m_Phase; }
    bool running() const { return m_Phase != Phase::Idle && m_Phase != Phase::Done; }
    // What the operator should do or see now, one line.
    QString prompt() const;

signals:
    void changed();
    // prompt() as it changed, for a receiver on another thread.
    void promptChanged(const QString& prompt);
    void finished();

private slots:
    void onSample(const MonitorSample& sample);
    void onTouch(const TouchEvent& event);
    void watch();

private:
    bool writeGolden(uint8_t dev);
    bool portLive() const;
    ExchangeResult retried(const std::function<ExchangeResult()>& exchange);
    QString exchangeError(const QString& what, ExchangeResult result) const;
    void beginHandsOff();
    void endHandsOff();
    void beginTouch();
    void finish();
    void restore(bool useHook = true);

    ProductionLimits m_Limits;
    std::atomic<bool> m_Abandoned{false};
    SampleStream* m_Stream;
    BoardSession* m_Session = nullptr;
    TestRecord m_Record;
    Phase m_Phase = Phase::Idle;
    bool m_TouchPhase = false;
    std::function<bool()> m_LinkOk;
    std::function<void(bool)> m_SetSense;
    int m_StallMs = 10000;

    MonitorNarrowing* m_Narrowing = nullptr;  // a child, made at the first start

    qint64 m_FromMs = 0;
    bool m_KeyBusy = false;
    qint64 m_LastProgressMs = 0;
    QVector<QVector<int32_t>> m_Reference;  // per limits channel
    QVector<QVector<int32_t>> m_Diff;
    QTimer* m_Watch;
    QString m_LastPrompt;
    std::unique_ptr<SnrProcedure> m_Snr;
};
