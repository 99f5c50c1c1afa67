#include "handoff/SnrReportReader.h"

#include <QFile>
#include <QStringList>
#include <cmath>
#include <limits>

namespace {

// key=value pairs of line 2; a value in double quotes may hold blanks, '='
// and doubled quotes.
bool ParseMeta(const QString& line, QMap<QString, QString>* out) {
    int i = 0;
    const int n = line.size();
    while (i < n) {
        while (i < n && line[i] == QLatin1Char(' ')) ++i;
        if (i >= n) break;
        const int eq = line.indexOf(QLatin1Char('='), i);
        if (eq < 0) return false;
        const QString key = line.mid(i, eq - i);
        if (key.isEmpty() || key.contains(QLatin1Char(' '))) return false;
        i = eq + 1;
        QString value;
        if (i < n && line[i] == QLatin1Char('"')) {
            ++i;
            bool closed = false;
            while (i < n) {
                if (line[i] == QLatin1Char('"')) {
                    if (i + 1 < n && line[i + 1] == QLatin1Char('"')) {
                        value += QLatin1Char('"');
                        i += 2;
                        continue;
                    }
                    ++i;
                    closed = true;
                    break;
                }
                value += line[i++];
            }
            if (!closed) return false;
        } else {
            while (i < n && line[i] != QLatin1Char(' ')) value += line[i++];
        }
        out->insert(key, value);
    }
    return true;
}

bool ParseNumber(const QString& text, double* value) {
    if (text == QLatin1String("inf")) {
        *value = std::numeric_limits<double>::infinity();
        return true;
    }
    if (text == QLatin1String("-inf")) {
        *value = -std::numeric_limits<double>::infinity();
        return true;
    }
    bool ok = false;
    *value = text.toDouble(&ok);
    return ok && std::isfinite(*value);
}

bool ParseInt(const QString& text, int lo, int hi, int* value) {
    bool ok = false;
    *value = text.toInt(&ok);
    return ok && *value >= lo && *value <= hi;
}

bool ParseCheck(const QString& text, SnrCheck* check) {
    for (SnrCheck c : {SnrCheck::Safe, SnrCheck::Noise, SnrCheck::Missed}) {
        if (text == Snr_CheckWord(c)) {
            *check = c;
            return true;
        }
    }
    return false;
}

// One row; false with why.
bool ParseRow(const QStringList& f, SnrResult* r, QString* why) {
    if (f.size() != 15) {
        *why = QStringLiteral("%1 fields where the header names 15").arg(f.size());
        return false;
    }
    int channel = 0;
    int sbf = 0;
    if (!ParseInt(f[0], 1, 16, &channel)) return *why = QStringLiteral("channel '%1' is not 1 to 16").arg(f[0]), false;
    if (!ParseInt(f[1], 1, 4, &sbf)) return *why = QStringLiteral("sbf '%1' is not 1 to 4").arg(f[1]), false;
    r->channel = channel - 1;
    r->sbf = sbf - 1;
    if (!ParseInt(f[2], 0, 1 << 30, &r->samplesUntouched) || !ParseInt(f[3], 0, 1 << 30, &r->samplesTouched))
        return *why = QStringLiteral("sample counts '%1', '%2' are not counts").arg(f[2], f[3]), false;
    static const char* names[] = {"mean_untouched", "noise_pp", "noise_rms", "signal", "snr", "min_snr"};
    double* targets[] = {&r->meanUntouched, &r->noisePeakToPeak, &r->noiseRms, &r->signal, &r->snr, &r->minSnr};
    for (int k = 0; k < 6; ++k) {
        if (!ParseNumber(f[4 + k], targets[k])) {
            *why = QStringLiteral("%1 '%2' is not a number").arg(QLatin1String(names[k]), f[4 + k]);
            return false;
        }
    }
    r->meanTouched = r->meanUntouched + r->signal;
    if (f[10] != QLatin1String("yes") && f[10] != QLatin1String("no"))
        return *why = QStringLiteral("pass '%1' is neither yes nor no").arg(f[10]), false;
    r->pass = f[10] == QLatin1String("yes");
    if (f[11].isEmpty() != f[12].isEmpty())
        return *why = QStringLiteral("sensitivity_now and check_now must both be given or both be empty"), false;
    r->sensitivityNow = -1;
    if (!f[11].isEmpty() && (!ParseInt(f[11], 0, 255, &r->sensitivityNow) || !ParseCheck(f[12], &r->checkNow)))
        return *why = QStringLiteral("sensitivity_now '%1' / check_now '%2' are not a register value and a check")
                          .arg(f[11], f[12]),
               false;
    if (!ParseInt(f[13], 0, 255, &r->recommended) || !ParseCheck(f[14], &r->checkRecommended))
        return *why = QStringLiteral(
                          "sensitivity_recommended '%1' / check_recommended '%2' are not a register "
                          "value and a check")
                          .arg(f[13], f[14]),
               false;
    return true;
}

}  // namespace

bool SnrReport_Parse(const QByteArray& text, const QString& name, SnrReportFile* out, QString* error) {
    const QString all = QString::fromUtf8(text);
    QStringList lines = all.split(QLatin1Char('\n'));
    if (!lines.isEmpty() && lines.last().isEmpty()) lines.removeLast();
    auto fail = [&](int line, const QString& why) {
        *error = QStringLiteral("%1: line %2: %3").arg(name).arg(line).arg(why);
        return false;
    };
    for (QString& l : lines)
        if (l.endsWith(QLatin1Char('\r'))) l.chop(1);
    if (lines.isEmpty() || lines[0] != QLatin1String("# tkeval snr 1"))
        return fail(1, QStringLiteral("not an SNR report (it starts with \"# tkeval snr 1\")"));
    if (lines.size() < 2 || !lines[1].startsWith(QLatin1String("# ")))
        return fail(2, QStringLiteral("no \"# date=... device=...\" line"));
    QMap<QString, QString> meta;
    if (!ParseMeta(lines[1].mid(2), &meta)) return fail(2, QStringLiteral("broken key=value pairs"));
    SnrReportFile file;
    file.info.date = QDateTime::fromString(meta.value(QStringLiteral("date")), Qt::ISODateWithMs);
    if (!file.info.date.isValid())
        return fail(2, QStringLiteral("date '%1' is not an ISO 8601 time").arg(meta.value("date")));
    file.info.device = meta.value(QStringLiteral("device"));
    file.info.firmware = meta.value(QStringLiteral("firmware"));
    if (file.info.firmware == QLatin1String("unknown")) file.info.firmware.clear();
    bool ok = false;
    QString i2c = meta.value(QStringLiteral("i2c"));
    if (i2c.startsWith(QLatin1String("0x"))) i2c = i2c.mid(2);
    file.info.i2c = i2c.toInt(&ok, 16);
    if (!ok || file.info.i2c < 0 || file.info.i2c > 0xFF)
        return fail(2, QStringLiteral("i2c '%1' is not a hex byte").arg(meta.value("i2c")));
    double margin = 0;
    if (!ParseNumber(meta.value(QStringLiteral("margin")), &margin))
        return fail(2, QStringLiteral("margin '%1' is not a number").arg(meta.value("margin")));
    file.info.margin = static_cast<float>(margin);
    if (lines.size() < 3 || lines[2] != QLatin1String(kSnrReportHeader))
        return fail(3, QStringLiteral("the column names are not those of an SNR report"));
    for (int i = 3; i < lines.size(); ++i) {
        SnrResult r;
        QString why;
        if (!ParseRow(lines[i].split(QLatin1Char(',')), &r, &why)) return fail(i + 1, why);
        file.results.append(r);
    }
    *out = file;
    return true;
}

bool SnrReport_Read(const QString& path, SnrReportFile* out, QString* error) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        *error = QStringLiteral("%1: cannot be read: %2").arg(path, file.errorString());
        return false;
    }
    return SnrReport_Parse(file.readAll(), path, out, error);
}
