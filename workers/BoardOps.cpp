#include "workers/BoardOps.h"

#include <algorithm>

#include "app/limits.h"
#include "data/RegisterImage.h"
#include "link/commands.h"
#include "platform/timing.h"
#include "workers/ChipFamily.h"

bool Firmware_Accepted(uint8_t version) { return version >= kFirmwareMin && version <= kFirmwareMax; }

QString Firmware_Text(uint8_t version) {
    // Divided in double, printed from single precision, like the board's tool
    // has always shown it.
    return QString::asprintf("v%.01f", static_cast<double>(static_cast<float>(version / 10.0)));
}

ExchangeResult Exchange_Retried(int attempts, const std::function<ExchangeResult()>& exchange,
                                const std::function<bool()>& keepTrying) {
    ExchangeResult result = ExchangeResult::noReply();
    for (int i = 0; i < attempts && result.cause() == ExchangeCause::NoReply && (!keepTrying || keepTrying()); ++i)
        result = exchange();
    return result;
}

BoardIdentity Board_Identify(BoardLink& link, uint8_t family, bool anyFirmware, int attempts) {
    const auto tried = [attempts](const std::function<ExchangeResult()>& exchange) {
        return Exchange_Retried(attempts, exchange);
    };
    BoardIdentity id;
    uint8_t version = 0;
    id.version = tried([&] { return CMD_Version(link, &version); });
    if (!id.version.ok()) return id;
    id.firmware = version;
    id.accepted = Firmware_Accepted(version);
    if (!id.accepted && !anyFirmware) return id;
    id.deviceSent = true;
    id.device = tried([&] { return CMD_Device(link, family); });
    return id;
}

ExchangeResult Register_Read(BoardLink& link, RegisterImage& image, uint8_t dev, uint8_t reg, uint8_t len) {
    uint8_t buf[kMaxRegsPerFrame];
    const int n = std::min<int>(len, kMaxRegsPerFrame);
    image.copy(reg, buf, n);
    const ExchangeResult result = CMD_Read(link, dev, reg, static_cast<uint8_t>(n), buf);
    image.store(reg, buf, n);
    return result;
}

int Register_ReadValue(BoardLink& link, RegisterImage& image, uint8_t dev, uint8_t reg) {
    return Register_Read(link, image, dev, reg, 1).ok() ? int(image.value(reg)) : -1;
}

QVector<RegisterRun> Register_Runs(const QVector<int>& regs) {
    QVector<RegisterRun> runs;
    for (int i = 0; i < regs.size();) {
        int count = 1;
        while (i + count < regs.size() && count < kMaxRegsPerFrame && regs[i + count] == regs[i] + count) ++count;
        runs.append({regs[i], count});
        i += count;
    }
    return runs;
}

ExchangeResult Register_Write(BoardLink& link, RegisterImage& image, uint8_t dev, uint8_t reg, uint8_t value) {
    const ExchangeResult result = CMD_Write(link, dev, reg, 1, &value);
    if (result.ok()) image.noteWritten(reg, value);
    return result;
}

int I2C_Search(BoardLink& link, RegisterImage& image) {
    for (int c = kI2CSearchFirst; c < kI2CSearchEnd; c += kI2CSearchStep) {
        if (link.exchangesAborted()) return -1;
        if (Register_Read(link, image, static_cast<uint8_t>(c), 0x00, 1).ok()) return c;
    }
    return -1;
}

uint8_t Chip_ResetRegister(int family) { return ChipFamily_Rules(family).resetReg; }

void Chip_Reset(BoardLink& link, uint8_t dev, int family, uint8_t current, const RegisterWrite& write) {
    const ChipFamily& f = ChipFamily_Rules(family);
    const auto send = [&](uint8_t value) {
        if (write)
            write(f.resetReg, value);
        else
            CMD_Write(link, dev, f.resetReg, 1, &value);
    };
    send(static_cast<uint8_t>(current | f.resetBit));
    Sleep(1);
    send(current);
    CMD_Output(link, f.pulseFirst);
    Sleep(1);
    CMD_Output(link, f.pulseSecond);
}

RegLoadResult RegFile_WriteToChip(BoardLink& link, RegFileReader* reader, uint8_t dev,
                                  const std::function<void(const RegFileLine&)>& afterWrite,
                                  const RegisterWrite& write) {
    RegLoadResult r;
    RegFileLine line;
    while (reader->next(&line)) {
        if (line.kind != RegLineKind::Write) {
            ++r.skipped;
            if (r.firstBadLine == 0 && line.kind != RegLineKind::Note) r.firstBadLine = reader->lineNumber();
            continue;
        }
        // Addresses without a cell are written all the same: the file may set
        // registers that the hint file does not show.
        const ExchangeResult result =
            write ? write(line.address, line.value) : CMD_Write(link, dev, line.address, 1, &line.value);
        if (!result.ok()) ++r.refused;
        ++r.written;
        if (afterWrite) afterWrite(line);
        // The rest of the file would only fail.
        if (link.exchangesAborted()) {
            r.aborted = true;
            break;
        }
    }
    return r;
}
