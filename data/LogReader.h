// Reads a "tkeval log 1" file. Widget-free: replay and the command-line tool
// use it.
//
// open() refuses a file that is not such a log, naming the first line that
// is wrong. After that, next() returns the good rows in file order; a bad row
// is skipped and noted in problems() with its line number. A last line
// without its line end is a log cut off by a crash: reading stops before it
// and truncated() says so.
#pragma once

#include <QByteArray>
#include <QFile>
#include <QString>
#include <QStringList>
#include <QVector>
#include <memory>

#include "data/LogFormat.h"
#include "data/MonitorSample.h"

enum class LogRowKind { Sample, Touch, Write, Mark };

// One row. Channel and SBF count from 0 here, as everywhere in the code.
struct LogRow {
    int line = 0;  // where the row starts, counting from 1
    LogRowKind kind = LogRowKind::Mark;
    qint64 wallMs = 0;
    qint64 tMs = 0;
    int channel = 0;
    int sbf = 0;
    uint16_t ref = 0;
    uint16_t sense = 0;
    int32_t diff = 0;
    int32_t offset = 0;
    uint16_t touch = 0;
    int reg = 0;
    int value = 0;
    QString note;
};

// A row as a source would have published it: the sample rows of one
// publication (same t_ms and channel) come together as one MonitorSample.
struct LogEvent {
    LogRowKind kind = LogRowKind::Mark;
    int line = 0;
    qint64 tMs = 0;
    MonitorSample sample;  // kind Sample; its tMs is the log's t_ms
    TouchEvent touch;      // kind Touch
    int reg = 0;           // kind Write
    int value = 0;
    QString note;  // kind Mark
};

class LogReader {
public:
    LogReader();
    ~LogReader();

    // Opens the file and reads its first lines; false with error() naming
    // the file and the first wrong line.
    bool open(const QString& path);
    // The same on a device that is already open.
    bool open(QIODevice* device, const QString& name);
    // The same on a log held in memory (fuzzing, tests); name is what
    // messages call it. Rows are parsed in place: content, if it was made
    // with QByteArray::fromRawData(), must outlive the reading.
    bool open(const QByteArray& content, const QString& name);

    const LogHeader& header() const { return m_Header; }
    QString error() const { return m_Error; }

    bool next(LogRow* row);
    bool nextEvent(LogEvent* event);

    // "line N: why" for each skipped row, the first kMaxProblems of them.
    QStringList problems() const { return m_Problems; }
    int problemCount() const { return m_ProblemCount; }
    bool truncated() const { return m_Truncated; }
    // Lines read so far.
    int lineNumber() const { return m_Line; }

    static constexpr int kMaxProblems = 100;

private:
    enum class LineResult { Line, End, Cut };
    bool start(QIODevice* device, const QString& name);
    LineResult readLine(QByteArray* line);
    bool parseRow(const QVector<QByteArray>& fields, LogRow* row, QString* why);
    // A sample row's channel, SBF and values.
    bool parseSample(const QVector<QByteArray>& fields, LogRow* row, QString* why) const;
    // The field of column c (kKind...), empty when the row is short of it.
    QByteArray column(const QVector<QByteArray>& fields, int c) const;
    bool parseTime(const QByteArray& text, qint64* wallMs);
    void problem(int line, const QString& why);
    bool fail(int line, const QString& why);

    // The file opened by this reader itself.
    std::unique_ptr<QIODevice> m_Owned;
    // Where the lines come from: the device, or without one the content.
    QIODevice* m_Device = nullptr;
    QByteArray m_Data;
    qsizetype m_Pos = 0;
    bool m_Opened = false;
    // Reused from row to row.
    QVector<QByteArray> m_Fields;
    QString m_Name;
    LogHeader m_Header;
    QString m_Error;
    QStringList m_Problems;
    int m_ProblemCount = 0;
    bool m_Truncated = false;
    bool m_AtEnd = false;
    int m_Line = 0;
    // Index of each known column in a row, -1 when absent.
    int m_Col[11] = {};
    int m_ColumnCount = 0;
    // Seconds part of the last row time and its epoch ms.
    QByteArray m_TimePrefix;
    qint64 m_TimePrefixMs = 0;
    // A sample row read ahead while grouping a publication.
    bool m_HavePending = false;
    LogRow m_Pending;
};

// Splits one CSV record (RFC 4180; the record may span lines inside quotes).
// False when its quoting is broken.
bool Log_SplitRecord(const QByteArray& record, QVector<QByteArray>* fields);
