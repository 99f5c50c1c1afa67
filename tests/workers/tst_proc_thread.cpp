// The processing thread against the simulated board: which channels it
// selects and publishes, in what order it reads, how it ends a cycle, and
// whether the values it publishes are the ones the chip meant.
#include <QtTest>
#include <set>

#include "worker_rig.h"
#include "workers/BoardSession.h"

namespace {

// "R6F RB0 W6F=02 ..." of the frames the board received, for order checks.
QString Trace(const std::vector<SimFrame>& frames) {
    QStringList parts;
    for (const SimFrame& f : frames) {
        if (f.letter == 'R')
            parts << QString::asprintf("R%02X", f.reg);
        else if (f.letter == 'W' && !f.data.empty())
            parts << QString::asprintf("W%02X=%02X", f.reg, f.data[0]);
        else
            parts << QString(QChar(f.letter ? f.letter : '?'));
    }
    return parts.join(' ');
}

std::set<int> Values(const std::vector<uint8_t>& v) { return std::set<int>(v.begin(), v.end()); }

}  // namespace

class tst_proc_thread : public QObject {
    Q_OBJECT
private slots:
    // --- selection and publication order ---------------------------------------
    void oneChannel_publishesOnlyItAndSelectsItEveryCycle();
    void twoOfEight_alternateAndOthersAreNeverSelected();
    void channelBeyondFamilyTag_isSkippedNotStalledOn();
    void staleProcChannel_movesToASelectedOneWithinBounds();
    void noChannels_cycleEndsWithoutTraffic();

    // --- ending and idling --------------------------------------------------------
    void maskClearedWhileRunning_noFurtherCycle();
    void family3_neverPublishesNorSends();
    void failedRead_endsCycleWithoutPublishing();
    void channelCheckFailsUntilChipSwitches_thenPublishes();

    // --- values ---------------------------------------------------------------------
    void family4_publishedValuesAreTheIntendedOnes();
    void family2_publishedValuesAreTheIntendedOnes();
    void family0_referenceSlotsFillOneByOne();
};

void tst_proc_thread::oneChannel_publishesOnlyItAndSelectsItEveryCycle() {
    WorkerRig rig("TK2A", 4, 4);
    QVERIFY(rig.start());
    rig.host.setSelectDelay(0);
    rig.monitor(1u << 2);
    rig.startProc();
    QTRY_VERIFY_WITH_TIMEOUT(rig.published().size() >= 4, 10000);
    rig.stopWorkers();

    const std::vector<int> pubs = rig.published();
    for (int c : pubs) QCOMPARE(c, 2);
    const std::vector<uint8_t> selections = rig.host.log()->writesTo(0x6F);
    QCOMPARE(Values(selections), std::set<int>{2});
    QVERIFY(selections.size() >= pubs.size());
    // Selection check, tags, offset block of channel 2, references, differences,
    // then the selection of the next (the same) channel.
    const QString trace = Trace(rig.frames());
    QVERIFY2(trace.contains("R6F RB0 R90 RA0 RB8 W6F=02 R6F RB0 R90 RA0 RB8 W6F=02"), qPrintable(trace));
}

void tst_proc_thread::twoOfEight_alternateAndOthersAreNeverSelected() {
    WorkerRig rig("TK2C", 8, 4);
    QVERIFY(rig.start());
    rig.host.setSelectDelay(0);
    rig.monitor((1u << 0) | (1u << 5));
    rig.startProc();
    QTRY_VERIFY_WITH_TIMEOUT(rig.published().size() >= 6, 10000);
    rig.stopWorkers();

    const std::vector<int> pubs = rig.published();
    for (size_t i = 0; i < pubs.size(); ++i) {
        QVERIFY(pubs[i] == 0 || pubs[i] == 5);
        if (i > 0) QVERIFY2(pubs[i] != pubs[i - 1], "publications must alternate");
    }
    for (int c : {1, 2, 3, 4, 6, 7}) QVERIFY2(!rig.host.selectionEverWritten(c), qPrintable(QString::number(c)));
    QCOMPARE(Values(rig.host.log()->writesTo(0x6F)), (std::set<int>{0, 5}));
}

void tst_proc_thread::channelBeyondFamilyTag_isSkippedNotStalledOn() {
    // Family 2 names channels 0..3 only; channel 6 can never pass the check,
    // and must not keep channel 1 from being monitored.
    WorkerRig rig("TK2A", 8, 4);
    QVERIFY(rig.start());
    rig.host.setSelectDelay(0);
    rig.monitor((1u << 1) | (1u << 6));
    MonitorThread proc(*rig.session);
    int published = 0;
    for (int i = 0; i < 8; ++i) published += proc.Proc_Cycle();
    QVERIFY(published >= 3);
    QCOMPARE(proc.lastChannel(), 1);
    QVERIFY(!rig.host.selectionEverWritten(6));
}

void tst_proc_thread::staleProcChannel_movesToASelectedOneWithinBounds() {
    WorkerRig rig("TK2C", 8, 4);
    QVERIFY(rig.start());
    rig.host.setSelectDelay(0);
    rig.monitor(1u << 3);
    MonitorThread proc(*rig.session);
    proc.setSelectedChannel(200);
    QSignalSpy spy(&proc, &MonitorThread::sampleReady);
    QCOMPARE(proc.Proc_Cycle(), 0);  // selects channel 3 on the chip
    QCOMPARE(proc.selectedChannel(), 3);
    QVERIFY(rig.host.log()->wasWritten(0x6F, 3));
    QCOMPARE(proc.Proc_Cycle(), 1);
    QCOMPARE(proc.lastChannel(), 3);
    QCOMPARE(spy.count(), 1);
}

void tst_proc_thread::noChannels_cycleEndsWithoutTraffic() {
    WorkerRig rig("TK2C", 0, 4);
    QVERIFY(rig.start());
    rig.monitor(0xFFFF);
    MonitorThread proc(*rig.session);
    QCOMPARE(proc.Proc_Cycle(), 0);
    // Selected bits beyond the channel count are no channels either.
    BoardConfig config = rig.session->config();
    config.channels = 4;
    rig.session->setConfig(config);
    rig.session->setMonitoredChannels(0xFFF0);
    QCOMPARE(proc.Proc_Cycle(), 0);
    QCOMPARE(rig.host.frameCount(), size_t(0));
}

void tst_proc_thread::maskClearedWhileRunning_noFurtherCycle() {
    WorkerRig rig("TK2C", 8, 4);
    QVERIFY(rig.start());
    rig.host.setSelectDelay(0);
    rig.monitor(1u << 1);
    rig.startProc();
    QTRY_VERIFY_WITH_TIMEOUT(rig.published().size() >= 2, 10000);
    rig.session->setMonitoredChannels(0);
    // Let a cycle that was under way finish, then nothing may follow.
    QTest::qWait(300);
    const size_t frames = rig.host.frameCount();
    const size_t pubs = rig.published().size();
    QTest::qWait(500);
    QCOMPARE(rig.host.frameCount(), frames);
    QCOMPARE(rig.published().size(), pubs);
}

void tst_proc_thread::family3_neverPublishesNorSends() {
    WorkerRig rig("TK1A", 8, 4);
    QVERIFY(rig.start());
    rig.monitor(0xFFFF);
    rig.startProc();
    QTest::qWait(500);  // ten cycles' worth
    rig.stopWorkers();
    QVERIFY(rig.published().empty());
    QCOMPARE(rig.host.frameCount(), size_t(0));
}

void tst_proc_thread::failedRead_endsCycleWithoutPublishing() {
    WorkerRig rig("TK2C", 8, 4);
    QVERIFY(rig.start());
    rig.host.setSelectDelay(0);
    rig.host.setSilent(true);
    rig.monitor(1u << 1);
    rig.startProc();
    QTRY_VERIFY_WITH_TIMEOUT(rig.host.frameCount() >= 3, 10000);
    QVERIFY(rig.published().empty());
    // Every cycle stopped at its first read: the selection register.
    for (const SimFrame& f : rig.frames()) QCOMPARE(QByteArray::fromStdString(f.body), QByteArray("CRB06F01"));
    // The next cycle starts over once the board answers again.
    rig.host.setSilent(false);
    QTRY_VERIFY_WITH_TIMEOUT(!rig.published().empty(), 10000);
    rig.stopWorkers();
    QCOMPARE(rig.published().front(), 1);
}

void tst_proc_thread::channelCheckFailsUntilChipSwitches_thenPublishes() {
    WorkerRig rig("TK2C", 8, 4);
    QVERIFY(rig.start());
    rig.host.setSelectDelay(400);
    rig.monitor(1u << 3);
    rig.startProc();
    QTRY_VERIFY_WITH_TIMEOUT(!rig.published().empty(), 10000);
    rig.stopWorkers();

    for (int c : rig.published()) QCOMPARE(c, 3);
    // Before the first data read, the tags were read and refused more than once.
    const QString trace = Trace(rig.frames());
    const QString beforeData = trace.left(trace.indexOf("RC0"));
    QVERIFY2(beforeData.count("RD8") >= 2, qPrintable(trace));
    QCOMPARE(Values(rig.host.log()->writesTo(0x6F)), std::set<int>{3});
}

void tst_proc_thread::family4_publishedValuesAreTheIntendedOnes() {
    WorkerRig rig("TK2C", 8, 4);
    rig.host.withBoard([](SimBoard& b, uint32_t) {
        SimChip& chip = b.chip();
        for (int k = 0; k < 4; ++k) {
            for (int c : {1, 6}) chip.setBaseRef(c, k, 0x1000 + 0x111 * k);
            chip.setOffset(1, k, k % 2 ? -(300 + k) : 2047 - k);
            chip.setOffset(6, k, k == 0 ? -2047 : k);
        }
        chip.setLevel(1, 528);
        chip.setLevel(6, -700);
        chip.setTouched(1, true);
        chip.setTouched(6, true);
    });
    QVERIFY(rig.start());
    rig.host.setSelectDelay(0);
    rig.monitor((1u << 1) | (1u << 6));
    rig.startProc();
    QTRY_VERIFY_WITH_TIMEOUT(rig.published().size() >= 4, 10000);
    rig.stopWorkers();

    SimChip chip = rig.chipCopy();
    for (int c : {1, 6}) {
        for (int k = 0; k < 4; ++k) {
            const SimSensing want = chip.intended(c, k);
            const QByteArray where = QString("ch %1 sbf %2").arg(c).arg(k).toLatin1();
            QVERIFY2(int(rig.proc->latestSample(c).sense[k]) == want.sense, where);
            QVERIFY2(rig.proc->latestSample(c).diff[k] == want.diff, where);
            QVERIFY2(rig.proc->latestSample(c).offset[k] == want.offset, where);
        }
    }
    QCOMPARE(rig.proc->latestSample(6).diff[0], -700);
    const int last = rig.proc->lastChannel();
    for (int k = 0; k < 4; ++k) QCOMPARE(int(rig.proc->latestSample(0).ref[k]), chip.intended(last, k).ref);
}

void tst_proc_thread::family2_publishedValuesAreTheIntendedOnes() {
    WorkerRig rig("TK2A", 4, 3);
    rig.host.withBoard([](SimBoard& b, uint32_t) {
        SimChip& chip = b.chip();
        const int offsets[3][3] = {{-1, 2047, 0}, {-2047, 5, -600}, {1, -2, 3}};
        for (int k = 0; k < 3; ++k) {
            for (int c : {0, 3}) chip.setBaseRef(c, k, 0x2000 + 0x321 * k);
            chip.setOffset(0, k, offsets[0][k]);
            chip.setOffset(3, k, offsets[1][k]);
            chip.setOffset(2, k, offsets[2][k]);
        }
        chip.setLevel(0, -200);
        chip.setLevel(3, 150);
        chip.setTouched(0, true);
        chip.setTouched(3, true);
    });
    QVERIFY(rig.start());
    rig.host.setSelectDelay(0);
    rig.monitor((1u << 0) | (1u << 3));
    rig.startProc();
    QTRY_VERIFY_WITH_TIMEOUT(rig.published().size() >= 4, 10000);
    rig.stopWorkers();

    SimChip chip = rig.chipCopy();
    for (int c : {0, 3}) {
        for (int k = 0; k < 3; ++k) {
            const SimSensing want = chip.intended(c, k);
            const QByteArray where = QString("ch %1 sbf %2").arg(c).arg(k).toLatin1();
            QVERIFY2(int(rig.proc->latestSample(c).sense[k]) == want.sense, where);
            QVERIFY2(rig.proc->latestSample(c).diff[k] == want.diff, where);
            QVERIFY2(rig.proc->latestSample(c).offset[k] == want.offset, where);
        }
    }
    QCOMPARE(rig.proc->latestSample(0).diff[1], -200);
    QCOMPARE(rig.proc->latestSample(0).offset[0], -1);
    // Channel 2 was never published; its offset block is not taken for another.
    for (int k = 0; k < 4; ++k) QCOMPARE(rig.proc->latestSample(2).offset[k], 0);
}

void tst_proc_thread::family0_referenceSlotsFillOneByOne() {
    WorkerRig rig("XX9Z", 8, 4);  // not in the device table: family 0
    rig.host.withBoard([](SimBoard& b, uint32_t) {
        for (int k = 0; k < 4; ++k) b.chip().setBaseRef(2, k, 0x0400 * (k + 1) + k);
        b.chip().setLevel(2, 77);
        b.chip().setTouched(2, true);
    });
    QVERIFY(rig.start());
    rig.host.setSelectDelay(0);
    rig.monitor(1u << 2);
    rig.startProc();
    QTRY_VERIFY_WITH_TIMEOUT(rig.published().size() >= 6, 10000);
    rig.stopWorkers();

    SimChip chip = rig.chipCopy();
    for (int k = 0; k < 4; ++k) {
        QCOMPARE(int(rig.proc->latestSample(0).ref[k]), chip.intended(2, k).ref);
        QCOMPARE(int(rig.proc->latestSample(2).sense[k]), chip.intended(2, k).sense);
        QCOMPARE(rig.proc->latestSample(2).diff[k], 77);
    }
    QCOMPARE(Values(rig.host.log()->writesTo(0x4F)), std::set<int>{0x0A});
}

QTEST_MAIN(tst_proc_thread)
#include "tst_proc_thread.moc"
