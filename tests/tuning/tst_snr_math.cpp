#include <QTemporaryDir>
#include <QtTest>
#include <cmath>
#include <limits>

#include "tuning/SnrMath.h"
#include "tuning/SnrReport.h"

// The figures an engineer judges a key by, and the file they send on.
class tst_snr_math : public QObject {
    Q_OBJECT

private slots:
    void evaluate_data();
    void evaluate();
    void formatNumber_data();
    void formatNumber();
    void report_rowsAndMetaLine();
    void report_unwritablePath_namesFile();
};

void tst_snr_math::evaluate_data() {
    QTest::addColumn<QVector<int32_t>>("untouched");
    QTest::addColumn<QVector<int32_t>>("touched");
    QTest::addColumn<double>("minSnr");
    QTest::addColumn<int>("now");
    QTest::addColumn<QString>("pp");
    QTest::addColumn<QString>("rms");
    QTest::addColumn<QString>("signal");
    QTest::addColumn<QString>("snr");
    QTest::addColumn<bool>("pass");
    QTest::addColumn<QString>("checkNow");
    QTest::addColumn<int>("recommended");
    QTest::addColumn<QString>("checkRecommended");

    // 5912..5938 around 5925, touched mean 6060: 135 / 26.
    QTest::newRow("worked figures") << QVector<int32_t>{5912, 5938, 5925, 5925} << QVector<int32_t>{6055, 6065} << 5.0
                                    << 16 << "26"
                                    << "9.19"
                                    << "135"
                                    << "5.19" << true << "noise" << 63 << "noise";
    QTest::newRow("no noise: infinite, passes")
        << QVector<int32_t>{0, 0, 0} << QVector<int32_t>{50, 50} << 5.0 << 16 << "0"
        << "0"
        << "50"
        << "inf" << true << "safe" << 30 << "safe";
    QTest::newRow("negative signal fails") << QVector<int32_t>{10, 12, 14} << QVector<int32_t>{2, 4} << 5.0 << 16 << "4"
                                           << "1.63"
                                           << "-9"
                                           << "-2.25" << false << "noise" << 1 << "noise";
    QTest::newRow("no noise and no signal fails") << QVector<int32_t>{7, 7} << QVector<int32_t>{7, 7} << 5.0 << 7 << "0"
                                                  << "0"
                                                  << "0"
                                                  << "0" << false << "noise" << 4 << "noise";
    // Exactly the minimum passes; a setting at or above the touch level misses.
    QTest::newRow("at the minimum, too high")
        << QVector<int32_t>{-2, 0, 2} << QVector<int32_t>{20, 20} << 5.0 << 20 << "4"
        << "1.63"
        << "20"
        << "5" << true << "missed" << 12 << "safe";
    QTest::newRow("just above the noise band")
        << QVector<int32_t>{-2, 0, 2} << QVector<int32_t>{20, 20} << 5.1 << 5 << "4"
        << "1.63"
        << "20"
        << "5" << false << "safe" << 12 << "safe";
}

void tst_snr_math::evaluate() {
    QFETCH(QVector<int32_t>, untouched);
    QFETCH(QVector<int32_t>, touched);
    QFETCH(double, minSnr);
    QFETCH(int, now);
    QFETCH(QString, pp);
    QFETCH(QString, rms);
    QFETCH(QString, signal);
    QFETCH(QString, snr);
    QFETCH(bool, pass);
    QFETCH(QString, checkNow);
    QFETCH(int, recommended);
    QFETCH(QString, checkRecommended);
    const SnrResult r = Snr_Evaluate(4, 2, untouched, touched, minSnr, 0.6f, now);
    QCOMPARE(r.samplesUntouched, untouched.size());
    QCOMPARE(r.samplesTouched, touched.size());
    QCOMPARE(Snr_FormatNumber(r.noisePeakToPeak), pp);
    QCOMPARE(Snr_FormatNumber(r.noiseRms), rms);
    QCOMPARE(Snr_FormatNumber(r.signal), signal);
    QCOMPARE(Snr_FormatNumber(r.snr), snr);
    QCOMPARE(r.pass, pass);
    QCOMPARE(Snr_CheckWord(r.checkNow), checkNow);
    QCOMPARE(r.recommended, recommended);
    QCOMPARE(Snr_CheckWord(r.checkRecommended), checkRecommended);
}

void tst_snr_math::formatNumber_data() {
    QTest::addColumn<double>("value");
    QTest::addColumn<QString>("text");
    QTest::newRow("whole") << 26.0 << "26";
    QTest::newRow("rounded to two") << 135.0 / 26.0 << "5.19";
    QTest::newRow("one decimal kept short") << 1.5 << "1.5";
    QTest::newRow("tiny negative is 0, not -0") << -0.001 << "0";
    QTest::newRow("negative") << -2.25 << "-2.25";
    QTest::newRow("inf") << std::numeric_limits<double>::infinity() << "inf";
    QTest::newRow("-inf") << -std::numeric_limits<double>::infinity() << "-inf";
}

void tst_snr_math::formatNumber() {
    QFETCH(double, value);
    QFETCH(QString, text);
    QCOMPARE(Snr_FormatNumber(value), text);
}

void tst_snr_math::report_rowsAndMetaLine() {
    SnrReportInfo info;
    info.date = QDateTime(QDate(2026, 3, 4), QTime(5, 6, 7, 89), Qt::OffsetFromUTC, 3600);
    info.device = QStringLiteral("No Info");  // a blank must not split the pair
    info.firmware = QStringLiteral("v3.2");
    info.i2c = 0xB0;
    info.margin = 0.6f;
    const QVector<SnrResult> results = {
        Snr_Evaluate(0, 2, {5912, 5938, 5925, 5925}, {6055, 6065}, 5.0, 0.6f, 16),
        Snr_Evaluate(7, 2, {0, 0}, {40, 40}, 5.0, 0.6f, -1),  // sensitivity could not be read
    };
    const QList<QByteArray> lines = Snr_ReportText(info, results).split('\n');
    QCOMPARE(lines.size(), 6);  // the last line ends with LF
    QCOMPARE(lines[0], QByteArray("# tkeval snr 1"));
    QCOMPARE(lines[1], QByteArray("# date=2026-03-04T05:06:07.089+01:00 device=\"No Info\" firmware=v3.2 i2c=0xB0 "
                                  "margin=0.6"));
    QCOMPARE(lines[2], QByteArray("channel,sbf,samples_untouched,samples_touched,mean_untouched,noise_pp,noise_rms,"
                                  "signal,snr,min_snr,pass,sensitivity_now,check_now,sensitivity_recommended,"
                                  "check_recommended"));
    QCOMPARE(lines[3], QByteArray("1,3,4,2,5925,26,9.19,135,5.19,5,yes,16,noise,63,noise"));
    QCOMPARE(lines[4], QByteArray("8,3,2,2,0,0,0,40,inf,5,yes,,,24,safe"));
    QVERIFY(lines[5].isEmpty());
}

void tst_snr_math::report_unwritablePath_namesFile() {
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("missing/report.csv"));
    QString error;
    QVERIFY(!Snr_WriteReport(path, SnrReportInfo(), {}, &error));
    QVERIFY2(error.contains(path), qPrintable(error));
    QVERIFY(!QFile::exists(path));
}

QTEST_GUILESS_MAIN(tst_snr_math)
#include "tst_snr_math.moc"
