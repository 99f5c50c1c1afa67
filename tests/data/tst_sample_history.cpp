#include <QSignalSpy>
#include <QtTest>

#include "data/SampleHistory.h"
#include "data/SampleStream.h"

// The bounded history every graph reads: its bounds, its order across the
// ring's wrap, readers at different positions, touch intervals, and how the
// stream keeps its time axis across reconnections.
class tst_SampleHistory : public QObject {
    Q_OBJECT

    static MonitorSample At(int ch, qint64 tMs, int diff = 0) {
        MonitorSample s;
        s.channel = ch;
        s.tMs = tMs;
        s.sbfCount = 4;
        s.diff[0] = diff;
        return s;
    }

private slots:
    void bounds_data() {
        QTest::addColumn<int>("spanS");
        QTest::addColumn<int>("count");
        QTest::addColumn<int>("stepMs");
        QTest::addColumn<int>("expectSize");
        // 10 s at 1 ms apart: the count bound (10 s * 20/s) holds, newest kept.
        QTest::newRow("count bound") << 10 << 5000 << 1 << 200;
        // 100 ms apart for 60 s: only the last 10 s stay (ends included).
        QTest::newRow("age bound") << 10 << 600 << 100 << 101;
        QTest::newRow("under both") << 600 << 50 << 100 << 50;
    }
    void bounds() {
        QFETCH(int, spanS);
        QFETCH(int, count);
        QFETCH(int, stepMs);
        QFETCH(int, expectSize);
        SampleHistory h(spanS);
        for (int i = 0; i < count; ++i) h.append(At(3, qint64(i) * stepMs, i));
        QCOMPARE(h.size(3), qsizetype(expectSize));
        QCOMPARE(h.size(2), qsizetype(0));
        // Oldest to newest without a gap, ending at the last one appended.
        for (qsizetype i = 0; i < h.size(3); ++i) QCOMPARE(h.at(3, i).diff[0], count - expectSize + int(i));
        QCOMPARE(h.latest(3)->diff[0], count - 1);
        QVERIFY(h.size(3) <= h.capacityPerChannel());
    }

    // Once full, the ring reuses its storage: an hour more of samples at a
    // board's fastest rate holds no more memory than the first span did.
    void memoryFlatAfterFilling() {
        SampleHistory h(60);
        qint64 t = 0;
        for (; t < 120000; t += 50) h.append(At(int(t / 50) % 16, t));
        const qsizetype held = h.bytesHeld();
        for (; t < 3600000; t += 50) h.append(At(int(t / 50) % 16, t));
        QCOMPARE(h.bytesHeld(), held);
        QVERIFY(held < 16 * h.capacityPerChannel() * qsizetype(sizeof(MonitorSample)));
    }

    // Two readers at their own pace each see every sample once, in order,
    // and one that fell behind the ring can tell.
    void readersAtTheirOwnPace() {
        SampleHistory h(10);  // 200 per channel
        quint64 fast = 0, slow = 0;
        QVector<int> seenFast;
        auto read = [&](quint64* mark, QVector<int>* into) {
            const qsizetype from = h.size(1) - qsizetype(h.appended(1) - *mark);
            if (from < 0) return false;
            for (qsizetype i = from; i < h.size(1); ++i)
                if (into) into->append(h.at(1, i).diff[0]);
            *mark = h.appended(1);
            return true;
        };
        for (int i = 0; i < 450; ++i) {
            h.append(At(1, i, i));
            if (i % 7 == 0) QVERIFY(read(&fast, &seenFast));
        }
        QVERIFY(read(&fast, &seenFast));
        QCOMPARE(seenFast.size(), 450);
        for (int i = 0; i < 450; ++i) QCOMPARE(seenFast[i], i);
        QVERIFY(!read(&slow, nullptr));  // 450 appended, 200 kept
    }

    void lateSamplesKeepOrder_strayChannelsIgnored() {
        SampleHistory h;
        h.append(At(0, 500));
        h.append(At(0, 400));
        h.append(At(-1, 600));
        h.append(At(kMaxChannels, 700));
        QCOMPARE(h.size(0), qsizetype(2));
        QCOMPARE(h.at(0, 1).tMs, qint64(500));
        QCOMPARE(h.lowerBound(0, 501), qsizetype(2));
        QCOMPARE(h.newestMs(), qint64(500));
    }

    void touchIntervals() {
        SampleHistory h(10);
        h.appendTouch(1000, 0x0001);  // ch0 on
        h.appendTouch(2000, 0x0003);  // ch1 on
        h.appendTouch(3000, 0x0002);  // ch0 off
        h.appendTouch(3000, 0x0002);  // no change
        h.appendTouch(5000, 0x0000);  // ch1 off
        h.appendTouch(6000, 0x0001);  // ch0 on, still held
        auto iv = h.touchIntervals(0, 0, 10000);
        QCOMPARE(iv.size(), 2);
        QCOMPARE(iv[0].startMs, qint64(1000));
        QCOMPARE(iv[0].endMs, qint64(3000));
        QCOMPARE(iv[1].startMs, qint64(6000));
        QCOMPARE(iv[1].endMs, qint64(-1));
        QCOMPARE(h.touchIntervals(1, 0, 10000).size(), 1);
        QCOMPARE(h.touchIntervals(0, 3500, 5500).size(), 0);

        // Held from before the kept span: the interval starts with the span.
        h.append(At(0, 30000));
        iv = h.touchIntervals(0, 20000, 30000);
        QCOMPARE(iv.size(), 1);
        QVERIFY(iv[0].startMs <= 20000);
        QCOMPARE(iv[0].endMs, qint64(-1));
        QCOMPARE(h.touchIntervals(1, 0, 30000).size(), 0);
    }

    // A reconnection continues the history's time axis with the releases of
    // held keys; a replay starts it afresh.
    void streamKeepsAxisAcrossReconnection() {
        SampleStream stream;
        stream.restart();
        stream.publishTouchMask(0x4);
        stream.publishLive(MonitorSample_FromGlobals(2));
        QTest::qWait(30);
        stream.restart();
        QCOMPARE(stream.touchMask(), uint16_t(0));
        QCOMPARE(stream.history().touchMask(), uint16_t(0));
        QSignalSpy added(&stream, &SampleStream::sampleAdded);
        stream.publishLive(MonitorSample_FromGlobals(2));
        QCOMPARE(added.size(), 1);
        // The stream counts from the new origin, the history runs on.
        QVERIFY(added[0][0].value<MonitorSample>().tMs < 30);
        QCOMPARE(stream.history().size(2), qsizetype(2));
        QVERIFY(stream.history().at(2, 1).tMs >= stream.history().at(2, 0).tMs + 30);
        const auto held = stream.history().touchIntervals(2, 0, 1 << 30);
        QCOMPARE(held.size(), 1);
        QVERIFY(held[0].endMs >= 30);

        QSignalSpy cleared(&stream, &SampleStream::historyCleared);
        stream.restart(SampleStream::Source::Replay);
        QCOMPARE(cleared.size(), 1);
        QCOMPARE(stream.history().size(2), qsizetype(0));
    }
};

QTEST_GUILESS_MAIN(tst_SampleHistory)
#include "tst_sample_history.moc"
