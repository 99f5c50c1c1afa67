#include "cli/CliSession.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include "app/config.h"
#include "app/limits.h"
#include "cli/CliOutput.h"
#include "data/RegisterImage.h"
#include "link/BoardLink.h"
#include "link/ReceiveThread.h"
#include "link/commands.h"
#include "workers/BoardOps.h"
#include "workers/BoardSession.h"

namespace {

QString DescribeResult(ExchangeResult result) {
    switch (result.cause()) {
        case ExchangeCause::NoPort:
            return QStringLiteral("the port is not open");
        case ExchangeCause::NoReply:
            return QStringLiteral("no reply from the board within %1 ms").arg(kReplyTimeoutMs);
        case ExchangeCause::Done:
        case ExchangeCause::BoardStatus:
            break;
    }
    return QStringLiteral("the board reported status '%1'").arg(QLatin1Char(result.letter()));
}

// Why a path cannot be opened as the board's port, as far as the file system tells.
QString OpenFailureReason(const QString& path) {
    const QFileInfo info(path);
    if (!info.exists()) return QStringLiteral("no such device");
    if (info.isDir()) return QStringLiteral("is a directory");
    if (!info.isReadable() || !info.isWritable())
        return QStringLiteral("no read and write access (the dialout group?)");
    return QStringLiteral("cannot be opened as a serial port at 9600 8N1");
}

}  // namespace

QString Cli_UserPath(const QString& path) { return QDir::current().absoluteFilePath(path); }

CliSession::CliSession(const CliArgs& args, CliOutput* out)
    : QObject(nullptr), m_Args(args), m_Out(out), m_Board(std::make_unique<BoardSession>()) {
    // Under the test suites the simulated board is another process on a
    // machine the suites keep busy: it gets the room the window suites'
    // harness gives their boards. A real board answers well within 100 ms.
    if (qEnvironmentVariableIsSet("TKEVAL_TEST")) link().setReplyTimeout(kReplyTimeoutMs * 5);
}

CliSession::~CliSession() {
    if (!link().receiver()->isRunning()) return;
    m_Board->closePort();
    m_Board->shutDown();
}

RegisterImage& CliSession::image() { return m_Board->image(); }

BoardLink& CliSession::link() { return m_Board->link(); }

uint8_t CliSession::firmware() const { return static_cast<uint8_t>(m_Board->firmware()); }

uint8_t CliSession::dev() const { return m_Board->chipAddress(); }

QString CliSession::device() const { return m_Board->device(); }

QString CliSession::workDir() const { return m_Board->workDir(); }

int CliSession::loadConfig() {
    const QString dir = m_Args.has("workdir") ? m_Args.value("workdir") : QDir::currentPath();
    const QFileInfo info(dir);
    if (!info.isDir()) return m_Out->fail(kExitFile, QStringLiteral("%1: no such working directory").arg(dir));
    QStringList messages;
    BoardConfig config = Config_Read(info.absoluteFilePath(), &messages);
    for (const QString& m : messages) CliOutput::note(QStringLiteral("tkeval-cli: warning: ") + m);
    if (m_Args.has("addr")) {
        int addr = 0;
        if (!Cli_ParseHexByte(m_Args.value("addr"), &addr))
            return m_Out->fail(kExitUsage, QStringLiteral("--addr %1: not a hex byte").arg(m_Args.value("addr")));
        config.i2cAddress = addr;
    }
    m_Board->setConfig(config);
    return kExitOk;
}

int CliSession::connectBoard() {
    if (!m_Args.has("port") || m_Args.value("port").isEmpty())
        return m_Out->fail(kExitUsage, QStringLiteral("'%1' needs --port PATH").arg(m_Args.command));
    m_Port = m_Args.value("port");

    ReceiveThread* receiver = link().receiver();
    // Direct: the flag must be up before the failed exchange returns.
    connect(
        receiver, &ReceiveThread::lineFailed, this,
        [this](int) { m_PortFailed.store(true, std::memory_order_release); }, Qt::DirectConnection);
    m_Board->startReceiver();
    if (receiver->Open_Port(m_Port) != 1)
        return m_Out->fail(kExitPort, QStringLiteral("%1: %2").arg(m_Port, OpenFailureReason(m_Port)));
    m_Board->portOpened();
    m_Open = true;

    const BoardIdentity id = Board_Identify(link(), static_cast<uint8_t>(m_Board->family() & 0xFF),
                                            m_Args.has("any-firmware"), kExchangeAttempts);
    if (!id.version.ok()) return exchangeFailed(QStringLiteral("firmware version request"), id.version);
    m_Board->setFirmware(id.firmware);
    if (!id.deviceSent) {
        return m_Out->fail(kExitBoard, QStringLiteral("%1: firmware %2 is not supported (v3.0 to v3.9); "
                                                      "--any-firmware uses it all the same")
                                           .arg(m_Port, Firmware_Text(id.firmware)));
    }
    if (!id.device.ok()) return exchangeFailed(QStringLiteral("device family command"), id.device);
    return kExitOk;
}

bool CliSession::probeChip() {
    uint8_t v = 0;
    const bool answers = retried([&] { return CMD_Read(link(), dev(), 0x00, 1, &v); }).ok();
    m_Board->setChipPresent(answers);
    return answers;
}

int CliSession::connectChip() {
    const int code = connectBoard();
    if (code != kExitOk) return code;
    if (probeChip()) return kExitOk;
    if (portFailed() || !link().isLive()) return exchangeFailed(QStringLiteral("chip probe"), ExchangeResult::noPort());
    return m_Out->fail(kExitBoard,
                       QStringLiteral("%1: no chip answers at I2C address %2").arg(m_Port, Hex2Upper(dev())));
}

ExchangeResult CliSession::retried(const std::function<ExchangeResult()>& exchange) {
    return Exchange_Retried(kExchangeAttempts, exchange, [this] { return !portFailed(); });
}

int CliSession::exchangeFailed(const QString& what, ExchangeResult result) {
    if (portFailed() || (m_Open && !link().isLive()))
        return m_Out->fail(kExitPort, QStringLiteral("%1: the port failed (%2)").arg(m_Port, what));
    return m_Out->fail(kExitBoard, QStringLiteral("%1: %2: %3").arg(m_Port, what, DescribeResult(result)));
}

int CliSession::readRegisters(const QVector<int>& regs, const std::function<void(int reg, uint8_t value)>& take) {
    for (const RegisterRun& run : Register_Runs(regs)) {
        uint8_t buf[kMaxRegsPerFrame] = {};
        const ExchangeResult r = retried([&] {
            return CMD_Read(link(), dev(), static_cast<uint8_t>(run.first), static_cast<uint8_t>(run.count), buf);
        });
        if (!r.ok()) {
            const QString what = run.count == 1 ? QStringLiteral("reading register %1").arg(Hex2Upper(run.first))
                                                : QStringLiteral("reading registers %1-%2")
                                                      .arg(Hex2Upper(run.first), Hex2Upper(run.first + run.count - 1));
            return exchangeFailed(what, r);
        }
        for (int k = 0; k < run.count; ++k) take(run.first + k, buf[k]);
    }
    return kExitOk;
}
