#include "handoff/KeyTraceBuilder.h"

#include <QStringList>

#include "data/LogReader.h"
#include "workers/ChipFamily.h"

KeyTraceBuilder::KeyTraceBuilder(int family, const QVector<int>& sbfOf, const QVector<int>& threshold)
    : m_Family(family), m_SbfOf(sbfOf), m_StartThreshold(threshold), m_Traces(kMaxChannels) {
    m_SbfOf.resize(kMaxChannels);
    m_StartThreshold.resize(kMaxChannels);
    for (int c = 0; c < kMaxChannels; ++c) {
        m_Traces[c].channel = c;
        m_Traces[c].sbf = qBound(0, m_SbfOf[c], kMaxSbf - 1);
    }
}

void KeyTraceBuilder::seen(qint64 tMs) {
    if (m_FirstMs < 0 || tMs < m_FirstMs) m_FirstMs = tMs;
    if (tMs > m_LastMs) m_LastMs = tMs;
}

void KeyTraceBuilder::addSample(const MonitorSample& s) {
    if (s.channel < 0 || s.channel >= kMaxChannels) return;
    seen(s.tMs);
    KeyTrace& t = m_Traces[s.channel];
    if (t.tMs.isEmpty() && m_StartThreshold[s.channel] >= 0 && t.threshold.isEmpty())
        t.threshold.append({s.tMs, m_StartThreshold[s.channel]});
    const int32_t d = s.diff[t.sbf];
    t.tMs.append(s.tMs);
    t.diff.append(d);
    if (m_Mask == 0) t.untouched.append(d);
}

void KeyTraceBuilder::setTouch(qint64 tMs, uint16_t mask) {
    seen(tMs);
    for (int c = 0; c < kMaxChannels; ++c) {
        const bool was = (m_Mask >> c) & 1u;
        const bool now = (mask >> c) & 1u;
        if (!was && now) m_Traces[c].touches.append({tMs, -1});
        if (was && !now && !m_Traces[c].touches.isEmpty()) m_Traces[c].touches.last().endMs = tMs;
    }
    m_Mask = mask;
}

void KeyTraceBuilder::addWrite(qint64 tMs, int reg, int value) {
    seen(tMs);
    for (int c = 0; c < kMaxChannels; ++c) {
        if (ChipFamily_SensitivityRegister(m_Family, c) != reg) continue;
        KeyTrace& t = m_Traces[c];
        if (!t.threshold.isEmpty() && t.threshold.last().tMs == tMs)
            t.threshold.last().value = value;
        else
            t.threshold.append({tMs, value});
    }
}

QVector<KeyTrace> KeyTraceBuilder::finish() {
    QVector<KeyTrace> out;
    for (KeyTrace& t : m_Traces) {
        if (t.tMs.isEmpty()) continue;
        for (TouchInterval& i : t.touches)
            if (i.endMs < 0) i.endMs = m_LastMs;
        out.append(t);
    }
    return out;
}

bool KeyTraceBuilder::readLog(const QString& path, QString* error, QStringList* notes) {
    LogReader reader;
    if (!reader.open(path)) {
        *error = reader.error();
        return false;
    }
    LogEvent e;
    while (reader.nextEvent(&e)) {
        switch (e.kind) {
            case LogRowKind::Sample:
                addSample(e.sample);
                break;
            case LogRowKind::Touch:
                setTouch(e.touch.tMs, e.touch.mask);
                break;
            case LogRowKind::Write:
                addWrite(e.tMs, e.reg, e.value);
                break;
            case LogRowKind::Mark:
                break;
        }
    }
    if (reader.problemCount() > 0) {
        // problems() reads "line N: why; row skipped", but nothing is skipped here.
        QString why = reader.problems().first();
        if (why.endsWith(QLatin1String("; row skipped"))) why.chop(13);
        *error = QStringLiteral("%1: %2").arg(path, why);
        return false;
    }
    if (reader.truncated())
        notes->append(QStringLiteral("%1: the last line (%2) was cut off, as by a crash; it is left out")
                          .arg(path)
                          .arg(reader.lineNumber()));
    return true;
}

void KeyTraceBuilder::readHistory(const SampleHistory& history, int channels) {
    const int n = qMin(channels, kMaxChannels);
    const qint64 to = history.newestMs();
    // Untouched: no key at all touched at the sample's time.
    QVector<TouchInterval> any;
    for (int c = 0; c < n; ++c) any += history.touchIntervals(c, 0, to);
    for (int c = 0; c < n; ++c) {
        KeyTrace& t = m_Traces[c];
        for (qsizetype i = 0; i < history.size(c); ++i) {
            const MonitorSample& s = history.at(c, i);
            seen(s.tMs);
            if (t.tMs.isEmpty() && m_StartThreshold[c] >= 0) t.threshold.append({s.tMs, m_StartThreshold[c]});
            t.tMs.append(s.tMs);
            t.diff.append(s.diff[t.sbf]);
            bool touched = false;
            for (const TouchInterval& iv : any) touched |= s.tMs >= iv.startMs && (iv.endMs < 0 || s.tMs < iv.endMs);
            if (!touched) t.untouched.append(s.diff[t.sbf]);
        }
        if (!t.tMs.isEmpty()) t.touches = history.touchIntervals(c, t.tMs.first(), to);
    }
}
