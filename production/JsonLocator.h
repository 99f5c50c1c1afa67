// Where each member of a JSON text stands, by line and column, so that a
// refusal can point at the key it is about. QJsonDocument keeps no positions;
// this walks the same text once and records them. Paths join object keys
// with "." and array indices as "[i]": "limits.noise_pp.max", "channels[2]".
#pragma once

#include <QByteArray>
#include <QHash>
#include <QString>

struct JsonPosition {
    int line = 1;    // 1-based
    int column = 1;  // 1-based, in characters
};

class JsonLocator {
public:
    // Records the positions of a text that QJsonDocument accepted; on a text
    // it would refuse, whatever was seen before the fault is kept.
    explicit JsonLocator(const QByteArray& text);

    // Position of the member's key (of the element itself inside an array);
    // the start of the text for an unknown path.
    JsonPosition find(const QString& path) const { return m_positions.value(path); }
    // Position of a byte offset (QJsonParseError::offset).
    JsonPosition at(int offset) const;

private:
    void skipSpace();
    bool value(const QString& path);
    bool object(const QString& path);
    bool array(const QString& path);
    bool string(QString* out);
    // Takes c when it comes next.
    bool take(char c);
    JsonPosition here() const { return at(m_pos); }

    const QByteArray m_text;
    int m_pos = 0;
    QHash<QString, JsonPosition> m_positions;
};
