// Records the sample stream into a log: every live sample and touch change,
// the engineer's register writes and marks. Widget-free; the main window
// owns one, the command-line tool may too.
//
// Times count from the start of the recording, whatever connection the
// stream's origin belongs to, so a log may start before monitoring and run
// across a pulled board. Replayed data is never recorded again.
#pragma once

#include <QObject>
#include <QString>

#include "data/LogWriter.h"

class SampleStream;

class LogRecorder : public QObject {
    Q_OBJECT
public:
    explicit LogRecorder(SampleStream* stream, QObject* parent = nullptr);
    ~LogRecorder() override;

    // False with error() set when the file cannot be created.
    bool start(const QString& path, const LogHeader& header);
    // Flushes, syncs and closes; announced by stopped() with an empty reason.
    void stop();

    bool isRecording() const { return m_Writer.isOpen() && !m_Writer.failed(); }
    QString path() const { return m_Writer.path(); }
    QString error() const { return m_Writer.error(); }
    qint64 rowCount() const { return m_Writer.rowCount(); }
    // Steady ms since start().
    qint64 elapsedMs() const;

public slots:
    void addMark(const QString& text);
    void addRegisterWrite(int reg, int value);

signals:
    // The recording ended: reason is empty after stop(), else why it failed.
    void stopped(const QString& reason);

private slots:
    void onSample(const MonitorSample& sample);
    void onTouch(const TouchEvent& event);
    void onFailed(const QString& message);

private:
    qint64 logMs(qint64 streamMs) const;

    SampleStream* m_Stream;
    LogWriter m_Writer;
    qint64 m_StartMs = 0;
};
