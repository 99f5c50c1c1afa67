#include "production/TestRecord.h"

#include <QJsonArray>
#include <QXmlStreamWriter>
#include <cmath>

namespace {

const char kFormat[] = "tkeval test record 1";

QJsonValue Optional(const std::optional<double>& v) { return v ? QJsonValue(*v) : QJsonValue(QJsonValue::Null); }

// JSON has no infinity; an SNR without noise is written as a string.
QJsonValue Number(double v) {
    if (std::isnan(v)) return QStringLiteral("nan");
    if (std::isinf(v)) return v > 0 ? QStringLiteral("inf") : QStringLiteral("-inf");
    return v;
}

double FromNumber(const QJsonValue& v) {
    if (v.isString()) {
        const QString s = v.toString();
        if (s == QLatin1String("inf")) return INFINITY;
        if (s == QLatin1String("-inf")) return -INFINITY;
        return NAN;
    }
    return v.toDouble();
}

QString Hex(int v) { return QString::asprintf("%02X", static_cast<unsigned>(v) & 0xFFu); }

QString Describe(const Measurement& m) {
    QString bounds;
    if (m.min && m.max)
        bounds = QStringLiteral("%1..%2").arg(*m.min).arg(*m.max);
    else if (m.min)
        bounds = QStringLiteral(">= %1").arg(*m.min);
    else if (m.max)
        bounds = QStringLiteral("<= %1").arg(*m.max);
    return QStringLiteral("SIN %1 %2 = %3 (limits %4)").arg(m.channel).arg(m.name).arg(m.value).arg(bounds);
}

}  // namespace

QString Record_ToolVersion() { return QStringLiteral(TKEVAL_BASE_VERSION); }

QString Record_Timestamp(const QDateTime& t) { return t.toUTC().toString(QStringLiteral("yyyy-MM-ddTHH:mm:ss.zzzZ")); }

QDateTime Record_ParseTimestamp(const QString& text) {
    QDateTime t = QDateTime::fromString(text, Qt::ISODateWithMs);
    return t.isValid() ? t.toUTC() : t;
}

QJsonObject TestRecord::toJson() const {
    QJsonObject o;
    o.insert("format", QLatin1String(kFormat));
    o.insert("serial", serial);
    o.insert("station", station);
    o.insert("operator", operatorName);
    o.insert("started", Record_Timestamp(started));
    o.insert("ended", Record_Timestamp(ended));
    o.insert("outcome", outcome);
    if (outcome == QLatin1String("ERROR")) o.insert("error", error);
    o.insert("tool_version", toolVersion);
    o.insert("firmware", firmware);
    o.insert("device", device);
    o.insert("port", port);
    o.insert("limits", QJsonObject{{"file", limitsFile}, {"name", limitsName}, {"sha256", limitsSha256}});
    QJsonArray bad;
    for (const RegisterMismatch& m : mismatched)
        bad.append(QJsonObject{{"reg", Hex(m.reg)}, {"wrote", Hex(m.wrote)}, {"read", Hex(m.read)}});
    o.insert("registers",
             QJsonObject{{"written", registersWritten}, {"verified", registersVerified}, {"mismatched", bad}});
    QJsonArray ms;
    for (const Measurement& m : measurements)
        ms.append(QJsonObject{{"name", m.name},
                              {"channel", m.channel},
                              {"sbf", m.sbf},
                              {"value", Number(m.value)},
                              {"min", Optional(m.min)},
                              {"max", Optional(m.max)},
                              {"unit", m.unit},
                              {"outcome", m.pass ? QStringLiteral("PASS") : QStringLiteral("FAIL")}});
    o.insert("measurements", ms);
    return o;
}

bool TestRecord::fromJson(const QJsonObject& o, TestRecord* out, QString* error) {
    if (o.value("format").toString() != QLatin1String(kFormat)) {
        *error = QStringLiteral("not a \"%1\" document").arg(kFormat);
        return false;
    }
    TestRecord r;
    r.serial = o.value("serial").toString();
    r.station = o.value("station").toString();
    r.operatorName = o.value("operator").toString();
    r.started = Record_ParseTimestamp(o.value("started").toString());
    r.ended = Record_ParseTimestamp(o.value("ended").toString());
    r.outcome = o.value("outcome").toString();
    r.error = o.value("error").toString();
    r.toolVersion = o.value("tool_version").toString();
    r.firmware = o.value("firmware").toString();
    r.device = o.value("device").toString();
    r.port = o.value("port").toString();
    const QJsonObject lim = o.value("limits").toObject();
    r.limitsFile = lim.value("file").toString();
    r.limitsName = lim.value("name").toString();
    r.limitsSha256 = lim.value("sha256").toString();
    const QJsonObject regs = o.value("registers").toObject();
    r.registersWritten = regs.value("written").toInt();
    r.registersVerified = regs.value("verified").toInt();
    for (const QJsonValue& v : regs.value("mismatched").toArray()) {
        const QJsonObject m = v.toObject();
        r.mismatched.append({m.value("reg").toString().toInt(nullptr, 16),
                             m.value("wrote").toString().toInt(nullptr, 16),
                             m.value("read").toString().toInt(nullptr, 16)});
    }
    for (const QJsonValue& v : o.value("measurements").toArray()) {
        const QJsonObject m = v.toObject();
        Measurement x;
        x.name = m.value("name").toString();
        x.channel = m.value("channel").toInt();
        x.sbf = m.value("sbf").toInt();
        x.value = FromNumber(m.value("value"));
        if (m.value("min").isDouble()) x.min = m.value("min").toDouble();
        if (m.value("max").isDouble()) x.max = m.value("max").toDouble();
        x.unit = m.value("unit").toString();
        x.pass = m.value("outcome").toString() == QLatin1String("PASS");
        r.measurements.append(x);
    }
    if (r.serial.isEmpty() || !r.started.isValid() || !QStringList{"PASS", "FAIL", "ERROR"}.contains(r.outcome)) {
        *error = QStringLiteral("the record lacks a serial, a start time or an outcome");
        return false;
    }
    *out = r;
    return true;
}

void TestRecord::decide() {
    if (outcome == QLatin1String("ERROR") && !error.isEmpty()) return;
    bool pass = mismatched.isEmpty();
    for (const Measurement& m : measurements) pass = pass && m.pass;
    outcome = pass ? QStringLiteral("PASS") : QStringLiteral("FAIL");
    error.clear();
}

QVector<Measurement> TestRecord::failingFirst() const {
    QVector<Measurement> out;
    for (const Measurement& m : measurements)
        if (!m.pass) out.append(m);
    for (const Measurement& m : measurements)
        if (m.pass) out.append(m);
    return out;
}

namespace {

// One board's run: its record's fields as properties, then the registers and
// each measurement as test cases.
void WriteJUnitSuite(QXmlStreamWriter& w, const TestRecord& r) {
    const bool isError = r.outcome == QLatin1String("ERROR");
    int fails = r.mismatched.isEmpty() ? 0 : 1;
    for (const Measurement& m : r.measurements) fails += m.pass ? 0 : 1;
    w.writeStartElement("testsuite");
    w.writeAttribute("name", QStringLiteral("%1 %2").arg(r.limitsName, r.serial));
    w.writeAttribute("tests", QString::number(r.measurements.size() + 1));
    w.writeAttribute("failures", QString::number(fails));
    w.writeAttribute("errors", isError ? "1" : "0");
    w.writeAttribute("timestamp", Record_Timestamp(r.started));
    w.writeAttribute("time", QString::number(r.started.msecsTo(r.ended) / 1000.0, 'f', 3));
    w.writeAttribute("hostname", r.station);
    w.writeStartElement("properties");
    for (const auto& [k, v] : {std::pair<const char*, QString>{"serial", r.serial},
                               {"station", r.station},
                               {"operator", r.operatorName},
                               {"limits_sha256", r.limitsSha256},
                               {"port", r.port},
                               {"outcome", r.outcome}}) {
        w.writeStartElement("property");
        w.writeAttribute("name", QLatin1String(k));
        w.writeAttribute("value", v);
        w.writeEndElement();
    }
    w.writeEndElement();
    // The golden registers come first: a board that does not keep them
    // makes every later figure doubtful.
    w.writeStartElement("testcase");
    w.writeAttribute("classname", r.serial);
    w.writeAttribute("name", "registers");
    if (isError) {
        w.writeStartElement("error");
        w.writeAttribute("message", r.error);
        w.writeEndElement();
    } else if (!r.mismatched.isEmpty()) {
        QStringList lines;
        for (const RegisterMismatch& m : r.mismatched)
            lines << QStringLiteral("register %1: wrote %2, read %3").arg(Hex(m.reg), Hex(m.wrote), Hex(m.read));
        w.writeStartElement("failure");
        w.writeAttribute("message", QStringLiteral("%1 registers did not keep their value").arg(r.mismatched.size()));
        w.writeCharacters(lines.join('\n'));
        w.writeEndElement();
    }
    w.writeEndElement();
    for (const Measurement& m : r.measurements) {
        w.writeStartElement("testcase");
        w.writeAttribute("classname", r.serial);
        w.writeAttribute("name", QStringLiteral("SIN %1 %2").arg(m.channel).arg(m.name));
        if (!m.pass) {
            w.writeStartElement("failure");
            w.writeAttribute("message", Describe(m));
            w.writeEndElement();
        }
        w.writeEndElement();
    }
    w.writeEndElement();
}

}  // namespace

QByteArray Record_JUnit(const QVector<TestRecord>& runs) {
    QByteArray xml;
    QXmlStreamWriter w(&xml);
    w.setAutoFormatting(true);
    w.writeStartDocument();
    w.writeStartElement("testsuites");
    int tests = 0, failures = 0, errors = 0;
    for (const TestRecord& r : runs) {
        tests += r.measurements.size() + 1;
        for (const Measurement& m : r.measurements) failures += m.pass ? 0 : 1;
        failures += r.mismatched.isEmpty() ? 0 : 1;
        errors += r.outcome == QLatin1String("ERROR") ? 1 : 0;
    }
    w.writeAttribute("name", "tkeval production test");
    w.writeAttribute("tests", QString::number(tests));
    w.writeAttribute("failures", QString::number(failures));
    w.writeAttribute("errors", QString::number(errors));
    for (const TestRecord& r : runs) WriteJUnitSuite(w, r);
    w.writeEndElement();
    w.writeEndDocument();
    return xml;
}
