#include "data/LogReader.h"

#include <QBuffer>
#include <QDateTime>
#include <QDir>
#include <QList>
#include <limits>
#include <utility>

#include "link/hex.h"

namespace {

enum Column { kTime, kTMs, kKind, kChannel, kSbf, kRef, kSense, kDiff, kOffset, kTouch, kNote, kColumnCount };

enum class Split { Ok, Broken, Open };

Split SplitRecord(const QByteArray& record, QVector<QByteArray>* fields) {
    fields->clear();
    QByteArray field;
    const qsizetype n = record.size();
    qsizetype i = 0;
    for (;;) {
        field.clear();
        if (i < n && record[i] == '"') {
            ++i;
            for (;;) {
                if (i >= n) return Split::Open;
                const char c = record[i++];
                if (c != '"') {
                    field += c;
                } else if (i < n && record[i] == '"') {
                    field += '"';
                    ++i;
                } else {
                    break;
                }
            }
            if (i < n && record[i] != ',') return Split::Broken;
        } else {
            const qsizetype comma = record.indexOf(',', i);
            const qsizetype end = comma < 0 ? n : comma;
            // A view into the record: a row's eleven fields would otherwise
            // be eleven allocations.
            field = QByteArray::fromRawData(record.constData() + i, end - i);
            if (field.contains('"')) return Split::Broken;
            i = end;
        }
        fields->append(field);
        if (i >= n) return Split::Ok;
        ++i;  // the comma
        if (i >= n) {
            fields->append(QByteArray());
            return Split::Ok;
        }
    }
}

bool ToInt64(const QByteArray& text, qint64 lo, qint64 hi, qint64* out) {
    bool ok = false;
    const qint64 v = text.toLongLong(&ok, 10);
    if (!ok || v < lo || v > hi) return false;
    *out = v;
    return true;
}

QString Shown(const QByteArray& text) {
    const QString s = QString::fromUtf8(text.left(60));
    return text.size() > 60 ? s + QStringLiteral("...") : s;
}

bool IsHex(const QByteArray& text, int maxDigits) {
    if (text.isEmpty() || text.size() > maxDigits) return false;
    for (const char c : text)
        if (Hex_Digit(c) < 0) return false;
    return true;
}

}  // namespace

bool Log_SplitRecord(const QByteArray& record, QVector<QByteArray>* fields) {
    const bool ok = SplitRecord(record, fields) == Split::Ok;
    // The caller's fields must not point into its record.
    for (QByteArray& f : *fields) f.detach();
    return ok;
}

LogReader::LogReader() = default;
LogReader::~LogReader() = default;

bool LogReader::open(const QString& path) {
    m_Opened = false;
    // Read as it goes: an hour's log is tens of megabytes.
    auto file = std::make_unique<QFile>(path);
    if (!file->open(QIODevice::ReadOnly)) {
        m_Error =
            QObject::tr("The log %1 could not be opened: %2").arg(QDir::toNativeSeparators(path), file->errorString());
        return false;
    }
    m_Owned = std::move(file);
    return open(m_Owned.get(), QDir::toNativeSeparators(path));
}

bool LogReader::open(const QByteArray& content, const QString& name) {
    m_Owned.reset();
    m_Data = content;
    m_Pos = 0;
    return start(nullptr, name);
}

bool LogReader::fail(int line, const QString& why) {
    m_Error = QObject::tr("%1 is not a tkeval log 1 file: line %2 %3").arg(m_Name).arg(line).arg(why);
    return false;
}

void LogReader::problem(int line, const QString& why) {
    ++m_ProblemCount;
    if (m_Problems.size() < kMaxProblems) m_Problems << QObject::tr("line %1: %2").arg(line).arg(why);
}

LogReader::LineResult LogReader::readLine(QByteArray* line) {
    if (m_AtEnd) return LineResult::End;
    if (m_Device == nullptr) {
        // In memory: the line is a view into the content, as the rows' fields
        // are views into the line.
        if (m_Pos >= m_Data.size()) {
            m_AtEnd = true;
            return LineResult::End;
        }
        ++m_Line;
        const qsizetype nl = m_Data.indexOf('\n', m_Pos);
        if (nl < 0) {
            *line = QByteArray::fromRawData(m_Data.constData() + m_Pos, m_Data.size() - m_Pos);
            m_Pos = m_Data.size();
            m_AtEnd = true;
            return LineResult::Cut;
        }
        qsizetype end = nl;
        if (end > m_Pos && m_Data.at(end - 1) == '\r') --end;
        *line = QByteArray::fromRawData(m_Data.constData() + m_Pos, end - m_Pos);
        m_Pos = nl + 1;
        return LineResult::Line;
    }
    *line = m_Device->readLine();
    if (line->isEmpty()) {
        m_AtEnd = true;
        return LineResult::End;
    }
    ++m_Line;
    if (!line->endsWith('\n')) {
        m_AtEnd = true;
        return LineResult::Cut;
    }
    line->chop(line->endsWith("\r\n") ? 2 : 1);
    return LineResult::Line;
}

bool LogReader::open(QIODevice* device, const QString& name) {
    m_Data.clear();
    return start(device, name);
}

bool LogReader::start(QIODevice* device, const QString& name) {
    m_Device = device;
    m_Opened = true;
    m_Name = name;
    m_Line = 0;
    m_AtEnd = false;
    m_Truncated = false;
    m_Problems.clear();
    m_ProblemCount = 0;
    m_HavePending = false;
    m_Error.clear();

    QByteArray line;
    LineResult r = readLine(&line);
    if (r == LineResult::End) return fail(1, QObject::tr("is missing: the file is empty"));
    if (line.startsWith("\xEF\xBB\xBF")) line.remove(0, 3);
    if (r == LineResult::Cut && line.endsWith('\r')) line.chop(1);
    if (line != LogFormat::kMagic)
        return fail(1, QObject::tr("is \"%1\", not \"%2\"").arg(Shown(line), QLatin1String(LogFormat::kMagic)));

    r = readLine(&line);
    if (r != LineResult::Line) return fail(2, QObject::tr("is missing or cut off"));
    QString why;
    if (!LogHeader::fromLine(line, &m_Header, &why)) return fail(m_Line, QStringLiteral(": ") + why);

    do {
        r = readLine(&line);
        if (r != LineResult::Line)
            return fail(m_Line + (r == LineResult::End ? 1 : 0),
                        QObject::tr("should hold the column names but is missing or cut off"));
    } while (line.startsWith('#'));

    static const char* const kNames[kColumnCount] = {"time",  "t_ms", "kind",   "channel", "sbf", "ref",
                                                     "sense", "diff", "offset", "touch",   "note"};
    const QList<QByteArray> names = line.split(',');
    m_ColumnCount = static_cast<int>(names.size());
    for (int c = 0; c < kColumnCount; ++c) {
        m_Col[c] = static_cast<int>(names.indexOf(QByteArray(kNames[c])));
        if (m_Col[c] < 0)
            return fail(
                m_Line,
                QObject::tr("should name the columns, but \"%1\" has no column %2").arg(Shown(line), kNames[c]));
    }
    return true;
}

bool LogReader::parseTime(const QByteArray& text, qint64* wallMs) {
    const bool plain = text.size() == 23 && text[19] == '.' && text[10] == 'T';
    if (plain) {
        const QByteArrayView prefix = QByteArrayView(text).first(19);
        if (prefix != QByteArrayView(m_TimePrefix)) {
            const QDateTime at =
                QDateTime::fromString(QString::fromLatin1(prefix), QStringLiteral("yyyy-MM-ddTHH:mm:ss"));
            if (!at.isValid()) return false;
            m_TimePrefix = prefix.toByteArray();
            m_TimePrefixMs = at.toMSecsSinceEpoch();
        }
        qint64 ms = 0;
        for (const char c : QByteArrayView(text).sliced(20)) {
            if (c < '0' || c > '9') return false;
            ms = ms * 10 + (c - '0');
        }
        *wallMs = m_TimePrefixMs + ms;
        return true;
    }
    const QDateTime at = QDateTime::fromString(QString::fromLatin1(text), Qt::ISODateWithMs);
    if (!at.isValid()) return false;
    *wallMs = at.toMSecsSinceEpoch();
    return true;
}

namespace {

bool KindOf(const QByteArray& kind, LogRowKind* out) {
    static const std::pair<const char*, LogRowKind> kKinds[] = {{"sample", LogRowKind::Sample},
                                                                {"touch", LogRowKind::Touch},
                                                                {"write", LogRowKind::Write},
                                                                {"mark", LogRowKind::Mark}};
    for (const auto& [name, k] : kKinds) {
        if (kind == name) {
            *out = k;
            return true;
        }
    }
    return false;
}

}  // namespace

QByteArray LogReader::column(const QVector<QByteArray>& f, int c) const {
    const int i = m_Col[c];
    return i < f.size() ? f[i] : QByteArray();
}

bool LogReader::parseSample(const QVector<QByteArray>& f, LogRow* row, QString* why) const {
    qint64 v = 0;
    auto number = [&](int c, qint64 lo, qint64 hi, const char* name) {
        if (ToInt64(column(f, c), lo, hi, &v)) return true;
        *why = QObject::tr("%1 \"%2\" is not a number from %3 to %4").arg(name, Shown(column(f, c))).arg(lo).arg(hi);
        return false;
    };
    if (!number(kChannel, 1, kMaxChannels, "channel")) return false;
    row->channel = static_cast<int>(v) - 1;
    if (!number(kSbf, 1, kMaxSbf, "sbf")) return false;
    row->sbf = static_cast<int>(v) - 1;
    if (!number(kRef, 0, 0xFFFF, "ref")) return false;
    row->ref = static_cast<uint16_t>(v);
    if (!number(kSense, 0, 0xFFFF, "sense")) return false;
    row->sense = static_cast<uint16_t>(v);
    if (!number(kDiff, INT32_MIN, INT32_MAX, "diff")) return false;
    row->diff = static_cast<int32_t>(v);
    if (!number(kOffset, INT32_MIN, INT32_MAX, "offset")) return false;
    row->offset = static_cast<int32_t>(v);
    return true;
}

bool LogReader::parseRow(const QVector<QByteArray>& f, LogRow* row, QString* why) {
    auto field = [&](int c) { return column(f, c); };
    const QByteArray kind = field(kKind);
    if (!KindOf(kind, &row->kind)) {
        *why = QObject::tr("unknown kind \"%1\"").arg(Shown(kind));
        return false;
    }
    if (!parseTime(field(kTime), &row->wallMs)) {
        *why = QObject::tr("time \"%1\" is not a date and time").arg(Shown(field(kTime)));
        return false;
    }
    if (!ToInt64(field(kTMs), 0, std::numeric_limits<qint64>::max() / 2, &row->tMs)) {
        *why = QObject::tr("t_ms \"%1\" is not a count of milliseconds").arg(Shown(field(kTMs)));
        return false;
    }
    switch (row->kind) {
        case LogRowKind::Sample:
            return parseSample(f, row, why);
        case LogRowKind::Touch: {
            const QByteArray t = field(kTouch);
            if (!IsHex(t, 4)) {
                *why = QObject::tr("touch \"%1\" is not four hexadecimal digits").arg(Shown(t));
                return false;
            }
            row->touch = static_cast<uint16_t>(t.toUInt(nullptr, 16));
            return true;
        }
        case LogRowKind::Write: {
            const QByteArray n = field(kNote);
            const qsizetype eq = n.indexOf('=');
            if (eq < 0 || !IsHex(n.left(eq), 2) || !IsHex(n.mid(eq + 1), 2)) {
                *why = QObject::tr("note \"%1\" of a write is not RR=VV").arg(Shown(n));
                return false;
            }
            row->reg = static_cast<int>(n.left(eq).toUInt(nullptr, 16));
            row->value = static_cast<int>(n.mid(eq + 1).toUInt(nullptr, 16));
            return true;
        }
        case LogRowKind::Mark:
            row->note = QString::fromUtf8(field(kNote));
            return true;
    }
    return false;
}

bool LogReader::next(LogRow* row) {
    if (!m_Opened) return false;
    QByteArray record;
    QByteArray more;
    QVector<QByteArray>& fields = m_Fields;
    for (;;) {
        LineResult r = readLine(&record);
        if (r == LineResult::End) return false;
        const int first = m_Line;
        Split split = r == LineResult::Cut ? Split::Open : SplitRecord(record, &fields);
        // A quoted note may hold line ends: the record goes on.
        while (split == Split::Open && r == LineResult::Line) {
            r = readLine(&more);
            if (r == LineResult::End) break;
            record += '\n';
            record += more;
            split = r == LineResult::Cut ? Split::Open : SplitRecord(record, &fields);
        }
        if (split == Split::Open) {
            m_Truncated = true;
            problem(first, QObject::tr("the log ends in the middle of this row (cut off); it is left out"));
            return false;
        }
        if (record.isEmpty() || record.startsWith('#')) continue;
        if (split == Split::Broken) {
            problem(first, QObject::tr("broken quoting; row skipped"));
            continue;
        }
        LogRow parsed;
        parsed.line = first;
        QString why;
        if (!parseRow(fields, &parsed, &why)) {
            problem(first, why + QObject::tr("; row skipped"));
            continue;
        }
        *row = parsed;
        return true;
    }
}

bool LogReader::nextEvent(LogEvent* event) {
    LogRow r;
    if (m_HavePending) {
        r = m_Pending;
        m_HavePending = false;
    } else if (!next(&r)) {
        return false;
    }
    LogEvent e;
    e.kind = r.kind;
    e.line = r.line;
    e.tMs = r.tMs;
    switch (r.kind) {
        case LogRowKind::Sample: {
            MonitorSample& s = e.sample;
            s.tMs = r.tMs;
            s.wallMs = r.wallMs;
            s.channel = r.channel;
            unsigned seen = 0;
            for (;;) {
                s.ref[r.sbf] = r.ref;
                s.sense[r.sbf] = r.sense;
                s.diff[r.sbf] = r.diff;
                s.offset[r.sbf] = r.offset;
                s.sbfCount = std::max(s.sbfCount, r.sbf + 1);
                seen |= 1u << r.sbf;
                if (!next(&r)) break;
                if (r.kind != LogRowKind::Sample || r.tMs != s.tMs || r.channel != s.channel ||
                    (seen & (1u << r.sbf))) {
                    m_Pending = r;
                    m_HavePending = true;
                    break;
                }
            }
            break;
        }
        case LogRowKind::Touch:
            e.touch.tMs = r.tMs;
            e.touch.wallMs = r.wallMs;
            e.touch.mask = r.touch;
            break;
        case LogRowKind::Write:
            e.reg = r.reg;
            e.value = r.value;
            break;
        case LogRowKind::Mark:
            e.note = r.note;
            break;
    }
    *event = e;
    return true;
}
