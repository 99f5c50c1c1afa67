#include <QtTest>
#include <cmath>
#include <limits>

#include "tuning/SensitivityProposal.h"

// The proposal is what ends up in the chip's sensitivity register, so every
// corner of the float-to-byte path is checked here without a board.
class tst_autosen_evaluate : public QObject {
    Q_OBJECT

private slots:
    void evaluate_proposalByte_data();
    void evaluate_proposalByte();
};

void tst_autosen_evaluate::evaluate_proposalByte_data() {
    QTest::addColumn<float>("sum");
    QTest::addColumn<int>("count");
    QTest::addColumn<float>("margin");
    QTest::addColumn<int>("byte");
    QTest::addColumn<int>("computed");

    const float inf = std::numeric_limits<float>::infinity();
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const int maxInt = std::numeric_limits<int32_t>::max();

    QTest::newRow("steady 50, default margin") << 600.0f << 12 << 0.6f << 0x1E << 30;
    QTest::newRow("63.9 truncates to the cap") << 63.9f << 1 << 1.0f << 0x3F << 63;
    QTest::newRow("64 is capped") << 64.0f << 1 << 1.0f << 0x3F << 64;
    QTest::newRow("9.99 truncates toward zero") << 9.99f << 1 << 1.0f << 9 << 9;
    QTest::newRow("mean of mixed samples") << 11.0f + 12.0f + 13.0f + 14.0f + 15.0f << 5 << 1.0f << 13 << 13;
    QTest::newRow("margin 0 (did not parse)") << 250.0f << 5 << 0.0f << 0 << 0;
    // A byte above 0xFF would otherwise keep only its low 8 bits.
    QTest::newRow("256 does not wrap to 0") << 256.0f << 1 << 1.0f << 0x3F << 256;
    // Sound handling: these must never convert out of range or wrap.
    QTest::newRow("negative margin") << 250.0f << 5 << -1.0f << 0 << 0;
    QTest::newRow("product overflows to inf") << 250.0f << 5 << 3.0e38f << 0x3F << maxInt;
    QTest::newRow("infinite margin") << 250.0f << 5 << inf << 0x3F << maxInt;
    QTest::newRow("NaN margin") << 250.0f << 5 << nan << 0 << 0;
    QTest::newRow("no samples") << 0.0f << 0 << 0.6f << 0 << 0;
}

void tst_autosen_evaluate::evaluate_proposalByte() {
    QFETCH(float, sum);
    QFETCH(int, count);
    QFETCH(float, margin);
    QFETCH(int, byte);
    QFETCH(int, computed);
    int32_t value = -12345;
    QCOMPARE(int(AutoSen_Evaluate(sum, count, margin, &value)), byte);
    QCOMPARE(int(value), computed);
}

QTEST_GUILESS_MAIN(tst_autosen_evaluate)
#include "tst_autosen_evaluate.moc"
