#include "production/JsonLocator.h"

JsonLocator::JsonLocator(const QByteArray& text) : m_text(text) {
    m_positions.insert(QString(), JsonPosition());
    skipSpace();
    value(QString());
}

JsonPosition JsonLocator::at(int offset) const {
    JsonPosition p;
    const int end = qBound(0, offset, static_cast<int>(m_text.size()));
    for (int i = 0; i < end; ++i) {
        const auto c = static_cast<unsigned char>(m_text[i]);
        if (c == '\n') {
            ++p.line;
            p.column = 1;
        } else if ((c & 0xC0) != 0x80) {  // UTF-8 continuation bytes share their character's column
            ++p.column;
        }
    }
    return p;
}

void JsonLocator::skipSpace() {
    while (m_pos < m_text.size()) {
        const char c = m_text[m_pos];
        if (c != ' ' && c != '\t' && c != '\n' && c != '\r') break;
        ++m_pos;
    }
}

bool JsonLocator::string(QString* out) {
    if (m_pos >= m_text.size() || m_text[m_pos] != '"') return false;
    const int start = ++m_pos;
    while (m_pos < m_text.size() && m_text[m_pos] != '"') m_pos += m_text[m_pos] == '\\' ? 2 : 1;
    if (m_pos >= m_text.size()) return false;
    // Keys with escapes are rare in a limits file; the raw text names them well enough.
    if (out) *out = QString::fromUtf8(m_text.mid(start, m_pos - start));
    ++m_pos;
    return true;
}

bool JsonLocator::take(char c) {
    if (m_pos >= m_text.size() || m_text[m_pos] != c) return false;
    ++m_pos;
    return true;
}

bool JsonLocator::value(const QString& path) {
    if (m_pos >= m_text.size()) return false;
    const char c = m_text[m_pos];
    if (c == '{') return object(path);
    if (c == '[') return array(path);
    if (c == '"') return string(nullptr);
    // Numbers, true, false, null: up to the next delimiter.
    const int start = m_pos;
    while (m_pos < m_text.size()) {
        const char d = m_text[m_pos];
        if (d == ',' || d == '}' || d == ']' || d == ' ' || d == '\t' || d == '\n' || d == '\r') break;
        ++m_pos;
    }
    return m_pos > start;
}

bool JsonLocator::object(const QString& path) {
    take('{');
    skipSpace();
    if (take('}')) return true;
    for (;;) {
        skipSpace();
        const JsonPosition keyAt = here();
        QString key;
        if (!string(&key)) return false;
        const QString member = path.isEmpty() ? key : path + QLatin1Char('.') + key;
        m_positions.insert(member, keyAt);
        skipSpace();
        if (!take(':')) return false;
        skipSpace();
        if (!value(member)) return false;
        skipSpace();
        if (take(',')) continue;
        return take('}');
    }
}

bool JsonLocator::array(const QString& path) {
    take('[');
    skipSpace();
    if (take(']')) return true;
    for (int i = 0;; ++i) {
        skipSpace();
        const QString element = QStringLiteral("%1[%2]").arg(path).arg(i);
        m_positions.insert(element, here());
        if (!value(element)) return false;
        skipSpace();
        if (take(',')) continue;
        return take(']');
    }
}
