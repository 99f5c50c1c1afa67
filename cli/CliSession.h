// One run of tkeval-cli against the board: the working directory's settings,
// the receive thread, the port and the connect sequence the main window
// follows. Closing (the destructor) stops every thread and closes the port.
#pragma once

#include <QObject>
#include <QString>
#include <QVector>
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>

#include "cli/CliArgs.h"
#include "link/ExchangeResult.h"

class BoardLink;
class BoardSession;
class RegisterImage;
class CliOutput;

class CliSession : public QObject {
    Q_OBJECT
public:
    CliSession(const CliArgs& args, CliOutput* out);
    ~CliSession() override;

    // system.ini and config.ini of --workdir (or the current directory), and
    // --addr. Returns an exit code.
    int loadConfig();
    // Opens --port, waits for the bridge, checks the firmware and sends the
    // device family. Returns an exit code; a failure has been reported.
    int connectBoard();
    // Whether the chip answers at the configured address (one probe).
    bool probeChip();
    // Connects and requires the chip; an exit code.
    int connectChip();

    QString port() const { return m_Port; }
    QString device() const;
    QString workDir() const;
    uint8_t firmware() const;
    // The chip address byte as it goes out on the wire.
    uint8_t dev() const;

    // Runs an exchange that may safely be repeated (a read, the version
    // request) again when the board's reply did not come in time: on a busy
    // machine a reply can miss its 100 ms once without anything being wrong.
    ExchangeResult retried(const std::function<ExchangeResult()>& exchange);

    // The exit code and message for an exchange that returned result; what
    // names the registers or the request.
    int exchangeFailed(const QString& what, ExchangeResult result);
    // Reads the given registers (ascending) in runs of consecutive addresses
    // of at most one frame each, as the window's table read does, handing
    // each value to take. An exit code; a failed run is reported.
    int readRegisters(const QVector<int>& regs, const std::function<void(int reg, uint8_t value)>& take);
    bool portFailed() const { return m_PortFailed.load(std::memory_order_acquire); }
    // The board: its configuration, link, register image and state.
    BoardSession& board() { return *m_Board; }
    const BoardSession& board() const { return *m_Board; }
    // This run's copy of the chip's registers.
    RegisterImage& image();
    // The board link; its receive thread runs once connectBoard has begun.
    BoardLink& link();

private:
    const CliArgs& m_Args;
    CliOutput* m_Out;
    QString m_Port;
    bool m_Open = false;
    std::atomic<bool> m_PortFailed{false};
    std::unique_ptr<BoardSession> m_Board;
};

// A file argument as the user meant it: relative to the directory tkeval-cli
// was started in, whatever --workdir says.
QString Cli_UserPath(const QString& path);
