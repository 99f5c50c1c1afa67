#include "app/regfile.h"

#include <QSaveFile>
#include <cstdio>

#include "link/hex.h"

namespace {

bool IsHexDigit(char c) { return Hex_Digit(c) >= 0; }

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\v' || c == '\f'; }

}  // namespace

QByteArray RegFile_FormatLine(int address, const QByteArray& valueText) {
    char head[4];
    std::snprintf(head, sizeof head, "w%02X", address & 0xFF);
    return QByteArray(head) + valueText + '\n';
}

RegFileLine RegFile_ParseLine(const QByteArray& raw) {
    RegFileLine out;
    QByteArray line = raw;
    while (line.endsWith('\n') || line.endsWith('\r')) line.chop(1);

    if (!line.startsWith('w')) return out;

    // A note that merely starts with "w" ("warning: ...") must not turn into
    // a write of register 0x00.
    if (line.size() < 3 || !IsHexDigit(line[1]) || !IsHexDigit(line[2])) {
        out.kind = RegLineKind::BadAddress;
        return out;
    }
    out.address = static_cast<uint8_t>(Hex_Digit(line[1]) * 16 + Hex_Digit(line[2]));
    out.valueText = line.mid(3, 2);

    // Saved cells may be blank or hold one digit; anything else in the value
    // part is not a register value, and writing 0x00 for it would clobber the
    // register. The part is at most two characters, so blanks can only
    // surround the digits, never split them.
    int value = 0;
    for (char c : out.valueText) {
        if (IsBlank(c)) continue;
        if (!IsHexDigit(c)) {
            out.kind = RegLineKind::BadValue;
            return out;
        }
        value = value * 16 + Hex_Digit(c);
    }
    out.value = static_cast<uint8_t>(value);
    out.kind = RegLineKind::Write;
    return out;
}

bool RegFile_Save(const QString& path, const QByteArray& content, QString* error) {
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly)) {
        if (error) *error = file.errorString();
        return false;
    }
    // commit() flushes the buffer itself but overlooks a short write there (a
    // full disk would then replace the old file with a truncated one), so the
    // buffer is flushed and checked first.
    if (file.write(content) != content.size() || !file.flush()) {
        if (error) *error = file.errorString();
        file.cancelWriting();
        return false;
    }
    if (!file.commit()) {
        if (error) *error = file.errorString();
        return false;
    }
    return true;
}

bool RegFileReader::open(const QString& path) {
    m_file.close();
    m_file.setFileName(path);
    m_lineNumber = 0;
    m_failed = false;
    m_error.clear();
    if (!m_file.open(QIODevice::ReadOnly)) {
        m_error = m_file.errorString();
        return false;
    }
    return true;
}

bool RegFileReader::next(RegFileLine* line) {
    if (!m_file.isOpen() || m_failed) return false;
    if (m_file.atEnd()) {
        m_file.close();
        return false;
    }
    // readLine() without a limit returns the whole line however long it is,
    // so the tail of a long note never starts a line of its own.
    const QByteArray raw = m_file.readLine();
    if (raw.isEmpty()) {
        if (!m_file.atEnd()) {
            m_failed = true;
            m_error = m_file.errorString();
        }
        m_file.close();
        return false;
    }
    ++m_lineNumber;
    *line = RegFile_ParseLine(raw);
    return true;
}
