// One board's production test run, as stored, printed and exported: the
// document "tkeval test record 1" of docs/PRODUCTION.md.
#pragma once

#include <QDateTime>
#include <QJsonObject>
#include <QMetaType>
#include <QString>
#include <QVector>
#include <optional>

struct RegisterMismatch {
    int reg = 0;
    int wrote = 0;
    int read = 0;
};

struct Measurement {
    QString name;
    int channel = 0;  // 1-based, as the limits file counts
    int sbf = 0;      // 1-based
    double value = 0.0;
    std::optional<double> min;
    std::optional<double> max;
    QString unit;
    bool pass = true;
};

struct TestRecord {
    QString serial;
    QString station;
    QString operatorName;
    QDateTime started;  // UTC
    QDateTime ended;
    QString outcome = QStringLiteral("ERROR");  // PASS, FAIL, ERROR
    QString error;                              // only for ERROR
    QString toolVersion;
    QString firmware;
    QString device;
    QString port;
    QString limitsFile;
    QString limitsName;
    QString limitsSha256;
    int registersWritten = 0;
    int registersVerified = 0;
    QVector<RegisterMismatch> mismatched;
    QVector<Measurement> measurements;

    QJsonObject toJson() const;
    // False with a reason for a document that is not a record.
    static bool fromJson(const QJsonObject& o, TestRecord* out, QString* error);

    // PASS when nothing failed, FAIL when a measurement or a register did;
    // an ERROR stays.
    void decide();
    // Failing measurements first, then the rest, each in measuring order.
    QVector<Measurement> failingFirst() const;
};

// The version of this build, for tool_version.
QString Record_ToolVersion();

// "2026-12-08T22:45:03.120Z"
QString Record_Timestamp(const QDateTime& t);
QDateTime Record_ParseTimestamp(const QString& text);

// JUnit XML of several runs: one testsuite per run, one testcase per
// measurement (and one for the golden registers), with serial, station and
// limits hash as properties. An ERROR run without measurements has one
// testcase carrying the error.
QByteArray Record_JUnit(const QVector<TestRecord>& runs);

Q_DECLARE_METATYPE(TestRecord)
