#include <QtTest>

#include "link/event_frames.h"

Q_DECLARE_METATYPE(EventFrameEvent::Kind)

namespace {
struct Outcome {
    QList<int> touches;
    QList<QList<int>> statuses;
};

// Feeds each batch in turn into one assembler, as the receive thread's
// batches reach the debug view.
Outcome Feed(EventFrameAssembler& a, const QList<QByteArray>& batches, int channels) {
    Outcome out;
    for (const QByteArray& batch : batches) {
        for (char c : batch) {
            const EventFrameEvent ev = a.feed(static_cast<uint8_t>(c), channels);
            if (ev.kind == EventFrameEvent::Touch) out.touches << ev.touchMask;
            if (ev.kind == EventFrameEvent::Status) {
                QList<int> s;
                for (int i = 0; i < ev.statusCount; ++i) s << ev.status[i];
                out.statuses << s;
            }
        }
    }
    return out;
}

QByteArray Frame(const char* body) { return QByteArray("\x02") + body + "\x03"; }
}  // namespace

class tst_DebugViewFrames : public QObject {
    Q_OBJECT

private slots:
    void decode_data() {
        QTest::addColumn<QList<QByteArray>>("batches");
        QTest::addColumn<int>("channels");
        QTest::addColumn<QList<int>>("touches");
        QTest::addColumn<QList<QList<int>>>("statuses");

        using B = QList<QByteArray>;
        using S = QList<QList<int>>;
        QTest::newRow("touch, first pair is the low byte") << B{Frame("CT0500")} << 8 << QList<int>{0x0005} << S{};
        QTest::newRow("touch, channel 8") << B{Frame("CT0001")} << 16 << QList<int>{0x0100} << S{};
        QTest::newRow("touch, lower-case digits") << B{Frame("CTff80")} << 16 << QList<int>{0x80FF} << S{};
        QTest::newRow("touch, non-hex digit counts as 0") << B{Frame("CT0G01")} << 16 << QList<int>{0x0100} << S{};
        QTest::newRow("split in two batches")
            << B{Frame("CT0500").left(4), Frame("CT0500").mid(4)} << 8 << QList<int>{0x0005} << S{};
        QTest::newRow("split byte by byte")
            << B{"\x02", "C", "T", "0", "5", "0", "0", "\x03"} << 8 << QList<int>{0x0005} << S{};
        QTest::newRow("two frames in one batch")
            << B{Frame("CT0100") + Frame("CT0000")} << 8 << QList<int>{1, 0} << S{};
        QTest::newRow("status, one digit per channel") << B{Frame("CEF071")} << 4 << QList<int>{} << S{{15, 0, 7, 1}};
        QTest::newRow("status, extra digits ignored") << B{Frame("CE12345")} << 3 << QList<int>{} << S{{1, 2, 3}};
        QTest::newRow("reply frame is no event") << B{Frame("RR5A")} << 8 << QList<int>{} << S{};
        QTest::newRow("unknown letter") << B{Frame("CX0500")} << 8 << QList<int>{} << S{};
        QTest::newRow("reply between event frames")
            << B{Frame("CT0200") + Frame("RR5A") + Frame("CT0000")} << 8 << QList<int>{2, 0} << S{};
        QTest::newRow("noise before the STX") << B{"zz\x03" + Frame("CT0400")} << 8 << QList<int>{4} << S{};

        // Damaged frames: nothing may be decoded from what earlier frames left
        // in the buffer.
        QTest::newRow("short touch after a full one")
            << B{Frame("CT0500") + Frame("CT01")} << 8 << QList<int>{5} << S{};
        QTest::newRow("touch with five digits") << B{Frame("CT05000")} << 8 << QList<int>{} << S{};
        QTest::newRow("touch without digits") << B{Frame("CT")} << 8 << QList<int>{} << S{};
        QTest::newRow("short status after a full one")
            << B{Frame("CE1111") + Frame("CE22")} << 4 << QList<int>{} << S{{1, 1, 1, 1}};
        QTest::newRow("frame cut by a new STX")
            << B{Frame("CT05").chopped(1) + Frame("CT0800")} << 8 << QList<int>{8} << S{};
        QTest::newRow("overlong frame wraps and is dropped")
            << B{Frame(QByteArray("CE").append(40, '1').constData()) + Frame("CT0100")} << 16 << QList<int>{1} << S{};
        QTest::newRow("second ETX does not replay the touch")
            << B{Frame("CT0500") + "\x03"} << 8 << QList<int>{5} << S{};
    }

    void decode() {
        QFETCH(QList<QByteArray>, batches);
        QFETCH(int, channels);
        QFETCH(QList<int>, touches);
        QFETCH(QList<QList<int>>, statuses);

        EventFrameAssembler a;
        const Outcome out = Feed(a, batches, channels);
        QCOMPARE(out.touches, touches);
        QCOMPARE(out.statuses, statuses);
    }

    // A stream that never sends STX must not run the length counter past
    // the buffer arithmetic; frames after it still decode.
    void longStreamWithoutStx_thenFrameDecodes() {
        EventFrameAssembler a;
        for (int i = 0; i < 100000; ++i) a.feed('x', 8);
        QVERIFY(a.length() <= 2 * kEventFrameSize);
        const Outcome out = Feed(a, {Frame("CT0300")}, 8);
        QCOMPARE(out.touches, QList<int>{3});
    }
};

QTEST_GUILESS_MAIN(tst_DebugViewFrames)
#include "tst_debugview_frames.moc"
