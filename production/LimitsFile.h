// The limits file of a production test (docs/PRODUCTION.md): the channels,
// the golden register file, how long to settle and how many samples to take,
// and the bounds every measurement must keep. Read and checked whole before
// anything is sent to the board; a refusal names the file, the key, the line
// and the column.
#pragma once

#include <QByteArray>
#include <QMap>
#include <QString>
#include <QStringList>
#include <QVector>
#include <optional>

// A bound that the file does not set is empty and accepts anything.
struct LimitBound {
    std::optional<double> min;
    std::optional<double> max;

    bool accepts(double value) const { return (!min || value >= *min) && (!max || value <= *max); }
};

// Measurements of the hands-off phase and of the touch phase, in record order.
const QStringList& Limits_UntouchedNames();
const QStringList& Limits_TouchNames();
// "counts" for the levels, "" for the ratio.
QString Limits_Unit(const QString& measurement);

struct ProductionLimits {
    QString file;    // absolute path of the limits file
    QString sha256;  // of its bytes, lower-case hex
    QString name;
    QString device;
    QVector<int> channels;  // 0-based, in the file's order
    QString registers;      // absolute path of the golden register file
    int settleMs = 0;
    int samples = 50;
    int sbf = 0;  // 0-based
    QMap<QString, LimitBound> limits;
    QMap<int, QMap<QString, LimitBound>> perChannel;  // 0-based channel
    bool hasTouch = false;
    QMap<QString, LimitBound> touch;

    // The bound of a measurement on a channel: the channel's own when the
    // file gives one, else the common one.
    LimitBound bound(const QString& measurement, int channel) const;
};

// What the working folder says about the board: the limits must fit it.
struct LimitsTarget {
    QString device;    // system.ini DEVICE
    int channels = 0;  // channels that can be measured
    int sbfs = 0;
};

constexpr int kLimitsMaxSamples = 100000;
constexpr int kLimitsMaxSettleMs = 600000;

// False with "FILE:LINE:COLUMN: KEY: what is wrong" in *error.
bool Limits_Load(const QString& path, const LimitsTarget& target, ProductionLimits* out, QString* error);
// The same for text already read; path names it and anchors "registers".
bool Limits_Parse(const QByteArray& text, const QString& path, const LimitsTarget& target, ProductionLimits* out,
                  QString* error);
