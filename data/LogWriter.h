// Writes a "tkeval log 1" file row by row. Widget-free: the main window's
// recorder and the command-line tool both use it.
//
// Rows collect in memory and go to the file at least once a second (sooner
// when many pile up), each time as whole rows followed by a data sync, so a
// crash or power cut costs at most the last second. When the disk fills or
// the file becomes unwritable the writer stops: the file is cut back to its
// last whole row, failed() turns true and error() names the file and the
// cause. Every write after that is refused.
#pragma once

#include <QByteArray>
#include <QFile>
#include <QObject>
#include <QString>
#include <QTimer>
#include <cerrno>

#include "data/LogFormat.h"
#include "data/MonitorSample.h"

class LogWriter : public QObject {
    Q_OBJECT
public:
    explicit LogWriter(QObject* parent = nullptr);
    ~LogWriter() override;

    // Creates (or replaces: callers ask first) the file and writes the two
    // '#' lines and the column line. False with error() set when it cannot.
    bool open(const QString& path, const LogHeader& header);
    // Flushes, syncs and closes; what failed() says stays.
    void close();

    bool isOpen() const { return m_File.isOpen(); }
    bool failed() const { return m_Failed; }
    // The failure was a pipe whose reader had gone (a log streamed into
    // "head"): for a stream, the end the reader asked for.
    bool readerGone() const { return m_Failed && m_FailErrno == EPIPE; }
    QString error() const { return m_Error; }
    QString path() const { return m_Path; }
    // Rows accepted since open() (those still in memory included).
    qint64 rowCount() const { return m_Rows; }

    // Each returns false once the writer has failed or is closed. tMs counts
    // from the start of the log; the event's own tMs is not used. A sample
    // gives one row per configured SBF (at least one).
    bool writeSample(qint64 tMs, const MonitorSample& sample);
    bool writeTouch(qint64 tMs, const TouchEvent& event);
    bool writeRegister(qint64 tMs, qint64 wallMs, int reg, int value);
    bool writeMark(qint64 tMs, qint64 wallMs, const QString& text);

    // Hands the rows in memory to the file and syncs it. False on failure.
    bool flush();

    // Rows in memory beyond this many bytes are written at once.
    static constexpr int kFlushBytes = 64 * 1024;
    static constexpr int kFlushIntervalMs = 1000;

signals:
    // Once, when a write fails; the message names the file and the cause.
    void failedWith(const QString& message);

private:
    void beginRow(qint64 wallMs, qint64 tMs, const char* kind);
    bool endRow();
    bool writeOut(bool sync);
    void fail(const QString& cause, int err = 0);
    const QByteArray& timeText(qint64 wallMs);

    QFile m_File;
    QString m_Path;
    QByteArray m_Buffer;
    qint64 m_Written = 0;  // bytes known to be whole rows in the file
    qint64 m_Rows = 0;
    qint64 m_LastFlushMs = 0;
    bool m_Failed = false;
    int m_FailErrno = 0;
    QString m_Error;
    QTimer m_FlushTimer;
    // The row time changes its seconds part only once a second.
    qint64 m_TimeSecond = -1;
    QByteArray m_TimePrefix;
    QByteArray m_TimeText;
};
