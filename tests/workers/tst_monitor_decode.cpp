// Decoding of the monitor registers of every chip family, from register images
// built the way the chips lay them out.
#include <QtTest>
#include <array>

#include "workers/decode.h"

using namespace decode;

namespace {

struct Image {
    std::array<uint8_t, 256> b{};
    void set(int reg, std::initializer_list<int> bytes) {
        for (int v : bytes) b[reg++ & 0xFF] = static_cast<uint8_t>(v);
    }
    const uint8_t* data() const { return b.data(); }
};

}  // namespace

class tst_monitor_decode : public QObject {
    Q_OBJECT
private slots:
    void offset12_data();
    void offset12();
    void signMagnitude11_data();
    void signMagnitude11();
    void referenceSlot_namedByTopBits_data();
    void referenceSlot_namedByTopBits();
    void family0_senseDoubledAndDiffUnsigned();
    void family1_senseQuadrupledAndDiff11BitUnsigned();
    void family2_signBitsOffsetBlockAndCounts();
    void family4_signMagnitudeDiffAndOffset();
    void channelCheck_data();
    void channelCheck();
    void nextSelectedChannel_data();
    void nextSelectedChannel();
};

void tst_monitor_decode::offset12_data() {
    QTest::addColumn<int>("lo");
    QTest::addColumn<int>("hi");
    QTest::addColumn<int>("expected");
    QTest::newRow("0x0FFF is -1") << 0xFF << 0x0F << -1;
    QTest::newRow("sign with zero magnitude is 0") << 0x00 << 0x08 << 0;
    QTest::newRow("largest positive") << 0xFF << 0x07 << 2047;
    QTest::newRow("most negative") << 0x01 << 0x08 << -2047;
    QTest::newRow("zero") << 0x00 << 0x00 << 0;
    QTest::newRow("bits above the sign ignored") << 0x05 << 0xF0 << 5;
    QTest::newRow("bits above the sign ignored, negative") << 0xFE << 0xFF << -2;
}

void tst_monitor_decode::offset12() {
    QFETCH(int, lo);
    QFETCH(int, hi);
    QFETCH(int, expected);
    QCOMPARE(Offset12(uint8_t(lo), uint8_t(hi)), expected);
}

void tst_monitor_decode::signMagnitude11_data() {
    QTest::addColumn<int>("lo");
    QTest::addColumn<int>("hi");
    QTest::addColumn<int>("expected");
    QTest::newRow("channel 2 tag, negative 528") << 0x10 << 0x2A << -528;
    QTest::newRow("channel 2 tag, positive 528") << 0x10 << 0x22 << 528;
    QTest::newRow("largest magnitude, negative") << 0xFF << 0x0F << -2047;
    QTest::newRow("negative zero") << 0x00 << 0x08 << 0;
    QTest::newRow("channel 15 tag does not leak") << 0x01 << 0xF0 << 1;
}

void tst_monitor_decode::signMagnitude11() {
    QFETCH(int, lo);
    QFETCH(int, hi);
    QFETCH(int, expected);
    QCOMPARE(SignMagnitude11(uint8_t(lo), uint8_t(hi)), expected);
}

void tst_monitor_decode::referenceSlot_namedByTopBits_data() {
    QTest::addColumn<int>("family");
    QTest::addColumn<int>("loReg");
    QTest::addColumn<int>("lo");
    QTest::addColumn<int>("hi");
    QTest::addColumn<int>("slot");
    QTest::addColumn<int>("value");
    QTest::newRow("family 0, 0x80 names slot 2") << 0 << 0x50 << 0x34 << 0x80 << 2 << 0x0034;
    QTest::newRow("family 0, slot 3 with 14 bits") << 0 << 0x50 << 0xFF << 0xFF << 3 << 0x3FFF;
    QTest::newRow("family 0, slot 0") << 0 << 0x50 << 0x01 << 0x12 << 0 << 0x1201;
    QTest::newRow("family 1, slot 1") << 1 << 0x91 << 0x78 << 0x56 << 1 << 0x1678;
    QTest::newRow("family 2 has none") << 2 << 0x50 << 0x11 << 0x80 << -1 << 0;
    QTest::newRow("family 4 has none") << 4 << 0x91 << 0x11 << 0x80 << -1 << 0;
}

void tst_monitor_decode::referenceSlot_namedByTopBits() {
    QFETCH(int, family);
    QFETCH(int, loReg);
    QFETCH(int, lo);
    QFETCH(int, hi);
    QFETCH(int, slot);
    QFETCH(int, value);
    Image img;
    img.set(loReg, {lo, hi});
    const RefSlot r = Reference_Slot(family, img.data());
    QCOMPARE(r.slot, slot);
    if (slot >= 0) QCOMPARE(int(r.value), value);
}

void tst_monitor_decode::family0_senseDoubledAndDiffUnsigned() {
    const int ch = 5;
    Image img;
    // 13-bit counts with the channel tag in bits 7-5 of the high byte.
    img.set(0x52, {0xFF, (ch << 5) | 0x1F, 0x00, (ch << 5) | 0x10, 0x34, (ch << 5) | 0x02, 0x01, ch << 5});
    img.set(0x5A, {0xFF, 0x80, 0x00, 0x7F});
    const ChannelValues v = Decode_Channel(0, img.data(), ch);
    QCOMPARE(int(v.sen[0]), 0x1FFF * 2);
    QCOMPARE(int(v.sen[1]), 0x1000 * 2);
    QCOMPARE(int(v.sen[2]), 0x0234 * 2);
    QCOMPARE(int(v.sen[3]), 2);
    QCOMPARE(v.diff[0], 255);  // a plain byte, not a signed one
    QCOMPARE(v.diff[1], 128);
    QCOMPARE(v.diff[2], 0);
    QCOMPARE(v.diff[3], 127);
    QVERIFY(!v.hasRef);
    QVERIFY(!v.hasOffset);
}

void tst_monitor_decode::family1_senseQuadrupledAndDiff11BitUnsigned() {
    const int ch = 0xB;
    Image img;
    img.set(0x93, {0xFF, (ch << 4) | 0x0F, 0x02, (ch << 4) | 0x01, 0x00, ch << 4, 0x10, ch << 4});
    // Bit 3 of the high byte is not a sign in this family.
    img.set(0x9B, {0xFF, (ch << 4) | 0x0F, 0x10, (ch << 4) | 0x02, 0x00, ch << 4, 0x01, (ch << 4) | 0x08});
    const ChannelValues v = Decode_Channel(1, img.data(), ch);
    QCOMPARE(int(v.sen[0]), 0xFFF * 4);
    QCOMPARE(int(v.sen[1]), 0x102 * 4);
    QCOMPARE(int(v.sen[2]), 0);
    QCOMPARE(int(v.sen[3]), 0x10 * 4);
    QCOMPARE(v.diff[0], 2047);
    QCOMPARE(v.diff[1], 0x210);
    QCOMPARE(v.diff[2], 0);
    QCOMPARE(v.diff[3], 1);
}

void tst_monitor_decode::family2_signBitsOffsetBlockAndCounts() {
    const int ch = 3;
    Image img;
    img.set(0x80 + 8 * ch, {0xFF, 0x0F, 0x00, 0x08, 0xFF, 0x07, 0x10, 0xF0});
    // Another channel's block must not be taken.
    img.set(0x80 + 8 * 2, {0x55, 0x05, 0x55, 0x05, 0x55, 0x05, 0x55, 0x05});
    img.set(0xA0, {0x01, 0xC0, 0xFF, 0xFF, 0x00, 0x20, 0x34, 0x12});
    img.set(0xB0, {0x10, (ch << 6) | 0x3F, 0x20, ch << 6, 0x30, (ch << 6) | 0x01, 0x40, (ch << 6) | 0x15});
    // 0xBC: SBF 0 and 2 negative, the upper nibble belongs to nobody.
    img.set(0xB8, {10, 20, 255, 0, 0xF5});
    const ChannelValues v = Decode_Channel(2, img.data(), ch);
    QVERIFY(v.hasRef);
    QVERIFY(v.hasOffset);
    QCOMPARE(v.offset[0], -1);
    QCOMPARE(v.offset[1], 0);
    QCOMPARE(v.offset[2], 2047);
    QCOMPARE(v.offset[3], 16);
    QCOMPARE(int(v.ref[0]), 0x0001);
    QCOMPARE(int(v.ref[1]), 0x3FFF);
    QCOMPARE(int(v.ref[2]), 0x2000);
    QCOMPARE(int(v.ref[3]), 0x1234);
    QCOMPARE(int(v.sen[0]), 0x3F10);
    QCOMPARE(int(v.sen[1]), 0x0020);
    QCOMPARE(int(v.sen[2]), 0x0130);
    QCOMPARE(int(v.sen[3]), 0x1540);
    QCOMPARE(v.diff[0], -10);
    QCOMPARE(v.diff[1], 20);
    QCOMPARE(v.diff[2], -255);
    QCOMPARE(v.diff[3], 0);
}

void tst_monitor_decode::family4_signMagnitudeDiffAndOffset() {
    const int ch = 2;
    Image img;
    img.set(0xC0, {0x01, 0xC0, 0xFF, 0xFF, 0x00, 0x00, 0x34, 0x12});
    img.set(0xD0, {0x10, 0xFF, 0x20, 0x00, 0x00, 0x40, 0x99, 0x3F});
    img.set(0xD8, {0x10, 0x2A, 0x10, 0x22, 0xFF, 0x2F, 0x00, 0x28});
    img.set(0xE0, {0x05, 0x08 | 0xF0, 0x05, 0x00, 0xFF, 0x07, 0x00, 0x08});
    const ChannelValues v = Decode_Channel(4, img.data(), ch);
    QCOMPARE(v.diff[0], -528);
    QCOMPARE(v.diff[1], 528);
    QCOMPARE(v.diff[2], -2047);
    QCOMPARE(v.diff[3], 0);
    QCOMPARE(v.offset[0], -5);
    QCOMPARE(v.offset[1], 5);
    QCOMPARE(v.offset[2], 2047);
    QCOMPARE(v.offset[3], 0);
    QCOMPARE(int(v.ref[0]), 0x0001);
    QCOMPARE(int(v.ref[1]), 0x3FFF);
    QCOMPARE(int(v.ref[3]), 0x1234);
    QCOMPARE(int(v.sen[0]), 0x3F10);
    QCOMPARE(int(v.sen[2]), 0x0000);
    QCOMPARE(int(v.sen[3]), 0x3F99);
}

void tst_monitor_decode::channelCheck_data() {
    QTest::addColumn<int>("family");
    QTest::addColumn<int>("reg");
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<int>("ch");
    QTest::addColumn<int>("sbf");
    QTest::addColumn<bool>("passes");
    auto bytes = [](std::initializer_list<int> l) {
        QByteArray a;
        for (int v : l) a.append(char(v));
        return a;
    };
    // Family 0: bits 7-5 of 0x53, 0x55, 0x57, 0x59.
    QTest::newRow("f0 all four tags") << 0 << 0x52 << bytes({0, 0xBF, 0, 0xA0, 0, 0xA5, 0, 0xBF}) << 5 << 0 << true;
    QTest::newRow("f0 last tag stale") << 0 << 0x52 << bytes({0, 0xBF, 0, 0xA0, 0, 0xA5, 0, 0x9F}) << 5 << 4 << false;
    // Family 1: high nibbles of all eight even bytes 0x94..0xA2, whatever the SBF count.
    QTest::newRow("f1 all eight tags") << 1 << 0x93
                                       << bytes(
                                              {0, 0x7F, 0, 0x70, 0, 0x71, 0, 0x72, 0, 0x73, 0, 0x74, 0, 0x75, 0, 0x7F})
                                       << 7 << 1 << true;
    QTest::newRow("f1 a difference tag stale")
        << 1 << 0x93 << bytes({0, 0x7F, 0, 0x70, 0, 0x71, 0, 0x72, 0, 0x73, 0, 0x74, 0, 0x75, 0, 0x6F}) << 7 << 1
        << false;
    // Family 2: bits 7-6 of 0xB1.., only the first SBF-count tags.
    QTest::newRow("f2 two SBFs ignore the rest")
        << 2 << 0xB0 << bytes({0, 0xC0, 0, 0xFF, 0, 0x00, 0, 0x40}) << 3 << 2 << true;
    QTest::newRow("f2 third SBF counts") << 2 << 0xB0 << bytes({0, 0xC0, 0, 0xFF, 0, 0x00, 0, 0x40}) << 3 << 3 << false;
    QTest::newRow("f2 no SBF") << 2 << 0xB0 << bytes({0, 0x00, 0, 0x00, 0, 0x00, 0, 0x00}) << 1 << 0 << true;
    QTest::newRow("f2 SBF count above 4 is 4")
        << 2 << 0xB0 << bytes({0, 0x40, 0, 0x40, 0, 0x40, 0, 0x40, 0x00, 0x00}) << 1 << 9 << true;
    // Family 4: high nibbles of 0xD9, 0xDB, 0xDD, 0xDF.
    QTest::newRow("f4 first SBF only") << 4 << 0xD8 << bytes({0, 0xC8, 0, 0x00, 0, 0x00, 0, 0x00}) << 12 << 1 << true;
    QTest::newRow("f4 second SBF stale") << 4 << 0xD8 << bytes({0, 0xC8, 0, 0xB0, 0, 0xC0, 0, 0xC0}) << 12 << 4
                                         << false;
    QTest::newRow("f4 sign bit is not a tag bit")
        << 4 << 0xD8 << bytes({0, 0x28, 0, 0x2F, 0, 0x20, 0, 0x27}) << 2 << 4 << true;
    QTest::newRow("f3 has no tags") << 3 << 0x00 << bytes({}) << 0 << 4 << false;
}

void tst_monitor_decode::channelCheck() {
    QFETCH(int, family);
    QFETCH(int, reg);
    QFETCH(QByteArray, bytes);
    QFETCH(int, ch);
    QFETCH(int, sbf);
    QFETCH(bool, passes);
    Image img;
    for (int i = 0; i < bytes.size(); ++i) img.b[(reg + i) & 0xFF] = uint8_t(bytes[i]);
    QCOMPARE(Channel_Check(family, img.data(), ch, sbf), passes);
}

void tst_monitor_decode::nextSelectedChannel_data() {
    QTest::addColumn<int>("from");
    QTest::addColumn<int>("limit");
    QTest::addColumn<int>("mask");
    QTest::addColumn<int>("expected");
    QTest::newRow("0 to 5 of 8") << 0 << 8 << 0x21 << 5;
    QTest::newRow("5 wraps to 0") << 5 << 8 << 0x21 << 0;
    QTest::newRow("only itself") << 2 << 8 << 0x04 << 2;
    QTest::newRow("nothing selected") << 2 << 8 << 0 << -1;
    QTest::newRow("no channels") << 0 << 0 << 0xFFFF << -1;
    QTest::newRow("negative count") << 0 << -3 << 0xFFFF << -1;
    QTest::newRow("selected beyond the count") << 0 << 8 << 0x0200 << -1;
    QTest::newRow("from beyond the count starts at 0") << 10 << 8 << 0x03 << 0;
    QTest::newRow("from far beyond") << 200 << 8 << 0x80 << 7;
    QTest::newRow("count above 16 is 16") << 15 << 40 << 0x0002 << 1;
    QTest::newRow("last channel") << 14 << 16 << 0x8000 << 15;
}

void tst_monitor_decode::nextSelectedChannel() {
    QFETCH(int, from);
    QFETCH(int, limit);
    QFETCH(int, mask);
    QFETCH(int, expected);
    QCOMPARE(Next_Selected_Channel(from, limit, uint16_t(mask)), expected);
}

QTEST_APPLESS_MAIN(tst_monitor_decode)
#include "tst_monitor_decode.moc"
