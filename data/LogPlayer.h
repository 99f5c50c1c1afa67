// Plays a log into the sample stream as if a board were sending it, so every
// view that follows the stream shows the recording unchanged. Widget-free.
//
// The whole log is read at load(); playing publishes its samples and touch
// changes on a timer at 1x, 4x, 16x the recorded pace or as fast as the
// event loop allows, in slices that keep the window responsive.
#pragma once

#include <QObject>
#include <QStringList>
#include <QTimer>
#include <QVector>

#include "data/LogReader.h"

class SampleStream;

class LogPlayer : public QObject {
    Q_OBJECT
public:
    static constexpr int kAsFastAsPossible = 0;

    explicit LogPlayer(SampleStream* stream, QObject* parent = nullptr);

    // Reads the log; false with error() when it is not one. Bad rows are
    // skipped and listed in problems().
    bool load(const QString& path);
    QString path() const { return m_Path; }
    QString error() const { return m_Error; }
    QStringList problems() const { return m_Problems; }
    int problemCount() const { return m_ProblemCount; }
    bool truncated() const { return m_Truncated; }
    const LogHeader& header() const { return m_Header; }

    qint64 durationMs() const { return m_Events.isEmpty() ? 0 : m_Events.last().tMs; }
    qint64 positionMs() const { return m_PosMs; }
    int speed() const { return m_Speed; }
    bool isPlaying() const { return m_Timer.isActive(); }
    bool atEnd() const { return m_Next >= m_Events.size(); }
    int eventCount() const { return static_cast<int>(m_Events.size()); }
    // Sample and touch events published since load().
    qint64 publishedCount() const { return m_Published; }

public slots:
    // Starts the stream's replay origin at the first play after load().
    void play();
    void pause();
    // 1, 4, 16 or kAsFastAsPossible.
    void setSpeed(int speed);
    // Goes to a time of the log; the touch state of that moment is shown again.
    void seek(qint64 ms);

signals:
    void positionChanged(qint64 ms);
    void playingChanged(bool playing);
    // A mark of the log was passed.
    void markReached(const QString& text);
    void finished();

private slots:
    void tick();

private:
    void anchor();
    void publish(const LogEvent& e);

    SampleStream* m_Stream;
    QString m_Path;
    QString m_Error;
    QStringList m_Problems;
    int m_ProblemCount = 0;
    bool m_Truncated = false;
    LogHeader m_Header;
    QVector<LogEvent> m_Events;
    qsizetype m_Next = 0;
    qint64 m_PosMs = 0;
    int m_Speed = 1;
    bool m_Started = false;
    qint64 m_AnchorPosMs = 0;
    qint64 m_AnchorSteadyMs = 0;
    qint64 m_Published = 0;
    QTimer m_Timer;
};
