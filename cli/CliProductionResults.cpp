// tkeval-cli results: the yield and the Cpk of each measurement, from the
// runs a result store holds.
#include <QDate>
#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <optional>

#include "cli/CliArgs.h"
#include "cli/CliOutput.h"
#include "cli/CliProductionParts.h"
#include "production/ResultStats.h"
#include "production/ResultStore.h"
#include "production/TestRecord.h"

namespace {

QString SinceTimestamp(const QString& text, bool* ok) {
    QDateTime t = QDateTime::fromString(text, Qt::ISODateWithMs);
    if (!t.isValid()) {
        const QDate d = QDate::fromString(text, Qt::ISODate);
        if (d.isValid()) t = QDateTime(d, QTime(0, 0), Qt::UTC);
    } else if (t.timeSpec() == Qt::LocalTime) {
        t.setTimeSpec(Qt::UTC);
    }
    *ok = t.isValid();
    return *ok ? Record_Timestamp(t) : QString();
}

QJsonValue Opt(const std::optional<double>& v) { return v ? QJsonValue(*v) : QJsonValue(QJsonValue::Null); }
QString OptText(const std::optional<double>& v, int decimals = 2) {
    return v ? QString::number(*v, 'f', decimals) : QStringLiteral("-");
}

void PrintJson(const YieldSummary& y) {
    QJsonArray ms;
    for (const MeasurementStats& s : y.measurements)
        ms << QJsonObject{{"name", s.name},     {"channel", s.channel},  {"count", s.count},
                          {"min", s.min},       {"mean", s.mean},        {"max", s.max},
                          {"stddev", s.stddev}, {"lower", Opt(s.lower)}, {"upper", Opt(s.upper)},
                          {"cpk", Opt(s.cpk)}};
    cliprod::Print(QJsonDocument(QJsonObject{{"runs", y.runs},
                                             {"passes", y.passes},
                                             {"fails", y.fails},
                                             {"errors", y.errors},
                                             {"serials", y.serials},
                                             {"first_pass_serials", y.firstPassSerials},
                                             {"first_pass_yield", y.firstPassYield()},
                                             {"measurements", ms}})
                       .toJson(QJsonDocument::Indented));
}

void PrintCsv(const YieldSummary& y) {
    QByteArray csv = "name,channel,count,min,mean,max,stddev,lower,upper,cpk\n";
    const auto num = [](const std::optional<double>& v) { return v ? QString::number(*v, 'g', 10) : QString(); };
    for (const MeasurementStats& s : y.measurements)
        csv += QStringLiteral("%1,%2,%3,%4,%5,%6,%7,%8,%9,%10\n")
                   .arg(s.name)
                   .arg(s.channel)
                   .arg(s.count)
                   .arg(num(s.min), num(s.mean), num(s.max), num(s.stddev), num(s.lower), num(s.upper), num(s.cpk))
                   .toUtf8();
    cliprod::Print(csv);
}

void PrintTable(const YieldSummary& y) {
    QStringList lines;
    lines << QStringLiteral("runs %1, passes %2, fails %3, errors %4")
                 .arg(y.runs)
                 .arg(y.passes)
                 .arg(y.fails)
                 .arg(y.errors);
    lines << QStringLiteral("first-pass yield %1% (%2 of %3 serials)")
                 .arg(y.firstPassYield() * 100.0, 0, 'f', 1)
                 .arg(y.firstPassSerials)
                 .arg(y.serials);
    lines << QString();
    lines << QStringLiteral("%1 %2 %3 %4 %5 %6 %7 %8")
                 .arg(QStringLiteral("measurement"), -15)
                 .arg(QStringLiteral("SIN"), 4)
                 .arg(QStringLiteral("count"), 6)
                 .arg(QStringLiteral("min"), 10)
                 .arg(QStringLiteral("mean"), 10)
                 .arg(QStringLiteral("max"), 10)
                 .arg(QStringLiteral("stddev"), 9)
                 .arg(QStringLiteral("Cpk"), 7);
    for (const MeasurementStats& s : y.measurements)
        lines << QStringLiteral("%1 %2 %3 %4 %5 %6 %7 %8")
                     .arg(s.name, -15)
                     .arg(s.channel, 4)
                     .arg(s.count, 6)
                     .arg(s.min, 10, 'f', 2)
                     .arg(s.mean, 10, 'f', 2)
                     .arg(s.max, 10, 'f', 2)
                     .arg(s.stddev, 9, 'f', 2)
                     .arg(OptText(s.cpk), 7);
    cliprod::Print((lines.join(QLatin1Char('\n')) + QLatin1Char('\n')).toLocal8Bit());
}

}  // namespace

namespace cliprod {

int CmdResults(const ProdArgs& a) {
    CliOutput out(false);
    if (a.has("json") && a.has("csv")) return out.fail(kExitUsage, QStringLiteral("--json and --csv do not mix"));
    const QString dir = a.has("workdir") ? a.value("workdir") : QDir::currentPath();
    if (!QFileInfo(dir).isDir()) return out.fail(kExitFile, QStringLiteral("%1: no such working directory").arg(dir));
    StoreTarget target;
    QString why;
    if (!Store_ParseUrl(a.value("db"), QFileInfo(dir).absoluteFilePath(), &target, &why))
        return out.fail(kExitUsage, why);
    ResultFilter filter;
    if (a.has("since")) {
        bool ok = false;
        filter.since = SinceTimestamp(a.value("since"), &ok);
        if (!ok)
            return out.fail(
                kExitUsage,
                QStringLiteral("--since %1: not a date (2026-12-01 or 2026-12-01T08:00:00Z)").arg(a.value("since")));
    }
    filter.station = a.value("station");
    if (target.kind == StoreTarget::Kind::Sqlite && !QFileInfo::exists(target.path))
        return out.fail(kExitFile, QStringLiteral("%1: no results yet").arg(target.path));
    ResultStore store;
    QVector<TestRecord> runs;
    if (!store.open(target, &why) || !store.runs(filter, &runs, &why)) return out.fail(kExitFile, why);
    const YieldSummary y = Stats_Summarise(runs);

    if (a.has("json"))
        PrintJson(y);
    else if (a.has("csv"))
        PrintCsv(y);
    else
        PrintTable(y);
    return kExitOk;
}

}  // namespace cliprod
