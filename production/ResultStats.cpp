#include "production/ResultStats.h"

#include <QMap>
#include <QSet>
#include <algorithm>
#include <cmath>

std::optional<double> Stats_Cpk(double mean, double stddev, const std::optional<double>& lower,
                                const std::optional<double>& upper) {
    if (!(stddev > 0.0) || (!lower && !upper)) return std::nullopt;
    double cpk = INFINITY;
    if (upper) cpk = std::min(cpk, (*upper - mean) / (3.0 * stddev));
    if (lower) cpk = std::min(cpk, (mean - *lower) / (3.0 * stddev));
    return cpk;
}

YieldSummary Stats_Summarise(const QVector<TestRecord>& runs) {
    YieldSummary y;
    QSet<QString> seen;
    struct Acc {
        QVector<double> values;
        std::optional<double> lower, upper;
    };
    QMap<QPair<QString, int>, Acc> acc;
    for (const TestRecord& r : runs) {
        ++y.runs;
        if (r.outcome == QLatin1String("PASS"))
            ++y.passes;
        else if (r.outcome == QLatin1String("FAIL"))
            ++y.fails;
        else
            ++y.errors;
        if (!seen.contains(r.serial)) {
            seen.insert(r.serial);
            if (r.outcome == QLatin1String("PASS")) ++y.firstPassSerials;
        }
        for (const Measurement& m : r.measurements) {
            Acc& a = acc[qMakePair(m.name, m.channel)];
            if (std::isfinite(m.value)) a.values.append(m.value);
            a.lower = m.min;
            a.upper = m.max;
        }
    }
    y.serials = seen.size();
    for (auto it = acc.cbegin(); it != acc.cend(); ++it) {
        const QVector<double>& v = it->values;
        if (v.isEmpty()) continue;
        MeasurementStats s;
        s.name = it.key().first;
        s.channel = it.key().second;
        s.count = v.size();
        s.min = *std::min_element(v.begin(), v.end());
        s.max = *std::max_element(v.begin(), v.end());
        double sum = 0.0;
        for (double x : v) sum += x;
        s.mean = sum / s.count;
        double sq = 0.0;
        for (double x : v) sq += (x - s.mean) * (x - s.mean);
        s.stddev = s.count > 1 ? std::sqrt(sq / (s.count - 1)) : 0.0;
        s.lower = it->lower;
        s.upper = it->upper;
        s.cpk = s.count > 1 ? Stats_Cpk(s.mean, s.stddev, s.lower, s.upper) : std::nullopt;
        y.measurements.append(s);
    }
    std::stable_sort(y.measurements.begin(), y.measurements.end(),
                     [](const MeasurementStats& a, const MeasurementStats& b) {
                         if (a.cpk && b.cpk) return *a.cpk < *b.cpk;
                         return a.cpk.has_value() && !b.cpk.has_value();
                     });
    return y;
}
