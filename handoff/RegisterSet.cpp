#include "handoff/RegisterSet.h"

#include "app/regfile.h"

bool RegisterSet_Read(const QString& path, RegisterSet* out, QString* error) {
    RegFileReader reader;
    if (!reader.open(path)) {
        *error = QStringLiteral("%1: cannot be read: %2").arg(path, reader.errorString());
        return false;
    }
    RegisterSet set;
    RegFileLine line;
    while (reader.next(&line)) {
        switch (line.kind) {
            case RegLineKind::Write:
                set.insert(line.address, line.value);
                break;
            case RegLineKind::Note:
                break;
            case RegLineKind::BadAddress:
                *error = QStringLiteral("%1: line %2: \"w\" is not followed by a two-digit hex register")
                             .arg(path)
                             .arg(reader.lineNumber());
                return false;
            case RegLineKind::BadValue:
                *error = QStringLiteral("%1: line %2: register %3 has no hex value")
                             .arg(path)
                             .arg(reader.lineNumber())
                             .arg(QString::asprintf("%02X", line.address));
                return false;
        }
    }
    if (reader.failed()) {
        *error = QStringLiteral("%1: reading stopped after line %2: %3")
                     .arg(path)
                     .arg(reader.lineNumber())
                     .arg(reader.errorString());
        return false;
    }
    *out = set;
    return true;
}

QVector<RegisterDifference> RegisterSet_Compare(const RegisterSet& a, const RegisterSet& b) {
    QVector<RegisterDifference> out;
    for (int reg = 0; reg < 256; ++reg) {
        const int va = a.contains(reg) ? a.value(reg) : -1;
        const int vb = b.contains(reg) ? b.value(reg) : -1;
        if (va != vb) out.append({reg, va, vb});
    }
    return out;
}
