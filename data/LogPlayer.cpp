#include "data/LogPlayer.h"

#include <algorithm>

#include "data/SampleStream.h"

namespace {
// Paced playback looks at the clock this often; faster would only redraw the
// same numbers.
constexpr int kPacedTickMs = 20;
// As fast as possible: how long one slice may publish before the event loop
// gets its turn again.
constexpr qint64 kSliceMs = 30;
}  // namespace

LogPlayer::LogPlayer(SampleStream* stream, QObject* parent) : QObject(parent), m_Stream(stream) {
    connect(&m_Timer, &QTimer::timeout, this, &LogPlayer::tick);
}

bool LogPlayer::load(const QString& path) {
    pause();
    LogReader reader;
    m_Path = path;
    m_Events.clear();
    m_Next = 0;
    m_PosMs = 0;
    m_Started = false;
    m_Published = 0;
    if (!reader.open(path)) {
        m_Error = reader.error();
        return false;
    }
    m_Error.clear();
    m_Header = reader.header();
    LogEvent e;
    while (reader.nextEvent(&e)) m_Events.append(e);
    // Rows out of time order would stall paced playback; keep file order but
    // never let time run backwards.
    qint64 last = 0;
    for (LogEvent& ev : m_Events) {
        ev.tMs = std::max(ev.tMs, last);
        ev.sample.tMs = ev.tMs;
        ev.touch.tMs = ev.tMs;
        last = ev.tMs;
    }
    m_Problems = reader.problems();
    m_ProblemCount = reader.problemCount();
    m_Truncated = reader.truncated();
    return true;
}

void LogPlayer::anchor() {
    m_AnchorPosMs = m_PosMs;
    m_AnchorSteadyMs = Steady_Ms();
}

void LogPlayer::play() {
    if (isPlaying()) return;
    if (!m_Started) {
        m_Stream->restart(SampleStream::Source::Replay);
        m_Started = true;
    }
    if (atEnd()) seek(0);
    anchor();
    m_Timer.start(m_Speed == kAsFastAsPossible ? 0 : kPacedTickMs);
    emit playingChanged(true);
}

void LogPlayer::pause() {
    if (!isPlaying()) return;
    m_Timer.stop();
    emit playingChanged(false);
}

void LogPlayer::setSpeed(int speed) {
    m_Speed = speed;
    anchor();
    if (isPlaying()) m_Timer.start(m_Speed == kAsFastAsPossible ? 0 : kPacedTickMs);
}

void LogPlayer::seek(qint64 ms) {
    ms = std::clamp<qint64>(ms, 0, durationMs());
    const auto it =
        std::lower_bound(m_Events.cbegin(), m_Events.cend(), ms, [](const LogEvent& e, qint64 t) { return e.tMs < t; });
    m_Next = it - m_Events.cbegin();
    m_PosMs = ms;
    anchor();
    if (m_Started) {
        m_Stream->jumpTo(ms);
        TouchEvent held;
        for (qsizetype i = m_Next - 1; i >= 0; --i) {
            if (m_Events[i].kind == LogRowKind::Touch) {
                held = m_Events[i].touch;
                break;
            }
        }
        held.tMs = ms;
        m_Stream->publishTouch(held);
    }
    emit positionChanged(m_PosMs);
}

void LogPlayer::publish(const LogEvent& e) {
    switch (e.kind) {
        case LogRowKind::Sample:
            m_Stream->publish(e.sample);
            ++m_Published;
            break;
        case LogRowKind::Touch:
            m_Stream->publishTouch(e.touch);
            ++m_Published;
            break;
        case LogRowKind::Mark:
            emit markReached(e.note);
            break;
        case LogRowKind::Write:
            break;
    }
}

void LogPlayer::tick() {
    if (m_Speed == kAsFastAsPossible) {
        const qint64 until = Steady_Ms() + kSliceMs;
        while (m_Next < m_Events.size()) {
            publish(m_Events[m_Next]);
            m_PosMs = m_Events[m_Next].tMs;
            ++m_Next;
            if ((m_Next & 63) == 0 && Steady_Ms() >= until) break;
        }
    } else {
        const qint64 now = m_AnchorPosMs + (Steady_Ms() - m_AnchorSteadyMs) * m_Speed;
        while (m_Next < m_Events.size() && m_Events[m_Next].tMs <= now) publish(m_Events[m_Next++]);
        m_PosMs = std::min(now, durationMs());
    }
    emit positionChanged(m_PosMs);
    if (atEnd()) {
        m_PosMs = durationMs();
        pause();
        emit finished();
    }
}
