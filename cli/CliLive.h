// The live side of a tkeval-cli run: the board session's processing and
// polling threads and the sample stream they feed, the chip's grace, and an
// event loop that Ctrl+C, a lost board or the command itself ends.
#pragma once

#include <QObject>
#include <QString>

class CliOutput;
class CliSession;
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
    void readStdin();

    CliSession* m_Session;
    CliOutput* m_Out;
    SampleStream* m_Stream;         // the board session's
    QTimer* m_ChipGrace = nullptr;  // runs while the chip has missed a probe
    QSocketNotifier* m_Stdin = nullptr;
    bool m_Running = false;
    bool m_Interrupted = false;
    int m_Code = 0;
};
