#include "production/LimitsFile.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <cmath>

#include "app/regfile.h"
#include "production/JsonLocator.h"

namespace {

const char kFormat[] = "tkeval limits 1";

// Collects the first refusal with its place in the text.
class Checker {
public:
    Checker(const QString& path, const QByteArray& text) : m_path(path), m_where(text) {}

    bool refuse(const QString& key, const QString& what) {
        if (m_error.isEmpty()) {
            const JsonPosition p = m_where.find(key);
            m_error = QStringLiteral("%1:%2:%3: %4: %5")
                          .arg(m_path)
                          .arg(p.line)
                          .arg(p.column)
                          .arg(key.isEmpty() ? QStringLiteral("(document)") : key, what);
        }
        return false;
    }
    QString error() const { return m_error; }
    const JsonLocator& where() const { return m_where; }

private:
    QString m_path;
    JsonLocator m_where;
    QString m_error;
};

QString TypeName(const QJsonValue& v) {
    switch (v.type()) {
        case QJsonValue::Null:
            return QStringLiteral("null");
        case QJsonValue::Bool:
            return QStringLiteral("a boolean");
        case QJsonValue::Double:
            return QStringLiteral("a number");
        case QJsonValue::String:
            return QStringLiteral("a string");
        case QJsonValue::Array:
            return QStringLiteral("an array");
        case QJsonValue::Object:
            return QStringLiteral("an object");
        case QJsonValue::Undefined:
            break;
    }
    return QStringLiteral("nothing");
}

bool OnlyKeys(Checker& c, const QJsonObject& o, const QString& path, const QStringList& known) {
    for (auto it = o.begin(); it != o.end(); ++it) {
        if (known.contains(it.key())) continue;
        const QString key = path.isEmpty() ? it.key() : path + QLatin1Char('.') + it.key();
        return c.refuse(key, QStringLiteral("unknown key (expected one of: %1)").arg(known.join(QStringLiteral(", "))));
    }
    return true;
}

bool WholeNumber(Checker& c, const QJsonValue& v, const QString& key, int lo, int hi, int* out) {
    const double d = v.toDouble();
    if (!v.isDouble() || std::floor(d) != d)
        return c.refuse(key, QStringLiteral("must be a whole number, not %1").arg(TypeName(v)));
    if (d < lo || d > hi) return c.refuse(key, QStringLiteral("%1 is outside %2 to %3").arg(d).arg(lo).arg(hi));
    *out = static_cast<int>(d);
    return true;
}

bool Text(Checker& c, const QJsonObject& o, const char* name, QString* out) {
    const QJsonValue v = o.value(QLatin1String(name));
    if (v.isUndefined()) return c.refuse(QString(), QStringLiteral("the key \"%1\" is missing").arg(name));
    if (!v.isString() || v.toString().trimmed().isEmpty())
        return c.refuse(QLatin1String(name), QStringLiteral("must be a non-empty string, not %1").arg(TypeName(v)));
    *out = v.toString();
    return true;
}

bool Bound(Checker& c, const QJsonValue& v, const QString& key, LimitBound* out) {
    if (!v.isObject())
        return c.refuse(key, QStringLiteral("must be an object with min and/or max, not %1").arg(TypeName(v)));
    const QJsonObject o = v.toObject();
    if (!OnlyKeys(c, o, key, {QStringLiteral("min"), QStringLiteral("max")})) return false;
    if (o.isEmpty()) return c.refuse(key, QStringLiteral("sets neither min nor max"));
    for (const char* end : {"min", "max"}) {
        const QJsonValue b = o.value(QLatin1String(end));
        if (b.isUndefined()) continue;
        const QString bkey = key + QLatin1Char('.') + QLatin1String(end);
        if (!b.isDouble() || !std::isfinite(b.toDouble()))
            return c.refuse(bkey, QStringLiteral("must be a number, not %1").arg(TypeName(b)));
        (qstrcmp(end, "min") == 0 ? out->min : out->max) = b.toDouble();
    }
    if (out->min && out->max && *out->min > *out->max)
        return c.refuse(key + QStringLiteral(".min"),
                        QStringLiteral("min %1 is greater than max %2").arg(*out->min).arg(*out->max));
    return true;
}

bool Bounds(Checker& c, const QJsonValue& v, const QString& key, const QStringList& names,
            QMap<QString, LimitBound>* out) {
    if (!v.isObject()) return c.refuse(key, QStringLiteral("must be an object, not %1").arg(TypeName(v)));
    const QJsonObject o = v.toObject();
    if (!OnlyKeys(c, o, key, names)) return false;
    for (auto it = o.begin(); it != o.end(); ++it) {
        LimitBound b;
        if (!Bound(c, it.value(), key + QLatin1Char('.') + it.key(), &b)) return false;
        out->insert(it.key(), b);
    }
    return true;
}

}  // namespace

const QStringList& Limits_UntouchedNames() {
    static const QStringList n = {QStringLiteral("reference"), QStringLiteral("noise_pp"), QStringLiteral("noise_rms"),
                                  QStringLiteral("untouched_diff")};
    return n;
}

const QStringList& Limits_TouchNames() {
    static const QStringList n = {QStringLiteral("signal"), QStringLiteral("snr")};
    return n;
}

QString Limits_Unit(const QString& measurement) {
    return measurement == QLatin1String("snr") ? QString() : QStringLiteral("counts");
}

LimitBound ProductionLimits::bound(const QString& measurement, int channel) const {
    const auto own = perChannel.constFind(channel);
    if (own != perChannel.constEnd() && own->contains(measurement)) return own->value(measurement);
    if (touch.contains(measurement)) return touch.value(measurement);
    return limits.value(measurement);
}

namespace {

// "channels": the device's channels the test covers, each once.
bool ReadChannels(Checker& c, const QJsonObject& o, const LimitsTarget& target, ProductionLimits* limits) {
    ProductionLimits& l = *limits;
    const QJsonValue ch = o.value(QLatin1String("channels"));
    if (ch.isUndefined()) return c.refuse(QString(), QStringLiteral("the key \"channels\" is missing"));
    if (!ch.isArray() || ch.toArray().isEmpty())
        return c.refuse(QStringLiteral("channels"), QStringLiteral("must be a non-empty array of channel numbers"));
    const QJsonArray chans = ch.toArray();
    for (int i = 0; i < chans.size(); ++i) {
        const QString key = QStringLiteral("channels[%1]").arg(i);
        const QJsonValue v = chans.at(i);
        const double d = v.toDouble();
        if (!v.isDouble() || std::floor(d) != d)
            return c.refuse(key, QStringLiteral("must be a whole channel number, not %1").arg(TypeName(v)));
        if (d < 1 || d > target.channels)
            return c.refuse(
                key, QStringLiteral("channel %1 is outside the device (channels 1 to %2)").arg(d).arg(target.channels));
        const int c0 = static_cast<int>(d) - 1;
        if (l.channels.contains(c0)) return c.refuse(key, QStringLiteral("channel %1 is listed twice").arg(d));
        l.channels.append(c0);
    }
    return true;
}

// "registers": the golden register file beside the limits file. A golden
// file that would stop half-way is refused now, before the board sees any of
// it.
bool ReadGoldenFile(Checker& c, const QJsonObject& o, const QString& path, ProductionLimits* limits) {
    ProductionLimits& l = *limits;
    QString regs;
    if (!Text(c, o, "registers", &regs)) return false;
    l.registers = QFileInfo(path).absoluteDir().absoluteFilePath(regs);
    const QFileInfo regInfo(l.registers);
    if (!regInfo.isFile() || !regInfo.isReadable())
        return c.refuse(QStringLiteral("registers"),
                        QStringLiteral("register file %1 %2")
                            .arg(l.registers, regInfo.exists() ? QStringLiteral("cannot be read")
                                                               : QStringLiteral("does not exist")));
    {
        RegFileReader reader;
        if (!reader.open(l.registers))
            return c.refuse(QStringLiteral("registers"),
                            QStringLiteral("%1 cannot be read: %2").arg(l.registers, reader.errorString()));
        RegFileLine line;
        int writes = 0;
        while (reader.next(&line)) {
            if (line.kind == RegLineKind::Write) ++writes;
            if (line.kind == RegLineKind::BadAddress || line.kind == RegLineKind::BadValue)
                return c.refuse(QStringLiteral("registers"),
                                QStringLiteral("%1 line %2 is not a register write (w, two hex digits, a hex value)")
                                    .arg(l.registers)
                                    .arg(reader.lineNumber()));
        }
        if (reader.failed() || writes == 0)
            return c.refuse(QStringLiteral("registers"),
                            reader.failed()
                                ? QStringLiteral("%1 cannot be read: %2").arg(l.registers, reader.errorString())
                                : QStringLiteral("%1 writes no register").arg(l.registers));
    }
    return true;
}

// "settle_ms", "samples" and "sbf".
bool ReadSampling(Checker& c, const QJsonObject& o, const LimitsTarget& target, ProductionLimits* limits) {
    ProductionLimits& l = *limits;
    if (o.contains(QLatin1String("settle_ms")) &&
        !WholeNumber(c, o.value(QLatin1String("settle_ms")), QStringLiteral("settle_ms"), 0, kLimitsMaxSettleMs,
                     &l.settleMs))
        return false;
    if (o.contains(QLatin1String("samples")) &&
        !WholeNumber(c, o.value(QLatin1String("samples")), QStringLiteral("samples"), 2, kLimitsMaxSamples, &l.samples))
        return false;
    int sbf = 1;
    if (o.contains(QLatin1String("sbf")) &&
        !WholeNumber(c, o.value(QLatin1String("sbf")), QStringLiteral("sbf"), 1, qMax(1, target.sbfs), &sbf))
        return false;
    if (target.sbfs < 1) return c.refuse(QStringLiteral("sbf"), QStringLiteral("the device has no SBF configured"));
    l.sbf = sbf - 1;
    return true;
}

// "limits", "touch" and "per_channel".
bool ReadBounds(Checker& c, const QJsonObject& o, const LimitsTarget& target, ProductionLimits* limits) {
    ProductionLimits& l = *limits;
    if (o.contains(QLatin1String("limits")) &&
        !Bounds(c, o.value(QLatin1String("limits")), QStringLiteral("limits"), Limits_UntouchedNames(), &l.limits))
        return false;

    if (o.contains(QLatin1String("touch"))) {
        l.hasTouch = true;
        if (!Bounds(c, o.value(QLatin1String("touch")), QStringLiteral("touch"), Limits_TouchNames(), &l.touch))
            return false;
    }

    if (o.contains(QLatin1String("per_channel"))) {
        const QJsonValue pv = o.value(QLatin1String("per_channel"));
        if (!pv.isObject())
            return c.refuse(QStringLiteral("per_channel"),
                            QStringLiteral("must be an object keyed by channel number, not %1").arg(TypeName(pv)));
        const QJsonObject per = pv.toObject();
        const QStringList names = Limits_UntouchedNames() + Limits_TouchNames();
        for (auto it = per.begin(); it != per.end(); ++it) {
            const QString key = QStringLiteral("per_channel.") + it.key();
            bool ok = false;
            const int n = it.key().toInt(&ok);
            if (!ok) return c.refuse(key, QStringLiteral("\"%1\" is not a channel number").arg(it.key()));
            if (n < 1 || n > target.channels)
                return c.refuse(
                    key,
                    QStringLiteral("channel %1 is outside the device (channels 1 to %2)").arg(n).arg(target.channels));
            if (!l.channels.contains(n - 1))
                return c.refuse(key, QStringLiteral("channel %1 is not in \"channels\"").arg(n));
            QMap<QString, LimitBound> own;
            if (!Bounds(c, it.value(), key, names, &own)) return false;
            l.perChannel.insert(n - 1, own);
        }
    }
    return true;
}

}  // namespace

bool Limits_Load(const QString& path, const LimitsTarget& target, ProductionLimits* out, QString* error) {
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly)) {
        *error = QStringLiteral("%1: cannot be read: %2").arg(path, f.errorString());
        return false;
    }
    const QByteArray text = f.readAll();
    if (f.error() != QFileDevice::NoError) {
        *error = QStringLiteral("%1: cannot be read: %2").arg(path, f.errorString());
        return false;
    }
    return Limits_Parse(text, QFileInfo(path).absoluteFilePath(), target, out, error);
}

bool Limits_Parse(const QByteArray& text, const QString& path, const LimitsTarget& target, ProductionLimits* out,
                  QString* error) {
    Checker c(path, text);
    const auto done = [&](bool ok) {
        if (!ok) *error = c.error();
        return ok;
    };
    QJsonParseError perr;
    const QJsonDocument doc = QJsonDocument::fromJson(text, &perr);
    if (perr.error != QJsonParseError::NoError) {
        const JsonPosition p = c.where().at(perr.offset);
        *error = QStringLiteral("%1:%2:%3: not JSON: %4").arg(path).arg(p.line).arg(p.column).arg(perr.errorString());
        return false;
    }
    if (!doc.isObject()) return done(c.refuse(QString(), QStringLiteral("must be a JSON object")));
    const QJsonObject o = doc.object();
    const QStringList known = {"format",  "name", "device", "channels",    "registers", "settle_ms",
                               "samples", "sbf",  "limits", "per_channel", "touch"};
    if (!OnlyKeys(c, o, QString(), known)) return done(false);

    ProductionLimits l;
    l.file = path;
    l.sha256 = QString::fromLatin1(QCryptographicHash::hash(text, QCryptographicHash::Sha256).toHex());
    QString format;
    if (!Text(c, o, "format", &format)) return done(false);
    if (format != QLatin1String(kFormat))
        return done(c.refuse(QStringLiteral("format"), QStringLiteral("\"%1\" is not \"%2\"").arg(format, kFormat)));
    if (!Text(c, o, "name", &l.name) || !Text(c, o, "device", &l.device)) return done(false);
    if (!target.device.isEmpty() && l.device != target.device)
        return done(c.refuse(QStringLiteral("device"),
                             QStringLiteral("\"%1\" is not the working folder's device \"%2\" (system.ini)")
                                 .arg(l.device, target.device)));

    if (!ReadChannels(c, o, target, &l) || !ReadGoldenFile(c, o, path, &l) || !ReadSampling(c, o, target, &l) ||
        !ReadBounds(c, o, target, &l))
        return done(false);
    *out = l;
    return true;
}
