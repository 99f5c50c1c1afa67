#include "app/regfile.h"

#include <QFile>
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
    setData(QByteArray());
    m_error.clear();
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        m_error = file.errorString();
        return false;
    }
    if (file.size() > kMaxFileSize) {
        m_error = QStringLiteral("too large for a register file (%1 bytes)").arg(file.size());
        return false;
    }
    QByteArray content;
    if (!file.isSequential()) {
        content = file.readAll();
    } else {
        // A pipe tells no size: read up to the same limit.
        while (content.size() <= kMaxFileSize) {
            const QByteArray chunk = file.read(64 * 1024);
            if (chunk.isEmpty()) break;
            content += chunk;
        }
    }
    if (file.error() != QFileDevice::NoError) {
        m_error = file.errorString();
        return false;
    }
    if (content.size() > kMaxFileSize) {
        m_error = QStringLiteral("too large for a register file (over %1 bytes)").arg(kMaxFileSize);
        return false;
    }
    setData(content);
    return true;
}

void RegFileReader::setData(const QByteArray& content) {
    m_data = content;
    m_pos = 0;
    m_lineNumber = 0;
}

bool RegFileReader::next(RegFileLine* line) {
    if (m_pos >= m_data.size()) return false;
    const qsizetype nl = m_data.indexOf('\n', m_pos);
    const qsizetype end = nl < 0 ? m_data.size() : nl + 1;
    *line = RegFile_ParseLine(QByteArray::fromRawData(m_data.constData() + m_pos, end - m_pos));
    // The value text must not point into m_data, which the next setData() frees.
    line->valueText.detach();
    m_pos = end;
    ++m_lineNumber;
    return true;
}
