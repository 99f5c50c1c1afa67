// Every row of the chip-family table against the simulated chip, which
// encodes its registers from its own reading of each family's register map:
// the model names, the selection, reset and sensitivity registers, and a
// whole monitoring cycle run by the row's read plan, tag check and decoder.
#include <QtTest>

#include "sim/SimChip.h"
#include "workers/ChipFamily.h"
#include "workers/decode.h"

namespace {

// Runs the row's reads of one cycle for channel ch against the chip.
void ReadPlan(SimChip& chip, const decode::Read* reads, int n, uint8_t* img, uint32_t now) {
    for (int i = 0; i < n; ++i) chip.read(reads[i].reg, reads[i].len, img + reads[i].reg, now);
}

}  // namespace

class tst_ChipFamily : public QObject {
    Q_OBJECT

private slots:
    void row_matchesSimulatedChip_data() {
        QTest::addColumn<int>("index");
        QTest::addColumn<QString>("model");
        for (int i = 0; i < ChipFamily_Count(); ++i) {
            const ChipFamily& f = ChipFamily_At(i);
            // A DEVICE no row names stands for family 0.
            if (f.models[0] == nullptr) QTest::addRow("family %d, unnamed model", f.family) << i << "NO-SUCH-CHIP";
            for (const char* const* m = f.models; *m != nullptr; ++m)
                QTest::addRow("family %d, %s", f.family, *m) << i << QString::fromLatin1(*m);
        }
    }

    void row_matchesSimulatedChip() {
        QFETCH(int, index);
        QFETCH(QString, model);
        const ChipFamily& row = ChipFamily_At(index);
        const QByteArray name = model.toLatin1();
        QCOMPARE(ChipFamily_ForModel(name.constData(), 0), row.family);
        QCOMPARE(SimChip::familyForModel(name.toStdString()), row.family);

        constexpr int kSbf = 4;
        SimChip chip(row.family, 16, kSbf);
        QCOMPARE(chip.resetRegister(), row.resetReg);
        QCOMPARE(chip.resetBit(), row.resetBit);
        QCOMPARE(chip.selectionRegister(), row.hasMonitor() ? row.selectionReg : -1);
        for (int ch = 0; ch < 16; ++ch)
            QCOMPARE(chip.sensitivityRegister(ch), ChipFamily_SensitivityRegister(row.family, ch));
        if (!row.hasMonitor()) {
            QCOMPARE(decode::Channel_Limit(row.family), 0);
            return;
        }

        QCOMPARE(decode::Channel_Limit(row.family), row.monitorChannels);
        uint32_t now = 1000;
        for (int ch : {0, row.monitorChannels / 2 + 1, row.monitorChannels - 1}) {
            QCOMPARE(chip.selectionValue(ch), int(decode::Selection_Value(row.family, ch)));
            chip.setLevel(ch, 40 + ch);
            chip.setTouched(ch, true);
            chip.setOffset(ch, 1, -3);
            const uint8_t sel = decode::Selection_Value(row.family, ch);
            chip.write(static_cast<uint8_t>(row.selectionReg), 1, &sel, now);
            now += SimChip::kDefaultSelectDelayMs + 1;

            // Families that refresh one reference per cycle name its slot;
            // enough cycles collect all four.
            uint16_t ref[kSbf] = {};
            decode::ChannelValues v;
            for (int cycle = 0; cycle < kSbf; ++cycle) {
                uint8_t img[256] = {};
                const decode::CyclePlan plan = decode::Plan(row.family, ch);
                ReadPlan(chip, plan.pre, plan.preCount, img, now);
                const decode::RefSlot slot = decode::Reference_Slot(row.family, img);
                if (slot.slot >= 0) ref[slot.slot] = slot.value;
                ReadPlan(chip, plan.tags, plan.tagCount, img, now);
                QVERIFY2(decode::Channel_Check(row.family, img, ch, kSbf), qPrintable(QString("SIN %1").arg(ch + 1)));
                const int other = (ch + 1) % row.monitorChannels;
                QVERIFY(!decode::Channel_Check(row.family, img, other, kSbf));
                ReadPlan(chip, plan.data, plan.dataCount, img, now);
                v = decode::Decode_Channel(row.family, img, ch);
            }
            for (int k = 0; k < kSbf; ++k) {
                const SimSensing want = chip.intended(ch, k);
                QCOMPARE(int(v.sen[k]), want.sense);
                QCOMPARE(int(v.diff[k]), want.diff);
                QCOMPARE(int(v.hasRef ? v.ref[k] : ref[k]), want.ref);
                if (v.hasOffset) QCOMPARE(int(v.offset[k]), want.offset);
            }
            QVERIFY(v.diff[2] != 0);  // touched: a decoder reading the wrong bytes shows here
        }
    }
};

QTEST_MAIN(tst_ChipFamily)
#include "tst_chip_family.moc"
