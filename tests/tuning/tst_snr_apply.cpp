#include <QtTest>
#include <array>
#include <memory>
#include <mutex>

#include "data/RegisterImage.h"
#include "tuning/SnrRegisters.h"
#include "link/link_fixture.h"

// Applying the recommendation against a scripted board: what reaches the chip
// and what is put back when one register will not take its value.
namespace {

struct Chip {
    std::mutex mutex;
    std::array<uint8_t, 256> regs{};
    int refuseWrite = -1;  // answers the write with an error status
    int ignoreWrite = -1;  // accepts the write but keeps its value
};

PtyPeer::Responder Board(std::shared_ptr<Chip> chip) {
    return [chip](const QByteArray& frame) {
        std::lock_guard<std::mutex> lock(chip->mutex);
        const int reg = frame.mid(5, 2).toInt(nullptr, 16);
        const int n = frame.mid(7, 2).toInt(nullptr, 16);
        if (frame.mid(1, 2) == "CR") {
            QByteArray data;
            for (int i = 0; i < n; ++i)
                data += QByteArray::number(chip->regs[(reg + i) & 0xFF], 16).rightJustified(2, '0');
            return Stx("RR" + data.toUpper());
        }
        if (frame.mid(1, 2) == "CW") {
            if (reg == chip->refuseWrite) return Stx("RE");
            if (reg != chip->ignoreWrite)
                for (int i = 0; i < n; ++i)
                    chip->regs[(reg + i) & 0xFF] = uint8_t(frame.mid(9 + 2 * i, 2).toInt(nullptr, 16));
            return Stx("RW");
        }
        return Stx("R?");
    };
}

SnrResult Recommend(int channel, int value) {
    SnrResult r;
    r.channel = channel;
    r.recommended = value;
    return r;
}

}  // namespace

class tst_snr_apply : public QObject {
    Q_OBJECT

private slots:
    void apply_data();
    void apply();
};

void tst_snr_apply::apply_data() {
    QTest::addColumn<int>("refuse");
    QTest::addColumn<int>("ignore");
    QTest::addColumn<bool>("ok");
    QTest::addColumn<QVector<int>>("after");  // 0x20..0x22 afterwards
    QTest::addColumn<QStringList>("says");
    QTest::newRow("all written") << -1 << -1 << true << QVector<int>{30, 40, 50}
                                 << QStringList{"Written and read back: SIN 1 = 30, SIN 2 = 40, SIN 3 = 50."};
    QTest::newRow("third write refused: the first two put back")
        << 0x22 << -1 << false << QVector<int>{16, 17, 18}
        << QStringList{"Writing SIN 3 (register 0x22) failed: the board answered with status E.",
                       "Restored: SIN 1 (register 0x20) = 16, SIN 2 (register 0x21) = 17.",
                       "Could not restore: SIN 3 (register 0x22) = 18"};
    QTest::newRow("second keeps its value: first put back")
        << -1 << 0x21 << false << QVector<int>{16, 17, 18}
        << QStringList{"SIN 2 (register 0x21) reads back 17 after writing 40.",
                       "Restored: SIN 1 (register 0x20) = 16, SIN 2 (register 0x21) = 17."};
}

void tst_snr_apply::apply() {
    QFETCH(int, refuse);
    QFETCH(int, ignore);
    QFETCH(bool, ok);
    QFETCH(QVector<int>, after);
    QFETCH(QStringList, says);
    auto chip = std::make_shared<Chip>();
    chip->regs[0x20] = 16;
    chip->regs[0x21] = 17;
    chip->regs[0x22] = 18;
    chip->refuseWrite = refuse;
    chip->ignoreWrite = ignore;
    LiveLink link;
    QVERIFY(link.connect());
    link.peer.startResponder(Board(chip));

    RegisterImage image;
    QSignalSpy written(&image, &RegisterImage::written);
    const SnrApplyOutcome out =
        Snr_ApplyRecommended(link.link, image, 0xB0, {Recommend(0, 30), Recommend(1, 40), Recommend(2, 50)}, 4);
    link.peer.stopResponder();
    QCOMPARE(out.ok, ok);
    for (const QString& s : says) QVERIFY2(out.message.contains(s), qPrintable(out.message));
    for (int i = 0; i < 3; ++i) QCOMPARE(int(chip->regs[0x20 + i]), after[i]);
    // The image ends with what the chip holds, put back or not; only writes
    // the board took are announced, so a refused register never is.
    for (uint8_t reg : out.registers) QCOMPARE(int(image.value(reg)), int(chip->regs[reg]));
    for (const QList<QVariant>& w : written) QVERIFY(w.at(0).toInt() != refuse);
}

QTEST_GUILESS_MAIN(tst_snr_apply)
#include "tst_snr_apply.moc"
