#include "platform/ini.h"

#include <QFile>
#include <QList>
#include <QSaveFile>
#include <climits>

namespace {

// One physical line: its text without the line ending, and the ending itself,
// so that a rewrite can put back exactly what was there.
struct Line {
    QByteArray text;
    QByteArray eol;
};

QList<Line> Split_Lines(const QByteArray& data) {
    QList<Line> lines;
    qsizetype pos = 0;
    while (pos < data.size()) {
        const qsizetype nl = data.indexOf('\n', pos);
        Line line;
        if (nl < 0) {
            line.text = data.mid(pos);
            pos = data.size();
        } else {
            qsizetype end = nl;
            if (end > pos && data.at(end - 1) == '\r') --end;
            line.text = data.mid(pos, end - pos);
            line.eol = data.mid(end, nl + 1 - end);
            pos = nl + 1;
        }
        lines.append(line);
    }
    return lines;
}

// True when the line is a section header; its name goes to name.
bool Section_Of(QByteArrayView text, QString* name) {
    const QByteArrayView t = text.trimmed();
    if (!t.startsWith('[')) return false;
    const qsizetype close = t.indexOf(']');
    if (close < 0) return false;
    *name = QString::fromUtf8(t.sliced(1, close - 1)).trimmed();
    return true;
}

bool Is_Comment(QByteArrayView text) { return text.trimmed().startsWith(';'); }

// Whether the key part of an entry line names key. Most lines are ASCII: they
// are compared in place, where converting every key of the file would cost
// more than the rest of a lookup. (QString trims the same blanks as
// QByteArrayView within ASCII; outside it, case folding may map a letter to
// an ASCII one, so those keys take the full path.)
bool Key_Is(QByteArrayView part, const QString& key) {
    const QByteArrayView t = part.trimmed();
    bool ascii = true;
    for (const char c : t) ascii = ascii && static_cast<unsigned char>(c) < 0x80;
    if (ascii) return !t.isEmpty() && QLatin1String(t.data(), t.size()).compare(key, Qt::CaseInsensitive) == 0;
    const QString k = QString::fromUtf8(part).trimmed();
    return !k.isEmpty() && k.compare(key, Qt::CaseInsensitive) == 0;
}

// The value of an entry line for key; false for other lines and other keys.
bool Entry_Value(QByteArrayView text, const QString& key, QString* value) {
    if (Is_Comment(text)) return false;
    const qsizetype eq = text.indexOf('=');
    if (eq < 0 || !Key_Is(text.first(eq), key)) return false;
    if (value) *value = QString::fromUtf8(text.sliced(eq + 1)).trimmed();
    return true;
}

// A default that no INI value can be: a value is a single line.
const QString& Missing() {
    static const QString s = QStringLiteral("\n");
    return s;
}

bool Same_Name(const QString& a, const QString& b) { return a.compare(b, Qt::CaseInsensitive) == 0; }

bool Read_File(const QString& file, QByteArray* data, bool* exists) {
    QFile f(file);
    *exists = f.exists();
    if (!*exists) return true;
    if (!f.open(QIODevice::ReadOnly)) return false;
    *data = f.readAll();
    return true;
}

}  // namespace

QString Ini_GetStringFrom(const QByteArray& content, const QString& section, const QString& key, const QString& def) {
    bool inSection = false;
    bool seenSection = false;
    qsizetype pos = 0;
    while (pos < content.size()) {
        const qsizetype nl = content.indexOf('\n', pos);
        const qsizetype end = nl < 0 ? content.size() : nl;
        const QByteArrayView line(content.constData() + pos, end - pos);
        pos = end + 1;
        QString name;
        if (Section_Of(line, &name)) {
            // Only the first section of that name counts.
            if (seenSection) break;
            inSection = Same_Name(name, section);
            seenSection = inSection;
            continue;
        }
        QString v;
        if (inSection && Entry_Value(line, key, &v)) return v;
    }
    return def;
}

QString Ini_GetString(const QString& file, const QString& section, const QString& key, const QString& def) {
    QFile f(file);
    if (!f.open(QIODevice::ReadOnly)) return def;
    return Ini_GetStringFrom(f.readAll(), section, key, def);
}

int Ini_ParseInt(const QString& text, bool* ok) {
    const QString t = text.trimmed();
    int i = 0;
    bool negative = false;
    if (i < t.size() && (t[i] == u'+' || t[i] == u'-')) {
        negative = t[i] == u'-';
        ++i;
    }
    long long v = 0;
    bool digits = false;
    for (; i < t.size() && t[i] >= u'0' && t[i] <= u'9'; ++i) {
        digits = true;
        if (v <= static_cast<long long>(INT_MAX) + 1) v = v * 10 + (t[i].unicode() - u'0');
    }
    if (ok) *ok = digits;
    if (!digits) return 0;
    if (negative) v = -v;
    if (v > INT_MAX) return INT_MAX;
    if (v < INT_MIN) return INT_MIN;
    return static_cast<int>(v);
}

namespace {

int Int_Or(const QString& text, int def) {
    if (text == Missing()) return def;
    bool ok = false;
    const int v = Ini_ParseInt(text, &ok);
    return ok ? v : def;
}

}  // namespace

int Ini_GetIntFrom(const QByteArray& content, const QString& section, const QString& key, int def) {
    return Int_Or(Ini_GetStringFrom(content, section, key, Missing()), def);
}

int Ini_GetInt(const QString& file, const QString& section, const QString& key, int def) {
    return Int_Or(Ini_GetString(file, section, key, Missing()), def);
}

bool Ini_SetString(QByteArray* content, const QString& section, const QString& key, const QString& value) {
    // Anything that would spill onto a second line, or be read back as another
    // key or section, would corrupt the file.
    auto breaksLine = [](const QString& s) { return s.contains(u'\n') || s.contains(u'\r'); };
    if (breaksLine(section) || breaksLine(key) || breaksLine(value)) return false;
    if (section.trimmed().isEmpty() || section.contains(u']')) return false;
    const QString k = key.trimmed();
    if (k.isEmpty() || k.contains(u'=') || k.startsWith(u'[') || k.startsWith(u';')) return false;

    const QByteArray& data = *content;
    QList<Line> lines = Split_Lines(data);

    // New lines follow the file's own line ending.
    QByteArray eol = "\n";
    for (const Line& line : lines) {
        if (!line.eol.isEmpty()) {
            eol = line.eol;
            break;
        }
    }
    const QByteArray entry = k.toUtf8() + '=' + value.toUtf8();

    qsizetype sectionAt = -1;  // header line of the section
    qsizetype lastEntry = -1;  // last non-blank line inside it
    qsizetype keyAt = -1;
    for (qsizetype i = 0; i < lines.size(); ++i) {
        QString name;
        if (Section_Of(lines[i].text, &name)) {
            if (sectionAt >= 0) break;
            if (Same_Name(name, section)) {
                sectionAt = i;
                lastEntry = i;
            }
            continue;
        }
        if (sectionAt < 0) continue;
        if (!lines[i].text.trimmed().isEmpty()) lastEntry = i;
        if (Entry_Value(lines[i].text, key, nullptr)) {
            keyAt = i;
            break;
        }
    }

    if (keyAt >= 0) {
        lines[keyAt].text = entry;
    } else if (sectionAt >= 0) {
        Line added{entry, eol};
        if (lines[lastEntry].eol.isEmpty()) lines[lastEntry].eol = eol;
        lines.insert(lastEntry + 1, added);
    } else {
        if (!lines.isEmpty() && lines.last().eol.isEmpty()) lines.last().eol = eol;
        lines.append(Line{'[' + section.trimmed().toUtf8() + ']', eol});
        lines.append(Line{entry, eol});
    }

    QByteArray out;
    out.reserve(data.size() + entry.size() + section.size() + 8);
    for (const Line& line : lines) out += line.text + line.eol;
    *content = out;
    return true;
}

bool Ini_WriteString(const QString& file, const QString& section, const QString& key, const QString& value) {
    QByteArray data;
    bool exists = false;
    if (!Read_File(file, &data, &exists)) return false;
    QByteArray out = data;
    if (!Ini_SetString(&out, section, key, value)) return false;
    QSaveFile f(file);
    if (!f.open(QIODevice::WriteOnly)) return false;
    if (f.write(out) != out.size()) {
        f.cancelWriting();
        return false;
    }
    return f.commit();
}
