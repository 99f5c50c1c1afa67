// A register file read whole for comparing, exporting or reporting, and the
// comparison of two register sets. Unlike Load, which writes the good lines
// and reports the rest, these refuse a file with any bad line: a comparison
// or a header built on half a file would mislead.
#pragma once

#include <QMap>
#include <QString>
#include <QVector>
#include <cstdint>

// Register -> value; a register written twice keeps its last value, as Load
// leaves it on the chip.
using RegisterSet = QMap<int, uint8_t>;

// False with "FILE: line N: why" (or "FILE: cannot be read: why") in *error.
bool RegisterSet_Read(const QString& path, RegisterSet* out, QString* error);

// One register whose value differs, or that only one side holds (-1 there).
struct RegisterDifference {
    int reg = 0;
    int a = -1;
    int b = -1;
};

// Every register of either set whose values differ, in address order.
QVector<RegisterDifference> RegisterSet_Compare(const RegisterSet& a, const RegisterSet& b);
