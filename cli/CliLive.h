// The live side of a tkeval-cli run: the processing and polling threads, the
// sample stream they feed, touch frames taken from the receive bytes, and an
// event loop that Ctrl+C, a lost board or the command itself ends.
#pragma once

#include <QObject>
#include <QString>

#include "link/event_frames.h"

class ChipPollThread;
class CliOutput;
class CliSession;
class MonitorThread;
class QSocketNotifier;
class QTimer;
class SampleStream;

class CliLive : public QObject {
    Q_OBJECT
public:
    CliLive(CliSession* session, CliOutput* out);
    // Monitoring off, both threads stopped.
    ~CliLive() override;

    SampleStream* stream() const { return m_Stream; }
    // Starts the threads on a connected session with the chip answering.
    void start();
    // Runs until quit(), Ctrl+C, a lost port or chip, or timeoutMs (< 0:
    // none); returns the exit code, 0 for a time-out or Ctrl+C.
    int exec(qint64 timeoutMs);
    void quit(int code);
    bool interrupted() const { return m_Interrupted; }

signals:
    // A line was entered on standard input.
    void enterPressed();

private:
    void takeReceivedBytes();
    void readStdin();

    CliSession* m_Session;
    CliOutput* m_Out;
    SampleStream* m_Stream;
    MonitorThread* m_Monitor = nullptr;
    ChipPollThread* m_ChipPoll = nullptr;
    EventFrameAssembler m_Frames;
    QTimer* m_ChipGrace = nullptr;  // runs while the chip has missed a probe
    QSocketNotifier* m_Stdin = nullptr;
    bool m_Running = false;
    bool m_Interrupted = false;
    int m_Code = 0;
};
