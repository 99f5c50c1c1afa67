// What a command tells its caller: lines of text on stdout, or one JSON
// document when --json asked for it; failures as one line on stderr.
#pragma once

#include <QJsonArray>
#include <QJsonObject>
#include <QString>

class CliOutput {
public:
    explicit CliOutput(bool json) : m_json(json) {}

    bool json() const { return m_json; }
    // A line of text (text mode only).
    void line(const QString& text);
    // A member of the JSON document (JSON mode only).
    void set(const QString& key, const QJsonValue& value);
    // A progress or prompt line on stderr, in both modes.
    static void note(const QString& text);

    // Prints "tkeval-cli: message" on stderr, records it in the JSON
    // document and returns code.
    int fail(int code, const QString& message);
    // Writes the JSON document (JSON mode) with the exit code; returns code.
    int finish(int code);
    // The message of the last fail(), empty before any.
    QString lastError() const { return m_lastError; }

private:
    bool m_json;
    QJsonObject m_doc;
    QString m_lastError;
};

QString Hex2Upper(int value);
