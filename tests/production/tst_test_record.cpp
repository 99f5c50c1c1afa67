// The record document, its JUnit form and the yield and Cpk figures.
#include <QJsonArray>
#include <QJsonDocument>
#include <QXmlStreamReader>
#include <QtTest>
#include <cmath>

#include "production/ResultStats.h"
#include "production/TestRecord.h"

namespace {

Measurement M(const QString& name, int channel, double value, std::optional<double> min, std::optional<double> max) {
    Measurement m;
    m.name = name;
    m.channel = channel;
    m.sbf = 1;
    m.value = value;
    m.min = min;
    m.max = max;
    m.unit = QStringLiteral("counts");
    m.pass = (!min || value >= *min) && (!max || value <= *max);
    return m;
}

TestRecord Run(const QString& serial, const QString& outcome, int minute) {
    TestRecord r;
    r.serial = serial;
    r.station = QStringLiteral("S1");
    r.started = QDateTime(QDate(2026, 12, 8), QTime(10, minute, 0, 120), Qt::UTC);
    r.ended = r.started.addMSecs(2500);
    r.outcome = outcome;
    if (outcome == QLatin1String("ERROR")) r.error = QStringLiteral("the port failed");
    r.limitsName = QStringLiteral("panel <B> & co");
    r.limitsSha256 = QStringLiteral("ab12");
    return r;
}

}  // namespace

class tst_test_record : public QObject {
    Q_OBJECT

private slots:
    void json_roundTripKeepsNullBoundsAndInfinity();
    void decide_data();
    void decide();
    void junit_isWellFormedWithOneSuitePerRun();
    void cpk_data();
    void cpk();
    void summary_yieldAndWorstFirst();
};

void tst_test_record::json_roundTripKeepsNullBoundsAndInfinity() {
    TestRecord r = Run("SN-1", "FAIL", 0);
    r.mismatched.append({0x20, 0x40, 0x00});
    r.measurements << M("noise_pp", 3, 14, std::nullopt, 10) << M("snr", 3, INFINITY, 5, std::nullopt);
    const QJsonObject o = r.toJson();
    QCOMPARE(o.value("started").toString(), QStringLiteral("2026-12-08T10:00:00.120Z"));
    QCOMPARE(o.value("ended").toString(), QStringLiteral("2026-12-08T10:00:02.620Z"));
    QVERIFY(!o.contains("error"));  // only an ERROR carries one
    const QJsonObject first = o.value("measurements").toArray().at(0).toObject();
    QVERIFY(first.value("min").isNull());
    QCOMPARE(first.value("max").toDouble(), 10.0);
    QCOMPARE(first.value("outcome").toString(), QStringLiteral("FAIL"));
    QCOMPARE(o.value("registers").toObject().value("mismatched").toArray().at(0).toObject().value("reg").toString(),
             QStringLiteral("20"));

    // Through text, as the spool and the database keep it.
    const QJsonObject back = QJsonDocument::fromJson(QJsonDocument(o).toJson()).object();
    TestRecord r2;
    QString error;
    QVERIFY2(TestRecord::fromJson(back, &r2, &error), qPrintable(error));
    QCOMPARE(r2.toJson(), o);
    QVERIFY(std::isinf(r2.measurements.at(1).value));
}

void tst_test_record::decide_data() {
    QTest::addColumn<bool>("measurementFails");
    QTest::addColumn<bool>("registerDiffers");
    QTest::addColumn<QString>("outcome");
    QTest::newRow("all good") << false << false << "PASS";
    QTest::newRow("a measurement") << true << false << "FAIL";
    QTest::newRow("a register") << false << true << "FAIL";
}

void tst_test_record::decide() {
    QFETCH(bool, measurementFails);
    QFETCH(bool, registerDiffers);
    QFETCH(QString, outcome);
    TestRecord r = Run("SN", "ERROR", 0);
    r.error.clear();  // a run that finished starts out undecided
    r.measurements << M("reference", 1, 9000, 8000, 10000) << M("noise_pp", 1, measurementFails ? 11 : 9, {}, 10);
    if (registerDiffers) r.mismatched.append({0x21, 1, 2});
    r.decide();
    QCOMPARE(r.outcome, outcome);
    if (outcome == QLatin1String("FAIL") && measurementFails)
        QCOMPARE(r.failingFirst().first().name, QStringLiteral("noise_pp"));

    TestRecord e = Run("SN", "ERROR", 0);
    e.decide();
    QCOMPARE(e.outcome, QStringLiteral("ERROR"));  // an error is not overruled by good figures
}

void tst_test_record::junit_isWellFormedWithOneSuitePerRun() {
    TestRecord pass = Run("SN-1", "PASS", 0);
    pass.measurements << M("reference", 1, 9000, 8000, 10000);
    TestRecord fail = Run("SN-2", "FAIL", 1);
    fail.measurements << M("reference", 1, 9000, 8000, 10000) << M("noise_pp", 2, 14, {}, 10);
    TestRecord error = Run("SN-3\"<x>", "ERROR", 2);

    QXmlStreamReader xml(Record_JUnit({pass, fail, error}));
    int suites = 0, cases = 0, failures = 0, errors = 0;
    QStringList serials;
    while (!xml.atEnd()) {
        if (xml.readNext() != QXmlStreamReader::StartElement) continue;
        if (xml.name() == QLatin1String("testsuite")) ++suites;
        if (xml.name() == QLatin1String("testcase")) ++cases;
        if (xml.name() == QLatin1String("failure")) ++failures;
        if (xml.name() == QLatin1String("error")) ++errors;
        if (xml.name() == QLatin1String("property") && xml.attributes().value("name") == QLatin1String("serial"))
            serials << xml.attributes().value("value").toString();
    }
    QVERIFY2(!xml.hasError(), qPrintable(xml.errorString()));
    QCOMPARE(suites, 3);
    QCOMPARE(cases, 2 + 3 + 1);  // a registers case per run and one per measurement
    QCOMPARE(failures, 1);
    QCOMPARE(errors, 1);
    QCOMPARE(serials, (QStringList{"SN-1", "SN-2", "SN-3\"<x>"}));
}

void tst_test_record::cpk_data() {
    QTest::addColumn<double>("mean");
    QTest::addColumn<double>("sd");
    QTest::addColumn<QVariant>("lower");
    QTest::addColumn<QVariant>("upper");
    QTest::addColumn<QVariant>("cpk");
    // Worked example: mean 9.98, s 0.02, limits 9.9..10.1:
    // (10.1 - 9.98) / 0.06 = 2.0 and (9.98 - 9.9) / 0.06 = 1.333: the nearer limit counts.
    QTest::newRow("both limits") << 9.98 << 0.02 << QVariant(9.9) << QVariant(10.1) << QVariant(4.0 / 3.0);
    QTest::newRow("upper only") << 4.0 << 2.0 << QVariant() << QVariant(10.0) << QVariant(1.0);
    QTest::newRow("lower only") << 50.0 << 5.0 << QVariant(40.0) << QVariant() << QVariant(2.0 / 3.0);
    QTest::newRow("mean outside") << 12.0 << 1.0 << QVariant(0.0) << QVariant(10.0) << QVariant(-2.0 / 3.0);
    QTest::newRow("no limits") << 5.0 << 1.0 << QVariant() << QVariant() << QVariant();
    QTest::newRow("no spread") << 5.0 << 0.0 << QVariant(0.0) << QVariant(10.0) << QVariant();
}

void tst_test_record::cpk() {
    QFETCH(double, mean);
    QFETCH(double, sd);
    QFETCH(QVariant, lower);
    QFETCH(QVariant, upper);
    QFETCH(QVariant, cpk);
    const auto opt = [](const QVariant& v) { return v.isValid() ? std::optional<double>(v.toDouble()) : std::nullopt; };
    const std::optional<double> got = Stats_Cpk(mean, sd, opt(lower), opt(upper));
    QCOMPARE(got.has_value(), cpk.isValid());
    if (got) QVERIFY2(std::fabs(*got - cpk.toDouble()) < 1e-9, qPrintable(QString::number(*got)));
}

void tst_test_record::summary_yieldAndWorstFirst() {
    // SN-A passes first time; SN-B fails then passes; SN-C errs then passes.
    QVector<TestRecord> runs;
    const double noise[] = {2, 4, 4, 4, 5, 5, 7, 9};
    const char* serials[] = {"SN-A", "SN-B", "SN-B", "SN-C", "SN-C", "SN-D", "SN-E", "SN-F"};
    const char* outcomes[] = {"PASS", "FAIL", "PASS", "ERROR", "PASS", "PASS", "PASS", "PASS"};
    for (int i = 0; i < 8; ++i) {
        TestRecord r = Run(serials[i], outcomes[i], i);
        r.measurements << M("noise_pp", 1, noise[i], std::nullopt, 14.0)
                       << M("reference", 1, 9000 + 10 * (i % 2), 8000, 10000);
        runs << r;
    }
    const YieldSummary y = Stats_Summarise(runs);
    QCOMPARE(y.runs, 8);
    QCOMPARE(y.passes, 6);
    QCOMPARE(y.fails, 1);
    QCOMPARE(y.errors, 1);
    QCOMPARE(y.serials, 6);
    QCOMPARE(y.firstPassSerials, 4);
    QCOMPARE(y.measurements.size(), 2);
    // noise_pp: mean 5, s = sqrt(32/7); Cpk = (14 - 5) / (3 s) = 1.403.
    const MeasurementStats& worst = y.measurements.first();
    QCOMPARE(worst.name, QStringLiteral("noise_pp"));
    QCOMPARE(worst.count, 8);
    QCOMPARE(worst.mean, 5.0);
    QCOMPARE(worst.min, 2.0);
    QCOMPARE(worst.max, 9.0);
    QVERIFY(std::fabs(worst.stddev - std::sqrt(32.0 / 7.0)) < 1e-9);
    QVERIFY(std::fabs(*worst.cpk - 9.0 / (3.0 * std::sqrt(32.0 / 7.0))) < 1e-9);
    QVERIFY(*y.measurements.at(1).cpk > *worst.cpk);
}

QTEST_GUILESS_MAIN(tst_test_record)
#include "tst_test_record.moc"
