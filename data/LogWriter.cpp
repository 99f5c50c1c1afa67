#include "data/LogWriter.h"

#include <unistd.h>

#include <QDir>
#include <algorithm>
#include <cerrno>
#include <cstring>

namespace {

void AppendNote(QByteArray* out, const QString& text) {
    const QByteArray utf8 = text.toUtf8();
    const bool quote =
        std::any_of(utf8.begin(), utf8.end(), [](char c) { return c == ',' || c == '"' || c == '\n' || c == '\r'; });
    if (!quote) {
        *out += utf8;
        return;
    }
    *out += '"';
    for (const char c : utf8) {
        if (c == '"') *out += '"';
        *out += c;
    }
    *out += '"';
}

QByteArray Hex2(int v) { return QByteArray::number(v & 0xFF, 16).rightJustified(2, '0').toUpper(); }

}  // namespace

LogWriter::LogWriter(QObject* parent) : QObject(parent) {
    // Rows that arrive in a burst and then stop must still reach the disk
    // within the second.
    m_FlushTimer.setInterval(kFlushIntervalMs / 2);
    connect(&m_FlushTimer, &QTimer::timeout, this, [this] {
        if (!m_Buffer.isEmpty()) flush();
    });
}

LogWriter::~LogWriter() { close(); }

bool LogWriter::open(const QString& path, const LogHeader& header) {
    close();
    m_Path = path;
    m_Failed = false;
    m_FailErrno = 0;
    m_Error.clear();
    m_Buffer.clear();
    m_Written = 0;
    m_Rows = 0;
    m_TimeSecond = -1;
    m_File.setFileName(path);
    if (!m_File.open(QIODevice::WriteOnly | QIODevice::Truncate | QIODevice::Unbuffered)) {
        m_Failed = true;
        m_Error = tr("The log %1 could not be created: %2").arg(QDir::toNativeSeparators(path), m_File.errorString());
        return false;
    }
    m_Buffer += LogFormat::kMagic;
    m_Buffer += '\n';
    m_Buffer += header.toLine();
    m_Buffer += '\n';
    m_Buffer += LogFormat::kColumns;
    m_Buffer += '\n';
    if (!flush()) return false;
    m_FlushTimer.start();
    return true;
}

void LogWriter::close() {
    m_FlushTimer.stop();
    if (!m_File.isOpen()) return;
    flush();
    if (m_File.isOpen()) m_File.close();
}

const QByteArray& LogWriter::timeText(qint64 wallMs) {
    const qint64 second = wallMs >= 0 ? wallMs / 1000 : (wallMs - 999) / 1000;
    if (second != m_TimeSecond) {
        m_TimeSecond = second;
        m_TimePrefix = Log_FormatTime(second * 1000).left(19) + '.';
    }
    m_TimeText = m_TimePrefix;
    m_TimeText += QByteArray::number(wallMs - second * 1000).rightJustified(3, '0');
    return m_TimeText;
}

void LogWriter::beginRow(qint64 wallMs, qint64 tMs, const char* kind) {
    m_Buffer += timeText(wallMs);
    m_Buffer += ',';
    m_Buffer += QByteArray::number(tMs);
    m_Buffer += ',';
    m_Buffer += kind;
    m_Buffer += ',';
}

bool LogWriter::endRow() {
    m_Buffer += '\n';
    ++m_Rows;
    // A sync per 64 KiB would cost more than the rows at a high rate: the
    // bytes go out at once, the sync waits for its second.
    if (Steady_Ms() - m_LastFlushMs >= kFlushIntervalMs) return flush();
    if (m_Buffer.size() >= kFlushBytes) return writeOut(false);
    return true;
}

bool LogWriter::writeSample(qint64 tMs, const MonitorSample& s) {
    if (m_Failed || !m_File.isOpen()) return false;
    const int n = std::clamp(s.sbfCount, 1, kMaxSbf);
    for (int k = 0; k < n; ++k) {
        beginRow(s.wallMs, tMs, "sample");
        m_Buffer += QByteArray::number(s.channel + 1);
        m_Buffer += ',';
        m_Buffer += QByteArray::number(k + 1);
        m_Buffer += ',';
        m_Buffer += QByteArray::number(s.ref[k]);
        m_Buffer += ',';
        m_Buffer += QByteArray::number(s.sense[k]);
        m_Buffer += ',';
        m_Buffer += QByteArray::number(s.diff[k]);
        m_Buffer += ',';
        m_Buffer += QByteArray::number(s.offset[k]);
        m_Buffer += ",,";
        // Only the last row of the publication may flush, so that a reader
        // never meets half a publication in a file that is still growing.
        if (k + 1 < n) {
            m_Buffer += '\n';
            ++m_Rows;
        } else if (!endRow()) {
            return false;
        }
    }
    return true;
}

bool LogWriter::writeTouch(qint64 tMs, const TouchEvent& e) {
    if (m_Failed || !m_File.isOpen()) return false;
    beginRow(e.wallMs, tMs, "touch");
    m_Buffer += ",,,,,,";
    m_Buffer += QByteArray::number(e.mask, 16).rightJustified(4, '0').toUpper();
    m_Buffer += ',';
    return endRow();
}

bool LogWriter::writeRegister(qint64 tMs, qint64 wallMs, int reg, int value) {
    if (m_Failed || !m_File.isOpen()) return false;
    beginRow(wallMs, tMs, "write");
    m_Buffer += ",,,,,,,";
    m_Buffer += Hex2(reg) + '=' + Hex2(value);
    return endRow();
}

bool LogWriter::writeMark(qint64 tMs, qint64 wallMs, const QString& text) {
    if (m_Failed || !m_File.isOpen()) return false;
    beginRow(wallMs, tMs, "mark");
    m_Buffer += ",,,,,,,";
    AppendNote(&m_Buffer, text);
    return endRow();
}

bool LogWriter::flush() {
    if (m_Failed || !m_File.isOpen()) return false;
    m_LastFlushMs = Steady_Ms();
    return writeOut(true);
}

bool LogWriter::writeOut(bool sync) {
    if (m_Failed || !m_File.isOpen()) return false;
    errno = 0;
    const qint64 n = m_File.write(m_Buffer);
    if (n != m_Buffer.size()) {
        // The file's own message is often "Unknown error" for a short write.
        const int err = errno;
        fail(err != 0 ? QString::fromLocal8Bit(strerror(err)) : m_File.errorString(), err);
        return false;
    }
    // A pipe or a terminal (a log streamed to standard output) has nothing
    // to sync; the write above already handed the rows on.
    if (sync && ::fdatasync(m_File.handle()) != 0 && errno != EINVAL) {
        const int err = errno;
        fail(QString::fromLocal8Bit(strerror(err)), err);
        return false;
    }
    m_Written += n;
    m_Buffer.clear();
    return true;
}

void LogWriter::fail(const QString& cause, int err) {
    m_Failed = true;
    m_FailErrno = err;
    m_FlushTimer.stop();
    m_Buffer.clear();
    // A row cut in the middle would read as a bad row; what was written
    // before it stays a valid log.
    m_File.resize(m_Written);
    m_File.close();
    m_Error = tr("Logging stopped: %1 could not be written: %2")
                  .arg(QDir::toNativeSeparators(m_Path), cause.isEmpty() ? tr("unknown error") : cause);
    emit failedWith(m_Error);
}
