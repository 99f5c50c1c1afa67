// The tuned register set as C source for the product's firmware, or as the
// same content in JSON. Widget-free: the window and tkeval-cli write alike.
//
//   /* comment block: tool, date, device, firmware, address, source */
//   #ifndef TK_TUNING_H ... #include <stdint.h>
//   #define TK_I2C_ADDR 0xB0u
//   #define TK_CHIP_ID 0x00u  /* Chip ID */
//   struct tk_reg_value { uint8_t reg; uint8_t value; };
//   #define TK_REG_VALUE_COUNT 2u
//   static const struct tk_reg_value tk_reg_values[TK_REG_VALUE_COUNT] = {...};
//
// It compiles as C99 and as C++ with -Wall -Wextra -Werror -pedantic.
#pragma once

#include <QByteArray>
#include <QString>
#include <QVector>

#include "handoff/HandoffInfo.h"
#include "handoff/RegisterNames.h"

// The prefix when none is given: the device name if it makes an identifier,
// else TK.
QString Header_DefaultPrefix(const QString& device);
// Empty when prefix can lead every name; else why not.
QString Header_CheckPrefix(const QString& prefix);

// The identifiers a header of that prefix uses besides the register names,
// without the prefix: RegName_Assign must keep clear of them.
QStringList Header_ReservedNames();

// regs must have their names assigned (RegName_Assign with the reserved names).
QByteArray Header_CText(const HandoffInfo& info, const QString& prefix, const QVector<NamedRegister>& regs);
QByteArray Header_JsonText(const HandoffInfo& info, const QString& prefix, const QVector<NamedRegister>& regs);
