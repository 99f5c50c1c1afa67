#include "data/LogFormat.h"

#include <QList>

namespace {

QByteArray Encode(const QString& value) {
    QByteArray out;
    for (const char c : value.toUtf8()) {
        const auto u = static_cast<unsigned char>(c);
        if (u <= 0x20 || u == '%' || u == 0x7F)
            out += '%' + QByteArray::number(u, 16).rightJustified(2, '0').toUpper();
        else
            out += c;
    }
    return out;
}

QString Decode(const QByteArray& value) { return QString::fromUtf8(QByteArray::fromPercentEncoding(value)); }

bool ToInt(const QByteArray& text, int base, int* out) {
    bool ok = false;
    const int v = text.toInt(&ok, base);
    if (ok) *out = v;
    return ok;
}

}  // namespace

QByteArray LogHeader::toLine() const {
    QByteArray line = "# started=" + Log_FormatStarted(started);
    line += " device=" + Encode(device);
    line += " family=" + QByteArray::number(family);
    line += " channels=" + QByteArray::number(channels);
    line += " sbf=" + QByteArray::number(sbf);
    line += " i2c=" + QByteArray::number(i2c & 0xFF, 16).rightJustified(2, '0').toUpper();
    line += " firmware=" + Encode(firmware);
    line += " port=" + Encode(port);
    return line;
}

bool LogHeader::fromLine(const QByteArray& line, LogHeader* out, QString* why) {
    if (!line.startsWith("# ")) {
        *why = QStringLiteral("the second line must start with \"# \" and hold key=value pairs");
        return false;
    }
    LogHeader h;
    const QList<QByteArray> pairs = line.mid(2).split(' ');
    for (const QByteArray& pair : pairs) {
        if (pair.isEmpty()) continue;
        const int eq = pair.indexOf('=');
        if (eq <= 0) {
            *why = QStringLiteral("\"%1\" is not a key=value pair").arg(QString::fromUtf8(pair.left(80)));
            return false;
        }
        const QByteArray key = pair.left(eq);
        const QByteArray value = pair.mid(eq + 1);
        bool ok = true;
        if (key == "started") {
            h.started = QDateTime::fromString(Decode(value), Qt::ISODateWithMs);
            ok = h.started.isValid() || value.isEmpty();
        } else if (key == "device") {
            h.device = Decode(value);
        } else if (key == "family") {
            ok = ToInt(value, 10, &h.family);
        } else if (key == "channels") {
            ok = ToInt(value, 10, &h.channels);
        } else if (key == "sbf") {
            ok = ToInt(value, 10, &h.sbf);
        } else if (key == "i2c") {
            ok = ToInt(value, 16, &h.i2c);
        } else if (key == "firmware") {
            h.firmware = Decode(value);
        } else if (key == "port") {
            h.port = Decode(value);
        }
        if (!ok) {
            *why = QStringLiteral("the value of %1 (\"%2\") does not parse")
                       .arg(QString::fromUtf8(key), QString::fromUtf8(value.left(80)));
            return false;
        }
    }
    *out = h;
    return true;
}

QString Log_DefaultFileName(const QDateTime& at) {
    return at.toString(QStringLiteral("'tkeval-'yyyyMMdd-HHmmss'.csv'"));
}

QByteArray Log_FormatTime(qint64 wallMs) {
    return QDateTime::fromMSecsSinceEpoch(wallMs).toString(QStringLiteral("yyyy-MM-ddTHH:mm:ss.zzz")).toLatin1();
}

QByteArray Log_FormatStarted(const QDateTime& at) {
    if (!at.isValid()) return QByteArray();
    return at.toOffsetFromUtc(at.offsetFromUtc()).toString(Qt::ISODateWithMs).toLatin1();
}
