// The simulated chip's measurement registers, decoded here with our own
// reading of the register map (not the application's decoder), must give back
// exactly the values its sensing model intended.
#include <QtTest>

#include "sim/SimChip.h"

namespace {

struct Decoded {
    int ref[4] = {};
    int sense[4] = {};
    int diff[4] = {};
    int offset[4] = {};
    int tags[4] = {-1, -1, -1, -1};
    int refSlot = -1;
};

int pair14(const uint8_t* m, int lo) { return ((m[lo + 1] & 0x3F) << 8) | m[lo]; }

int signMag11(uint8_t lo, uint8_t hi) {
    const int mag = ((hi & 0x07) << 8) | lo;
    return (hi & 0x08) ? -mag : mag;
}

int family2Offset(uint8_t lo, uint8_t hi) {
    const int t = ((hi & 0x07) << 8) | lo;
    if (hi & 0x08) return t > 0 ? t - 2048 : 0;
    return t;
}

// Reads the registers the way the monitoring cycle does and decodes them.
Decoded readAndDecode(SimChip& chip, int ch, uint32_t now) {
    uint8_t m[256] = {};
    auto rd = [&](int reg, int n) { chip.read(static_cast<uint8_t>(reg), n, m + reg, now); };
    Decoded d;
    switch (chip.family()) {
        case 0:
            rd(0x50, 2);
            d.refSlot = m[0x51] >> 6;
            d.ref[d.refSlot] = ((m[0x51] & 0x3F) << 8) | m[0x50];
            rd(0x52, 8);
            rd(0x5A, 4);
            for (int k = 0; k < 4; ++k) {
                d.tags[k] = m[0x53 + 2 * k] >> 5;
                d.sense[k] = (((m[0x53 + 2 * k] & 0x1F) << 8) | m[0x52 + 2 * k]) * 2;
                d.diff[k] = m[0x5A + k];
            }
            break;
        case 1:
            rd(0x91, 2);
            d.refSlot = m[0x92] >> 6;
            d.ref[d.refSlot] = ((m[0x92] & 0x3F) << 8) | m[0x91];
            rd(0x93, 8);
            rd(0x9B, 8);
            for (int k = 0; k < 4; ++k) {
                // Both halves of a block carry the tag; a mismatch shows as -1.
                d.tags[k] = (m[0x94 + 2 * k] >> 4) == (m[0x9C + 2 * k] >> 4) ? m[0x94 + 2 * k] >> 4 : -1;
                d.sense[k] = (((m[0x94 + 2 * k] & 0x0F) << 8) | m[0x93 + 2 * k]) * 4;
                d.diff[k] = ((m[0x9C + 2 * k] & 0x07) << 8) | m[0x9B + 2 * k];
            }
            break;
        case 2: {
            rd(0xB0, 8);
            const int block = (0x80 + 8 * ch) & 0xFF;
            rd(block, 8);
            rd(0xA0, 8);
            rd(0xB8, 5);
            for (int k = 0; k < 4; ++k) {
                d.tags[k] = m[0xB1 + 2 * k] >> 6;
                d.offset[k] = family2Offset(m[block + 2 * k], m[block + 2 * k + 1]);
                d.ref[k] = pair14(m, 0xA0 + 2 * k);
                d.sense[k] = pair14(m, 0xB0 + 2 * k);
                d.diff[k] = (m[0xBC] & (1 << k)) ? -m[0xB8 + k] : m[0xB8 + k];
            }
            break;
        }
        case 4:
            rd(0xD8, 8);
            rd(0xC0, 8);
            rd(0xD0, 8);
            rd(0xE0, 8);
            for (int k = 0; k < 4; ++k) {
                d.tags[k] = m[0xD9 + 2 * k] >> 4;
                d.ref[k] = pair14(m, 0xC0 + 2 * k);
                d.sense[k] = pair14(m, 0xD0 + 2 * k);
                d.diff[k] = signMag11(m[0xD8 + 2 * k], m[0xD9 + 2 * k]);
                d.offset[k] = signMag11(m[0xE0 + 2 * k], m[0xE1 + 2 * k]);
            }
            break;
        default:
            break;
    }
    return d;
}

void selectChannel(SimChip& chip, int ch, uint32_t now) {
    const uint8_t v = static_cast<uint8_t>(chip.selectionValue(ch));
    chip.write(static_cast<uint8_t>(chip.selectionRegister()), 1, &v, now);
}

}  // namespace

class tst_SimChip : public QObject {
    Q_OBJECT

private slots:
    void deviceTable_mapsModelsToFamilies();

    void measurement_decodesToIntendedValues_data();
    void measurement_decodesToIntendedValues();
    void family0And1_referenceSlotRotatesPerRead();
    void family2_offsetEncodingAndSigns();
    void family2_decoderReference_data();
    void family2_decoderReference();
    void family4_negativeDifferenceOnChannel2();
    void selection_switchesOnlyAfterDelay();
    void noise_isBoundedAndReproducible();

    void touchRegisters_followTouchMask_data();
    void touchRegisters_followTouchMask();
    void reset_restoresDefaultsPerFamily_data();
    void reset_restoresDefaultsPerFamily();
    void readOnlyRegisters_ignoreWrites();
};

void tst_SimChip::deviceTable_mapsModelsToFamilies() {
    const std::pair<const char*, int> rows[] = {{"TK1A", 3}, {"TK1B", 1}, {"TK2A", 2}, {"TK2B", 3}, {"TK2C", 4},
                                                {"TK3A", 3}, {"TK4A", 4}, {"TK4B", 4}, {"tk2c", 0}, {"No Info", 0}};
    for (const auto& row : rows) QCOMPARE(SimChip::familyForModel(row.first), row.second);
}

void tst_SimChip::measurement_decodesToIntendedValues_data() {
    QTest::addColumn<int>("family");
    QTest::addColumn<int>("sbf");
    QTest::addColumn<int>("channel");
    QTest::addColumn<int>("level");
    QTest::addColumn<bool>("touched");

    QTest::newRow("family 0, ch 5 touched") << 0 << 4 << 5 << 60 << true;
    QTest::newRow("family 0, ch 7 idle") << 0 << 4 << 7 << 60 << false;
    QTest::newRow("family 0, level above a byte saturates") << 0 << 4 << 3 << 400 << true;
    QTest::newRow("family 1, ch 12, 2 SBF") << 1 << 2 << 12 << 1500 << true;
    QTest::newRow("family 1, ch 15 idle") << 1 << 4 << 15 << 60 << false;
    QTest::newRow("family 2, ch 3 touched") << 2 << 4 << 3 << 200 << true;
    QTest::newRow("family 2, negative level") << 2 << 3 << 1 << -77 << true;
    QTest::newRow("family 4, ch 14 touched") << 4 << 4 << 14 << 2047 << true;
    QTest::newRow("family 4, 1 SBF, negative") << 4 << 1 << 6 << -300 << true;
}

void tst_SimChip::measurement_decodesToIntendedValues() {
    QFETCH(int, family);
    QFETCH(int, sbf);
    QFETCH(int, channel);
    QFETCH(int, level);
    QFETCH(bool, touched);

    SimChip chip(family, 16, sbf);
    chip.setLevel(channel, level);
    chip.setTouched(channel, touched);
    chip.setOffset(channel, 0, -5);
    selectChannel(chip, channel, 1000);
    const uint32_t now = 1000 + SimChip::kDefaultSelectDelayMs;

    // Families 0 and 1 expose one reference per read: collect them all.
    Decoded d = readAndDecode(chip, channel, now);
    for (int i = 1; i < sbf && d.refSlot >= 0; ++i) {
        const Decoded next = readAndDecode(chip, channel, now);
        d.ref[next.refSlot] = next.ref[next.refSlot];
    }

    for (int k = 0; k < sbf; ++k) {
        const SimSensing want = chip.intended(channel, k);
        QCOMPARE(d.tags[k], family == 2 ? channel & 3 : channel);
        QCOMPARE(d.ref[k], want.ref);
        QCOMPARE(d.sense[k], want.sense);
        QCOMPARE(d.diff[k], want.diff);
        if (family == 2 || family == 4) QCOMPARE(d.offset[k], want.offset);
    }
    // The model itself: reference base, and the touch level as difference
    // within what the family can carry.
    const int maxDiff = family == 0 ? 255 : family == 2 ? 255 : 2047;
    const int minDiff = family <= 1 ? 0 : -maxDiff;
    QCOMPARE(chip.intended(channel, 0).ref, 9000 + 40 * channel);
    QCOMPARE(d.diff[0], touched ? std::clamp(level, minDiff, maxDiff) : 0);
    if (family == 2 || family == 4) QCOMPARE(d.offset[0], -5);
    // Blocks beyond the chip's SBF count read as zero but keep their tags.
    for (int k = sbf; k < 4; ++k) {
        QCOMPARE(d.sense[k], 0);
        QCOMPARE(d.diff[k], 0);
        if (family == 0 || family == 1 || family == 4) QCOMPARE(d.tags[k], channel);
    }
}

void tst_SimChip::family0And1_referenceSlotRotatesPerRead() {
    SimChip f0(0, 8, 4);
    uint8_t m[2];
    int seen[6];
    for (int& s : seen) {
        f0.read(0x50, 2, m, 0);
        s = m[1] >> 6;
        QCOMPARE(((m[1] & 0x3F) << 8) | m[0], f0.intended(0, s).ref);
    }
    QCOMPARE(QList<int>(seen, seen + 6), QList<int>({0, 1, 2, 3, 0, 1}));
    // The third read of the cycle is SBF 2: top bits 10.
    SimChip again(0, 8, 4);
    for (int i = 0; i < 3; ++i) again.read(0x50, 2, m, 0);
    QCOMPARE(m[1] & 0xC0, 0x80);

    // Reads that do not cover the slot byte leave the rotation alone.
    SimChip f1(1, 16, 2);
    f1.read(0x91, 2, m, 0);
    QCOMPARE(m[1] >> 6, 0);
    uint8_t block[8];
    f1.read(0x93, 8, block, 0);
    f1.read(0x91, 1, m, 0);
    f1.read(0x91, 2, m, 0);
    QCOMPARE(m[1] >> 6, 1);
    f1.read(0x91, 2, m, 0);
    QCOMPARE(m[1] >> 6, 0);  // two SBFs: back to the first
}

void tst_SimChip::family2_offsetEncodingAndSigns() {
    SimChip chip(2, 4, 4);
    chip.setOffset(1, 0, -1);
    chip.setOffset(1, 1, 2047);
    chip.setOffset(1, 2, 0);
    chip.setOffset(1, 3, -4000);  // beyond 12 bits: the nearest value the chip can carry
    uint8_t b[8];
    chip.read(0x88, 8, b, 0);
    QCOMPARE(QByteArray(reinterpret_cast<char*>(b), 8).toHex(), QByteArray("ff0fff0700000108"));
    QCOMPARE(family2Offset(b[6], b[7]), -2047);

    // Difference signs live in 0xBC, one bit per SBF.
    chip.setLevel(2, -40);
    chip.setTouched(2, true);
    selectChannel(chip, 2, 0);
    uint8_t diff[5];
    chip.read(0xB8, 5, diff, 1000);
    QCOMPARE(QByteArray(reinterpret_cast<char*>(diff), 5).toHex(), QByteArray("282828280f"));

    SimChip twoSbf(2, 4, 2);
    twoSbf.setLevel(0, -40);
    twoSbf.setTouched(0, true);
    twoSbf.read(0xB8, 5, diff, 0);
    QCOMPARE(diff[4], uint8_t(0x03));
}

// Our decoder above is the yardstick of every family-2 check; pin it to the
// known values of the register map.
void tst_SimChip::family2_decoderReference_data() {
    QTest::addColumn<int>("hi");
    QTest::addColumn<int>("lo");
    QTest::addColumn<int>("value");
    QTest::newRow("0FFF") << 0x0F << 0xFF << -1;
    QTest::newRow("0800") << 0x08 << 0x00 << 0;
    QTest::newRow("07FF") << 0x07 << 0xFF << 2047;
    QTest::newRow("0801") << 0x08 << 0x01 << -2047;
}

void tst_SimChip::family2_decoderReference() {
    QFETCH(int, hi);
    QFETCH(int, lo);
    QFETCH(int, value);
    QCOMPARE(family2Offset(static_cast<uint8_t>(lo), static_cast<uint8_t>(hi)), value);
}

void tst_SimChip::family4_negativeDifferenceOnChannel2() {
    SimChip chip(4, 8, 4);
    chip.setLevel(2, -528);
    chip.setTouched(2, true);
    selectChannel(chip, 2, 0);
    uint8_t m[2];
    chip.read(0xD8, 2, m, SimChip::kDefaultSelectDelayMs);
    QCOMPARE(m[1], uint8_t(0x2A));
    QCOMPARE(m[0], uint8_t(0x10));
    QCOMPARE(signMag11(m[0], m[1]), -528);
}

void tst_SimChip::selection_switchesOnlyAfterDelay() {
    SimChip chip(4, 8, 4);
    chip.setSelectDelay(40);
    uint8_t tag[2];
    selectChannel(chip, 3, 1000);

    uint8_t sel = 0;
    chip.read(0x6F, 1, &sel, 1000);
    QCOMPARE(sel, uint8_t(3));  // the register itself reads back at once
    chip.read(0xD8, 2, tag, 1039);
    QCOMPARE(tag[1] >> 4, 0);      // data still from the old channel
    selectChannel(chip, 3, 1030);  // repeating the selection does not restart the wait
    chip.read(0xD8, 2, tag, 1040);
    QCOMPARE(tag[1] >> 4, 3);

    // A change of mind before the switch: the latest selection wins, timed from its write.
    selectChannel(chip, 5, 2000);
    selectChannel(chip, 6, 2020);
    chip.read(0xD8, 2, tag, 2045);
    QCOMPARE(tag[1] >> 4, 3);
    chip.read(0xD8, 2, tag, 2060);
    QCOMPARE(tag[1] >> 4, 6);

    // The clock may wrap like a 32-bit tick count.
    selectChannel(chip, 1, 0xFFFFFFF0u);
    chip.read(0xD8, 2, tag, 0xFFFFFFFFu);
    QCOMPARE(tag[1] >> 4, 6);
    chip.read(0xD8, 2, tag, 0x20u);
    QCOMPARE(tag[1] >> 4, 1);

    // Family 0 writes the channel with bit 3 set.
    SimChip f0(0, 8, 4);
    f0.setSelectDelay(0);
    const uint8_t v = 0x0D;
    f0.write(0x4F, 1, &v, 0);
    f0.read(0x53, 1, tag, 0);
    QCOMPARE(tag[0] >> 5, 5);
}

void tst_SimChip::noise_isBoundedAndReproducible() {
    auto samples = [](uint32_t seed) {
        SimChip chip(4, 8, 4);
        chip.setNoise(3, seed);
        chip.setTouched(0, true);
        QList<int> values;
        for (int i = 0; i < 50; ++i) {
            const Decoded d = readAndDecode(chip, 0, 0);
            values << d.diff[2] << d.ref[1];
        }
        return values;
    };
    const QList<int> a = samples(7);
    QCOMPARE(samples(7), a);
    QVERIFY(samples(8) != a);
    SimChip quiet(4, 8, 4);
    bool varied = false;
    for (int i = 0; i < a.size(); i += 2) {
        QVERIFY(std::abs(a[i] - SimChip::kDefaultLevel) <= 3);
        QVERIFY(std::abs(a[i + 1] - quiet.intended(0, 1).ref) <= 3);
        varied = varied || a[i] != SimChip::kDefaultLevel;
    }
    QVERIFY(varied);
}

void tst_SimChip::touchRegisters_followTouchMask_data() {
    QTest::addColumn<int>("family");
    QTest::addColumn<int>("channels");
    QTest::addColumn<QList<int>>("touched");
    QTest::addColumn<QList<int>>("regs");
    QTest::addColumn<QList<int>>("values");

    QTest::newRow("family 1, keys 0 and 15")
        << 1 << 16 << QList<int>{0, 15} << QList<int>{0x02, 0x03} << QList<int>{0x01, 0x80};
    QTest::newRow("family 4, key 9") << 4 << 16 << QList<int>{9} << QList<int>{0x02, 0x03} << QList<int>{0x00, 0x02};
    QTest::newRow("family 2, keys 0-3") << 2 << 4 << QList<int>{0, 1, 2, 3} << QList<int>{0x02} << QList<int>{0x0F};
    QTest::newRow("family 3, keys 0 and 2") << 3 << 8 << QList<int>{0, 2} << QList<int>{0x2A} << QList<int>{0x05};
    QTest::newRow("family 0, key 7") << 0 << 8 << QList<int>{7} << QList<int>{0x2A} << QList<int>{0x80};
}

void tst_SimChip::touchRegisters_followTouchMask() {
    QFETCH(int, family);
    QFETCH(int, channels);
    QFETCH(QList<int>, touched);
    QFETCH(QList<int>, regs);
    QFETCH(QList<int>, values);

    SimChip chip(family, channels, 4);
    for (int ch : touched) QVERIFY(chip.setTouched(ch, true));
    QVERIFY(!chip.setTouched(touched.first(), true));  // no change, no news
    QVERIFY(!chip.setTouched(channels, true));         // no such key
    for (int i = 0; i < regs.size(); ++i) {
        uint8_t v = 0;
        chip.read(static_cast<uint8_t>(regs[i]), 1, &v, 0);
        QCOMPARE(int(v), values[i]);
    }
    for (int ch : touched) chip.setTouched(ch, false);
    for (int reg : regs) QCOMPARE(int(chip.peek(static_cast<uint8_t>(reg))), 0);
}

void tst_SimChip::reset_restoresDefaultsPerFamily_data() {
    QTest::addColumn<int>("family");
    QTest::addColumn<int>("resetReg");
    QTest::addColumn<int>("resetBit");
    QTest::addColumn<int>("sensReg");
    QTest::newRow("family 0") << 0 << 0x0B << 0x01 << 0x43;
    QTest::newRow("family 1") << 1 << 0x0B << 0x01 << 0x23;
    QTest::newRow("family 2") << 2 << 0x06 << 0x80 << 0x13;
    QTest::newRow("family 3") << 3 << 0x0B << 0x01 << 0x23;
    QTest::newRow("family 4") << 4 << 0x0B << 0x01 << 0x23;
}

void tst_SimChip::reset_restoresDefaultsPerFamily() {
    QFETCH(int, family);
    QFETCH(int, resetReg);
    QFETCH(int, resetBit);
    QFETCH(int, sensReg);

    SimChip chip(family, 8, 4);
    QCOMPARE(int(chip.sensitivityRegister(3)), sensReg);
    const uint8_t dflt = chip.peek(static_cast<uint8_t>(sensReg));
    QVERIFY(dflt != 0);
    const uint8_t sens = 0x2C;
    chip.write(static_cast<uint8_t>(sensReg), 1, &sens, 0);
    if (family == 0) chip.write(0x3A, 1, &sens, 0);
    QCOMPARE(chip.peek(static_cast<uint8_t>(sensReg)), sens);
    chip.setTouched(1, true);

    // Other bits of the reset register are plain storage.
    const uint8_t other = static_cast<uint8_t>(0x24 & ~resetBit);
    chip.write(static_cast<uint8_t>(resetReg), 1, &other, 0);
    QCOMPARE(chip.peek(static_cast<uint8_t>(resetReg)), other);
    QCOMPARE(chip.peek(static_cast<uint8_t>(sensReg)), sens);

    const uint8_t set = static_cast<uint8_t>(other | resetBit);
    chip.write(static_cast<uint8_t>(resetReg), 1, &set, 0);
    QCOMPARE(chip.peek(static_cast<uint8_t>(sensReg)), dflt);
    QCOMPARE(chip.peek(static_cast<uint8_t>(resetReg)), chip.defaultValue(static_cast<uint8_t>(resetReg)));
    QCOMPARE(chip.touchMask(), uint16_t(0x0002));  // the finger is still on the key
    const int touchReg = (family == 0 || family == 3) ? 0x2A : 0x02;
    QCOMPARE(chip.peek(static_cast<uint8_t>(touchReg)), uint8_t(0x02));
    if (family == 0) {
        QCOMPARE(chip.peek(0x3A), chip.defaultValue(0x3A));
        QCOMPARE(chip.peek(0x4F), uint8_t(0x08));
    }
}

void tst_SimChip::readOnlyRegisters_ignoreWrites() {
    SimChip chip(4, 8, 4);
    const uint8_t junk[4] = {0x55, 0x55, 0x55, 0x55};
    chip.write(0x00, 4, junk, 0);
    uint8_t back[4];
    chip.read(0x00, 4, back, 0);
    QCOMPARE(back[0], uint8_t(0xA4));  // chip id
    QCOMPARE(back[1], uint8_t(0x55));  // plain register
    QCOMPARE(back[2], uint8_t(0x00));  // touch output
    QCOMPARE(back[3], uint8_t(0x00));
    // Writing across the end of the map wraps like the address pointer does.
    const uint8_t two[2] = {0x11, 0x22};
    chip.write(0xFF, 2, two, 0);
    QCOMPARE(chip.peek(0xFF), uint8_t(0x11));
    QCOMPARE(chip.peek(0x00), uint8_t(0xA4));
}

QTEST_GUILESS_MAIN(tst_SimChip)
#include "tst_simchip.moc"
