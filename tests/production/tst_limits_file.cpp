// The limits file: what it accepts and, for each kind of fault, that the
// refusal names the file, the key, the line and the column.
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

#include "production/LimitsFile.h"

namespace {

const LimitsTarget kTarget{QStringLiteral("TK4A"), 8, 4};

// A valid file, one member per line, so that a row can swap one line.
QByteArray Valid() {
    return "{\n"
           "  \"format\": \"tkeval limits 1\",\n"
           "  \"name\": \"front panel rev B\",\n"
           "  \"device\": \"TK4A\",\n"
           "  \"channels\": [1, 2, 3, 4],\n"
           "  \"registers\": \"golden.sf\",\n"
           "  \"settle_ms\": 500,\n"
           "  \"samples\": 50,\n"
           "  \"sbf\": 1,\n"
           "  \"limits\": {\n"
           "    \"reference\": {\"min\": 8000, \"max\": 10000},\n"
           "    \"noise_pp\": {\"max\": 10}\n"
           "  },\n"
           "  \"per_channel\": {\"3\": {\"reference\": {\"min\": 7000, \"max\": 11000}}},\n"
           "  \"touch\": {\"signal\": {\"min\": 40}, \"snr\": {\"min\": 5}}\n"
           "}\n";
}

}  // namespace

class tst_limits_file : public QObject {
    Q_OBJECT

private slots:
    void init();
    void valid_readsEveryMember();
    void refusals_data();
    void refusals();
    void notJson_namesLineAndColumn();

private:
    std::unique_ptr<QTemporaryDir> m_dir;
};

void tst_limits_file::init() {
    m_dir = std::make_unique<QTemporaryDir>();
    QFile golden(m_dir->filePath("golden.sf"));
    QVERIFY(golden.open(QIODevice::WriteOnly));
    golden.write("w1010\nw2040\n");
}

void tst_limits_file::valid_readsEveryMember() {
    ProductionLimits l;
    QString error;
    const QString path = m_dir->filePath("limits.json");
    QVERIFY2(Limits_Parse(Valid(), path, kTarget, &l, &error), qPrintable(error));
    QCOMPARE(l.name, QStringLiteral("front panel rev B"));
    QCOMPARE(l.channels, (QVector<int>{0, 1, 2, 3}));
    QCOMPARE(l.registers, m_dir->filePath("golden.sf"));
    QCOMPARE(l.settleMs, 500);
    QCOMPARE(l.samples, 50);
    QCOMPARE(l.sbf, 0);
    QVERIFY(l.hasTouch);
    QCOMPARE(l.sha256.size(), 64);
    // The channel's own bound replaces the common one; unset bounds stay empty.
    QCOMPARE(*l.bound("reference", 2).min, 7000.0);
    QCOMPARE(*l.bound("reference", 1).min, 8000.0);
    QVERIFY(!l.bound("noise_pp", 0).min.has_value());
    QCOMPARE(*l.bound("noise_pp", 0).max, 10.0);
    QVERIFY(!l.bound("noise_rms", 0).max.has_value());
    QCOMPARE(*l.bound("snr", 3).min, 5.0);
}

void tst_limits_file::refusals_data() {
    QTest::addColumn<QByteArray>("from");
    QTest::addColumn<QByteArray>("to");
    QTest::addColumn<QString>("message");  // after "limits.json:"

    QTest::newRow("unknown top-level key")
        << QByteArray("  \"sbf\": 1,") << QByteArray("  \"sbf\": 1, \"colour\": 2,") << "9:13: colour: unknown key";
    QTest::newRow("unknown measurement") << QByteArray("\"noise_pp\": {\"max\": 10}")
                                         << QByteArray("\"noise_p\": {\"max\": 10}")
                                         << "12:5: limits.noise_p: unknown key";
    QTest::newRow("unknown bound") << QByteArray("{\"max\": 10}") << QByteArray("{\"maximum\": 10}")
                                   << "12:18: limits.noise_pp.maximum: unknown key";
    QTest::newRow("bound is text") << QByteArray("{\"max\": 10}") << QByteArray("{\"max\": \"10\"}")
                                   << "12:18: limits.noise_pp.max: must be a number, not a string";
    QTest::newRow("samples is text") << QByteArray("\"samples\": 50") << QByteArray("\"samples\": \"50\"")
                                     << "8:3: samples: must be a whole number, not a string";
    QTest::newRow("samples fraction") << QByteArray("\"samples\": 50") << QByteArray("\"samples\": 50.5")
                                      << "8:3: samples: must be a whole number";
    QTest::newRow("channels not array") << QByteArray("[1, 2, 3, 4]") << QByteArray("\"1-4\"")
                                        << "5:3: channels: must be a non-empty array";
    QTest::newRow("min above max") << QByteArray("{\"min\": 8000, \"max\": 10000}")
                                   << QByteArray("{\"min\": 10001, \"max\": 10000}")
                                   << "11:19: limits.reference.min: min 10001 is greater than max 10000";
    QTest::newRow("per-channel min above max")
        << QByteArray("{\"min\": 7000, \"max\": 11000}") << QByteArray("{\"min\": 12000, \"max\": 11000}")
        << "14:39: per_channel.3.reference.min: min 12000 is greater than max 11000";
    QTest::newRow("channel beyond device") << QByteArray("[1, 2, 3, 4]") << QByteArray("[1, 2, 3, 9]")
                                           << "5:25: channels[3]: channel 9 is outside the device (channels 1 to 8)";
    QTest::newRow("channel zero") << QByteArray("[1, 2, 3, 4]") << QByteArray("[0, 2, 3, 4]")
                                  << "5:16: channels[0]: channel 0 is outside the device";
    QTest::newRow("channel twice") << QByteArray("[1, 2, 3, 4]") << QByteArray("[1, 2, 2, 4]")
                                   << "5:22: channels[2]: channel 2 is listed twice";
    QTest::newRow("per-channel beyond device") << QByteArray("{\"3\": {") << QByteArray("{\"12\": {")
                                               << "14:19: per_channel.12: channel 12 is outside the device";
    QTest::newRow("per-channel not tested") << QByteArray("{\"3\": {") << QByteArray("{\"5\": {")
                                            << "14:19: per_channel.5: channel 5 is not in \"channels\"";
    QTest::newRow("missing register file")
        << QByteArray("golden.sf") << QByteArray("missing.sf") << "6:3: registers: register file";
    QTest::newRow("sbf beyond device") << QByteArray("\"sbf\": 1") << QByteArray("\"sbf\": 5")
                                       << "9:3: sbf: 5 is outside 1 to 4";
    QTest::newRow("wrong device") << QByteArray("\"TK4A\"") << QByteArray("\"TK2C\"")
                                  << "4:3: device: \"TK2C\" is not the working folder's device";
    QTest::newRow("wrong format") << QByteArray("limits 1") << QByteArray("limits 2")
                                  << "2:3: format: \"tkeval limits 2\" is not";
    QTest::newRow("missing name") << QByteArray("  \"name\": \"front panel rev B\",\n") << QByteArray()
                                  << "1:1: (document): the key \"name\" is missing";
    QTest::newRow("touch with a hands-off name")
        << QByteArray("\"snr\": {\"min\": 5}") << QByteArray("\"noise_pp\": {\"max\": 5}")
        << "15:36: touch.noise_pp: unknown key";
    QTest::newRow("empty bound") << QByteArray("{\"max\": 10}") << QByteArray("{}")
                                 << "12:5: limits.noise_pp: sets neither min nor max";
}

void tst_limits_file::refusals() {
    QFETCH(QByteArray, from);
    QFETCH(QByteArray, to);
    QFETCH(QString, message);
    QByteArray text = Valid();
    QVERIFY2(text.contains(from), from.constData());
    text.replace(text.indexOf(from), from.size(), to);
    const QString path = m_dir->filePath("limits.json");
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.write(text);
    f.close();

    ProductionLimits l;
    l.name = QStringLiteral("untouched");
    QString error;
    QVERIFY(!Limits_Load(path, kTarget, &l, &error));
    QVERIFY2(error.startsWith(path + QLatin1Char(':') + message), qPrintable(error));
    QCOMPARE(l.name, QStringLiteral("untouched"));  // nothing half-read is handed out
}

void tst_limits_file::notJson_namesLineAndColumn() {
    ProductionLimits l;
    QString error;
    QVERIFY(!Limits_Parse("{\n  \"name\": \"x\",\n  \"device\" \"TK4A\"\n}\n", "l.json", kTarget, &l, &error));
    QVERIFY2(error.startsWith("l.json:3:"), qPrintable(error));
    QVERIFY2(error.contains("not JSON"), qPrintable(error));
}

QTEST_GUILESS_MAIN(tst_limits_file)
#include "tst_limits_file.moc"
