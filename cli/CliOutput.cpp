#include "cli/CliOutput.h"

#include <QJsonDocument>
#include <cstdio>

void CliOutput::line(const QString& text) {
    if (m_json) return;
    const QByteArray bytes = text.toLocal8Bit() + '\n';
    std::fwrite(bytes.constData(), 1, static_cast<size_t>(bytes.size()), stdout);
}

void CliOutput::set(const QString& key, const QJsonValue& value) {
    if (m_json) m_doc.insert(key, value);
}

void CliOutput::note(const QString& text) {
    std::fprintf(stderr, "%s\n", text.toLocal8Bit().constData());
    std::fflush(stderr);
}

int CliOutput::fail(int code, const QString& message) {
    m_lastError = message;
    note(QStringLiteral("tkeval-cli: ") + message);
    if (m_json && !m_doc.contains(QLatin1String("error"))) m_doc.insert(QStringLiteral("error"), message);
    return code;
}

int CliOutput::finish(int code) {
    if (m_json) {
        m_doc.insert(QStringLiteral("exit_code"), code);
        const QByteArray bytes = QJsonDocument(m_doc).toJson(QJsonDocument::Indented);
        std::fwrite(bytes.constData(), 1, static_cast<size_t>(bytes.size()), stdout);
    }
    std::fflush(stdout);
    return code;
}

QString Hex2Upper(int value) { return QString::asprintf("%02X", static_cast<unsigned>(value) & 0xFFu); }
