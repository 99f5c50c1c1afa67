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

    // The lengths of the channel's line pieces, oldest first.
    static QVector<int> Pieces(const SampleHistory& h, int ch) {
        QVector<int> pieces;
        for (qsizetype i = 0; i < h.size(ch); ++i) {
            if (i == 0 || h.startsPiece(ch, i)) pieces.append(0);
            ++pieces.last();
        }
        return pieces;
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

    // A line breaks at a silence of more than three usual intervals, not at
    // a merely slow or uneven stretch, and a slower cadence becomes the usual.
    void piecesFromCadence_data() {
        QTest::addColumn<QVector<qint64>>("times");
        QTest::addColumn<QVector<int>>("pieces");
        QTest::newRow("steady") << QVector<qint64>{0, 100, 200, 300, 400, 500} << QVector<int>{6};
        QTest::newRow("silence of five intervals") << QVector<qint64>{0, 100, 200, 300, 800, 900} << QVector<int>{4, 2};
        QTest::newRow("three intervals exactly") << QVector<qint64>{0, 100, 200, 300, 600, 700} << QVector<int>{6};
        QTest::newRow("too few intervals to judge") << QVector<qint64>{0, 100, 1000, 1100} << QVector<int>{4};
        QTest::newRow("uneven") << QVector<qint64>{0, 90, 210, 300, 390, 520, 600} << QVector<int>{7};
        QTest::newRow("late sample at the same time") << QVector<qint64>{0, 100, 200, 300, 250, 400} << QVector<int>{6};
        QTest::newRow("slower cadence") << QVector<qint64>{0, 100, 200, 300, 1300, 2300, 3300, 4300, 5300}
                                        << QVector<int>{4, 1, 1, 3};
    }
    void piecesFromCadence() {
        QFETCH(QVector<qint64>, times);
        QFETCH(QVector<int>, pieces);
        SampleHistory h;
        for (qint64 t : times) h.append(At(5, t));
        QCOMPARE(Pieces(h, 5), pieces);
    }

    // Monitoring of a channel stopped and resumed breaks its line even when
    // the pause is shorter than a gap; a sample read just before the channel
    // was dropped still ends the line before the pause.
    void narrowedAwayAndBack() {
        SampleStream stream;
        stream.restart(SampleStream::Source::Replay);
        stream.setMonitoredChannels(0x0005);
        for (qint64 t = 0; t < 3000; t += 500) stream.publish(At(2, t));
        stream.setMonitoredChannels(0x0001);  // narrowed to SIN 1 for 5 s
        stream.publish(At(2, 2600));
        for (qint64 t = 2700; t < 7700; t += 100) stream.publish(At(0, t));
        stream.setMonitoredChannels(0x0005);
        for (qint64 t = 7700; t < 9000; t += 500) stream.publish(At(2, t));
        QCOMPARE(Pieces(stream.history(), 2), (QVector<int>{7, 3}));
        QCOMPARE(Pieces(stream.history(), 0), (QVector<int>{50}));

        // Dropped and taken back between two samples of the usual interval.
        stream.setMonitoredChannels(0x0001);
        stream.setMonitoredChannels(0x0005);
        stream.publish(At(2, 9200));
        stream.publish(At(2, 9700));
        QCOMPARE(Pieces(stream.history(), 2), (QVector<int>{7, 3, 2}));
        QCOMPARE(Pieces(stream.history(), 0), (QVector<int>{50}));
    }

    // A replay that jumps breaks every line there; a jump back continues the
    // axis instead of piling the samples onto the newest time.
    void replayJumps_data() {
        QTest::addColumn<qint64>("target");
        QTest::newRow("back") << qint64(2000);
        QTest::newRow("forward") << qint64(60000);
        QTest::newRow("to where it was") << qint64(10250);
    }
    void replayJumps() {
        QFETCH(qint64, target);
        SampleStream stream;
        stream.restart(SampleStream::Source::Replay);
        for (qint64 t = 0; t <= 10000; t += 250) stream.publish(At(1, t));
        stream.jumpTo(target);
        for (qint64 t = target; t < target + 2000; t += 250) stream.publish(At(1, t));
        const SampleHistory& h = stream.history();
        QCOMPARE(Pieces(h, 1), (QVector<int>{41, 8}));
        for (qsizetype i = 42; i < h.size(1); ++i) QCOMPARE(h.at(1, i).tMs - h.at(1, i - 1).tMs, qint64(250));
        QCOMPARE(h.at(1, 41).tMs, std::max<qint64>(target, 10000));
    }

    // A reconnection continues the history's time axis with the releases of
    // held keys; a replay starts it afresh.
    void streamKeepsAxisAcrossReconnection() {
        const auto live = [] {
            MonitorSample s;
            s.tMs = Steady_Ms();
            s.wallMs = Wall_Ms();
            s.channel = 2;
            return s;
        };
        SampleStream stream;
        stream.restart();
        stream.publishTouchMask(0x4);
        stream.publishLive(live());
        QTest::qWait(30);
        stream.restart();
        QCOMPARE(stream.touchMask(), uint16_t(0));
        QCOMPARE(stream.history().touchMask(), uint16_t(0));
        QSignalSpy added(&stream, &SampleStream::sampleAdded);
        stream.publishLive(live());
        QCOMPARE(added.size(), 1);
        // The stream counts from the new origin, the history runs on.
        QVERIFY(added[0][0].value<MonitorSample>().tMs < 30);
        QCOMPARE(stream.history().size(2), qsizetype(2));
        QVERIFY(stream.history().at(2, 1).tMs >= stream.history().at(2, 0).tMs + 30);
        QVERIFY(stream.history().startsPiece(2, 1));  // the board was away
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
