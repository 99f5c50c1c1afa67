// Yield and process capability of stored runs, for `tkeval-cli results`.
#pragma once

#include <QString>
#include <QVector>
#include <optional>

#include "production/TestRecord.h"

struct MeasurementStats {
    QString name;
    int channel = 0;  // 1-based
    int count = 0;
    double min = 0.0;
    double mean = 0.0;
    double max = 0.0;
    double stddev = 0.0;          // sample standard deviation (n - 1)
    std::optional<double> lower;  // the limits of the latest run
    std::optional<double> upper;
    std::optional<double> cpk;  // none without limits, spread or two values
};

struct YieldSummary {
    int runs = 0;
    int passes = 0;
    int fails = 0;
    int errors = 0;
    int serials = 0;
    int firstPassSerials = 0;  // serials whose first run passed
    double firstPassYield() const { return serials > 0 ? double(firstPassSerials) / serials : 0.0; }
    QVector<MeasurementStats> measurements;  // lowest Cpk first, those without one last
};

// Cpk of a sample against its limits: the distance from the mean to the
// nearer limit in units of three standard deviations; one-sided when only
// one limit is set.
std::optional<double> Stats_Cpk(double mean, double stddev, const std::optional<double>& lower,
                                const std::optional<double>& upper);

// Runs in start order. Non-finite values (an SNR without noise) are left out
// of the figures.
YieldSummary Stats_Summarise(const QVector<TestRecord>& runs);
