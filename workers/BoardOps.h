// What the main window and the command-line tool do alike with the board and
// the chip: judge the firmware version, search the chip's I2C address, reset
// the chip and write a register file. Widget-free; every exchange goes through
// link/commands, so these block the calling thread the same way.
#pragma once

#include <QString>
#include <QVector>
#include <cstdint>
#include <functional>

#include "app/regfile.h"
#include "link/ExchangeResult.h"

class BoardLink;
class RegisterImage;

// Firmware versions are reported times ten; v3.0 to v3.9 speak our protocol.
constexpr int kFirmwareMin = 30;
constexpr int kFirmwareMax = 39;

bool Firmware_Accepted(uint8_t version);
// "v3.2" for 32.
QString Firmware_Text(uint8_t version);

// Runs an exchange that may safely be repeated (a read, the version
// request, a write of the same value again) once more while its reply does
// not come, up to attempts times in all, each try only while keepTrying()
// (when given) holds: on a busy machine a reply can miss its time-out once
// without anything being wrong. No reply when no try was made.
constexpr int kExchangeAttempts = 3;
ExchangeResult Exchange_Retried(int attempts, const std::function<ExchangeResult()>& exchange,
                                const std::function<bool()>& keepTrying = {});

// What the board said on connecting.
struct BoardIdentity {
    ExchangeResult version = ExchangeResult::noReply();  // the version request's result
    uint8_t firmware = 0;                                // the version reported; 0 unless version.ok()
    bool accepted = false;                               // one this tool supports
    bool deviceSent = false;                             // the chip family was sent...
    ExchangeResult device = ExchangeResult::noReply();   // ...with this result
};

// The connect sequence's exchanges once the port is open: the firmware
// version, then, for a version this tool supports (any, with anyFirmware),
// the chip family. An exchange whose reply did not come is tried again up to
// attempts times in all. Blocks the calling thread: an exchange job's, or
// tkeval-cli's own.
BoardIdentity Board_Identify(BoardLink& link, uint8_t family, bool anyFirmware, int attempts = 1);

// Addresses the I2C search tries, in order: 0xB0, 0xB2 ... 0xBE.
constexpr int kI2CSearchFirst = 0xB0;
constexpr int kI2CSearchEnd = 0xC0;  // exclusive
constexpr int kI2CSearchStep = 2;

// Reads len registers (at most one frame) from reg on into the image. What
// the board sent replaces the image's bytes and what did not arrive becomes
// 0; when nothing was sent the image keeps its bytes. The command's result.
ExchangeResult Register_Read(BoardLink& link, RegisterImage& image, uint8_t dev, uint8_t reg, uint8_t len);
// The register's value after a read into the image, -1 when the read failed.
int Register_ReadValue(BoardLink& link, RegisterImage& image, uint8_t dev, uint8_t reg);
// Consecutive registers that one read frame carries.
struct RegisterRun {
    int first = 0;
    int count = 0;
};
// The registers of regs (ascending) in runs of consecutive addresses of at
// most one frame each, in order: what a table read or a read-back asks for.
QVector<RegisterRun> Register_Runs(const QVector<int>& regs);

// One register write; one the board acknowledged is announced by the image's
// written() (the log records it from there). The command's result.
ExchangeResult Register_Write(BoardLink& link, RegisterImage& image, uint8_t dev, uint8_t reg, uint8_t value);

// The first address whose register 0 reads, or -1 when none answers (or the
// exchanges were aborted). The value read lands in the register image.
int I2C_Search(BoardLink& link, RegisterImage& image);

// Sends one register write and returns the command's result; lets a caller
// route the writes it makes through its own hook (the window logs them).
using RegisterWrite = std::function<ExchangeResult(uint8_t reg, uint8_t value)>;

// Resets the chip of a family at dev: sets the family's reset bit in its
// reset register, puts the register back to current 1 ms later, then pulses
// the board output. current is the register's value as last seen. write,
// when given, sends the register writes instead of a plain CMD_Write.
void Chip_Reset(BoardLink& link, uint8_t dev, int family, uint8_t current, const RegisterWrite& write = {});
// The register that Chip_Reset writes for a family.
uint8_t Chip_ResetRegister(int family);

struct RegLoadResult {
    int written = 0;       // write lines sent, acknowledged or not
    int refused = 0;       // of those, not acknowledged by the board
    int skipped = 0;       // every other line: notes, blank lines, bad lines
    int firstBadLine = 0;  // 1-based number of the first line starting with "w" that did not parse; 0 for none
    bool aborted = false;  // the exchanges were aborted; the rest of the file was left
};

// Writes the register file behind an open reader to the chip at dev, one
// write per line in file order. Lines that are not writes are passed over.
// afterWrite sees each write line once its write has gone out. write, when
// given, sends one register instead of a plain CMD_Write (a caller may repeat
// a write whose reply came late).
RegLoadResult RegFile_WriteToChip(BoardLink& link, RegFileReader* reader, uint8_t dev,
                                  const std::function<void(const RegFileLine&)>& afterWrite = {},
                                  const RegisterWrite& write = {});
