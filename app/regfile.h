// Register files (*.sf): one line "w" + two-digit address + value text per
// register, in address order, nothing else. Widget-free, so that a
// command-line tool can read and write the same files as the main window.
//
//   w0010
//   w0100
//   w2A05
//
// Reading looks only at the first five characters of a line; lines that do
// not start with a lower-case "w" are notes and are passed over.
#pragma once

#include <QByteArray>
#include <QString>
#include <cstdint>

// What one line of a register file asks for.
enum class RegLineKind {
    Write,       // write value to address
    Note,        // does not start with "w" (blank lines included)
    BadAddress,  // "w" not followed by two hexadecimal digits
    BadValue,    // value part is neither blank nor one or two hexadecimal digits
};

struct RegFileLine {
    RegLineKind kind = RegLineKind::Note;
    uint8_t address = 0;
    uint8_t value = 0;
    // The value characters as they stand in the file (at most two), for the
    // register cell; the value itself ignores surrounding blanks.
    QByteArray valueText;
};

// "w%02X%s\n": the address (low 8 bits) and the value text as given.
QByteArray RegFile_FormatLine(int address, const QByteArray& valueText);

// One line, with or without its line end (LF or CR LF). A blank value part
// ("w0A") writes 0x00 and a single digit counts on its own ("w0A5" writes
// 0x05): files saved from a half-filled cell look like that.
RegFileLine RegFile_ParseLine(const QByteArray& line);

// Replaces path with content atomically: either the whole new file is there
// afterwards or the old one is untouched. False with a reason in *error.
bool RegFile_Save(const QString& path, const QByteArray& content, QString* error);

// Reads a register file line by line, from memory; open() takes the whole
// file in first, so a file that cannot be read fails before any of it is
// used. Lines of any length are read whole.
//
//   RegFileReader r;
//   if (!r.open(path)) report(r.errorString());
//   RegFileLine line;
//   while (r.next(&line)) { ... }
class RegFileReader {
public:
    // Larger than any register file: refused instead of read into memory.
    static constexpr qint64 kMaxFileSize = 64 * 1024 * 1024;

    bool open(const QString& path);
    // Reads content as if it were the file.
    void setData(const QByteArray& content);
    // The next line; false at the end.
    bool next(RegFileLine* line);
    // Kept for callers that check it: reading can only fail in open() now.
    bool failed() const { return false; }
    // Lines handed out so far.
    int lineNumber() const { return m_lineNumber; }
    QString errorString() const { return m_error; }
    // The whole file as read.
    const QByteArray& data() const { return m_data; }

private:
    QByteArray m_data;
    qsizetype m_pos = 0;
    QString m_error;
    int m_lineNumber = 0;
};
