#include "handoff/HeaderWriter.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QStringList>

namespace {

// Text that may stand inside a /* */ comment of every compiler we care for:
// no comment ends or starts ("/*" trips -Wcomment), no trigraphs (C99 knows
// them), no control characters, no malformed UTF-8.
QString CommentSafe(const QString& text) {
    QString out;
    for (QChar c : text) out += (c.unicode() < 0x20 || c.unicode() == 0x7F) ? QLatin1Char(' ') : c;
    out.replace(QLatin1String("*/"), QLatin1String("* /"));
    out.replace(QLatin1String("/*"), QLatin1String("/ *"));
    while (out.contains(QLatin1String("??"))) out.replace(QLatin1String("??"), QLatin1String("? ?"));
    return out.trimmed();
}

QString Hex2(int v) { return QString::asprintf("%02X", static_cast<unsigned>(v) & 0xFFu); }

QString FamilyText(int family) { return family < 0 ? QStringLiteral("unknown") : QString::number(family); }

QString FirmwareText(const QString& firmware) {
    return firmware.isEmpty() ? QStringLiteral("unknown (not connected)") : firmware;
}

}  // namespace

QString Header_DefaultPrefix(const QString& device) {
    const QString name = RegName_FromHint(device);
    return Header_CheckPrefix(name).isEmpty() ? name : QStringLiteral("TK");
}

QString Header_CheckPrefix(const QString& prefix) {
    if (!RegName_IsCIdentifier(prefix))
        return QStringLiteral("prefix '%1' is not a C identifier (letters, digits and _, not starting with a digit)")
            .arg(prefix);
    // Upper-cased, a leading underscore would make names the C library owns.
    if (prefix.startsWith(QLatin1Char('_')))
        return QStringLiteral("prefix '%1' starts with an underscore; such names are reserved in C").arg(prefix);
    return QString();
}

QStringList Header_ReservedNames() {
    return {QStringLiteral("I2C_ADDR"), QStringLiteral("REG_VALUE_COUNT"), QStringLiteral("TUNING_H")};
}

QByteArray Header_CText(const HandoffInfo& info, const QString& prefix, const QVector<NamedRegister>& regs) {
    const QString up = prefix.toUpper() + QLatin1Char('_');
    const QString low = prefix.toLower() + QLatin1Char('_');
    const QString guard = up + QStringLiteral("TUNING_H");
    const int i2c = info.i2c & 0xFF;

    QString t;
    t += QStringLiteral("/*\n");
    t += QStringLiteral(" * Touch-key register set exported by tkeval %1\n").arg(CommentSafe(info.toolVersion));
    t += QStringLiteral(" *\n");
    t += QStringLiteral(" * date:     %1\n").arg(Handoff_DateText(info.date));
    t += QStringLiteral(" * device:   %1, family %2\n").arg(CommentSafe(info.device), FamilyText(info.family));
    t += QStringLiteral(" * firmware: %1\n").arg(CommentSafe(FirmwareText(info.firmware)));
    t += QStringLiteral(" * I2C:      0x%1 (8-bit; 7-bit 0x%2)\n").arg(Hex2(i2c), Hex2(i2c >> 1));
    t += QStringLiteral(" * source:   %1\n").arg(CommentSafe(info.source));
    t += QStringLiteral(" * registers: %1\n").arg(regs.size());
    t += QStringLiteral(" */\n");
    t += QStringLiteral("#ifndef %1\n#define %1\n\n#include <stdint.h>\n\n").arg(guard);
    t += QStringLiteral("/* The chip's 8-bit I2C address (write direction). */\n");
    t += QStringLiteral("#define %1I2C_ADDR 0x%2u\n\n").arg(up, Hex2(i2c));

    int width = 0;
    for (const NamedRegister& r : regs) width = qMax(width, static_cast<int>(up.size() + r.name.size()));
    t += QStringLiteral("/* Register addresses. */\n");
    for (const NamedRegister& r : regs) {
        QString line = QStringLiteral("#define %1 0x%2u").arg((up + r.name).leftJustified(width), Hex2(r.reg));
        const QString hint = CommentSafe(r.hint);
        if (!hint.isEmpty()) line += QStringLiteral("  /* %1 */").arg(hint);
        t += line + QLatin1Char('\n');
    }

    t += QStringLiteral("\nstruct %1reg_value {\n    uint8_t reg;\n    uint8_t value;\n};\n\n").arg(low);
    t += QStringLiteral("#define %1REG_VALUE_COUNT %2u\n\n").arg(up).arg(regs.size());
    if (regs.isEmpty()) {
        // An empty array is not C; a count of 0 says it all.
        t += QStringLiteral("/* No registers were exported. */\n");
    } else {
        t += QStringLiteral("/* The values to write, in this order. */\n");
        t += QStringLiteral("static const struct %1reg_value %1reg_values[%2REG_VALUE_COUNT] = {\n").arg(low, up);
        for (int i = 0; i < regs.size(); ++i) {
            const NamedRegister& r = regs[i];
            t += QStringLiteral("    { %1, 0x%2u }%3\n")
                     .arg(up + r.name, Hex2(r.value), i + 1 < regs.size() ? QStringLiteral(",") : QString());
        }
        t += QStringLiteral("};\n");
    }
    t += QStringLiteral("\n#endif /* %1 */\n").arg(guard);
    return t.toUtf8();
}

QByteArray Header_JsonText(const HandoffInfo& info, const QString& prefix, const QVector<NamedRegister>& regs) {
    QJsonArray list;
    for (const NamedRegister& r : regs) {
        list.append(QJsonObject{{"reg", Hex2(r.reg)},
                                {"name", prefix.toUpper() + QLatin1Char('_') + r.name},
                                {"hint", r.hint},
                                {"value", Hex2(r.value)}});
    }
    const QJsonObject doc{
        {"tool", QStringLiteral("tkeval")},
        {"version", info.toolVersion},
        {"date", info.date.toUTC().toString(Qt::ISODate)},
        {"device", info.device},
        {"family", info.family < 0 ? QJsonValue() : QJsonValue(info.family)},
        {"firmware", info.firmware.isEmpty() ? QJsonValue() : QJsonValue(info.firmware)},
        {"i2c_address", Hex2(info.i2c)},
        {"source", info.source},
        {"prefix", prefix.toUpper()},
        {"registers", list},
    };
    return QJsonDocument(doc).toJson(QJsonDocument::Indented);
}
