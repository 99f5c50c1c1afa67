// The polling thread against the simulated board: when it reports the chip
// seen or lost, what it sends, and how quickly it ends.
#include <QElapsedTimer>
#include <QtTest>
#include <memory>

#include "worker_rig.h"

class tst_cmd_thread : public QObject {
    Q_OBJECT
private slots:
    void chipAnswers_connectionAboutASecondAfterPortOpens();
    void addressWithoutChip_disconnectionAtNextProbe();
    void silentBoard_countsAsNoChip();
    void noPortOpen_sendsNothing();

    void stop_endsWithinTheSleep();
    void stopBeforeLoopBegins_stillEnds();
    void destroyingRunningThread_stopsIt();
};

void tst_cmd_thread::chipAnswers_connectionAboutASecondAfterPortOpens() {
    WorkerRig rig("TK2C", 8, 4);
    QVERIFY(rig.start());
    QElapsedTimer since;
    since.start();
    ChipPollThread* cmd = rig.startCmd();
    QSignalSpy up(cmd, &ChipPollThread::chipFound);
    QSignalSpy down(cmd, &ChipPollThread::chipLost);
    QTRY_VERIFY_WITH_TIMEOUT(up.count() >= 1, 5000);
    QVERIFY(since.elapsed() >= 900);  // one probe a second, not sooner
    rig.stopWorkers();

    QCOMPARE(down.count(), 0);
    const std::vector<SimFrame> frames = rig.frames();
    QVERIFY(!frames.empty());
    QCOMPARE(QByteArray::fromStdString(frames.front().body), QByteArray("CRB00001"));
    QCOMPARE(int(rig.image.value(0)), int(rig.chipCopy().peek(0x00)));
    QVERIFY(rig.image.value(0) != 0);
}

void tst_cmd_thread::addressWithoutChip_disconnectionAtNextProbe() {
    WorkerRig rig("TK1B", 8, 4);
    QVERIFY(rig.start());
    ChipPollThread* cmd = rig.startCmd();
    QSignalSpy up(cmd, &ChipPollThread::chipFound);
    QSignalSpy down(cmd, &ChipPollThread::chipLost);
    QTRY_VERIFY_WITH_TIMEOUT(up.count() >= 1, 5000);
    rig.session->setChipPresent(true);  // what the main window's slot does
    QVERIFY(rig.image.value(0) != 0);
    const int ups = up.count();

    rig.session->setI2cAddress(0x1A0);  // only the low byte goes out
    QTRY_VERIFY_WITH_TIMEOUT(down.count() >= 1, 5000);
    rig.stopWorkers();

    QCOMPARE(up.count(), ups);
    QCOMPARE(QByteArray::fromStdString(rig.frames().back().body), QByteArray("CRA00001"));
    QCOMPARE(rig.frames().back().status, 'N');
    // The command went out, so the byte that did not come back reads as 0.
    QCOMPARE(int(rig.image.value(0)), 0);
}

void tst_cmd_thread::silentBoard_countsAsNoChip() {
    WorkerRig rig("TK2A", 4, 4);
    QVERIFY(rig.start());
    rig.host.setSilent(true);
    rig.session->setChipPresent(true);
    ChipPollThread* cmd = rig.startCmd();
    QSignalSpy up(cmd, &ChipPollThread::chipFound);
    QSignalSpy down(cmd, &ChipPollThread::chipLost);
    QTRY_VERIFY_WITH_TIMEOUT(down.count() >= 1, 5000);
    // Nothing was seen, so nothing is reported as seen.
    rig.session->setChipPresent(false);
    const size_t probes = rig.host.frameCount();
    QTRY_VERIFY_WITH_TIMEOUT(rig.host.frameCount() > probes, 5000);
    rig.stopWorkers();
    QCOMPARE(up.count(), 0);
}

void tst_cmd_thread::noPortOpen_sendsNothing() {
    WorkerRig rig("TK2C", 8, 4);
    QVERIFY(rig.start(false));
    ChipPollThread* cmd = rig.startCmd();
    QSignalSpy up(cmd, &ChipPollThread::chipFound);
    QSignalSpy down(cmd, &ChipPollThread::chipLost);
    rig.session->setChipPresent(true);  // even a stale "connected" must not make it probe
    QTest::qWait(2300);                 // two probe periods
    rig.stopWorkers();
    QCOMPARE(rig.host.frameCount(), size_t(0));
    QCOMPARE(up.count() + down.count(), 0);
}

void tst_cmd_thread::stop_endsWithinTheSleep() {
    const auto session = std::make_unique<BoardSession>();  // its link never opened
    // The thread begins with a whole second's sleep. A stop 50 ms into it
    // must end the thread well before that second is up; the bound is the
    // second itself, counted from start(), so a slow machine gets all the
    // room the check can give without letting a sleep that runs out pass.
    const auto owned = std::make_unique<ChipPollThread>(*session);  // heap: see link_fixture.h
    ChipPollThread& cmd = *owned;
    QElapsedTimer t;
    t.start();
    cmd.start();
    QTest::qWait(50);
    cmd.Stop();
    QVERIFY(cmd.wait(5000));
    QVERIFY2(t.elapsed() < ChipPollThread::kProbeIntervalMs, qPrintable(QString::number(t.elapsed())));
    QVERIFY(!cmd.m_Stop.load());  // cleared, so the thread can run again

    t.restart();
    cmd.start();
    QTest::qWait(50);
    QVERIFY(cmd.isRunning());
    cmd.Stop();
    QVERIFY(cmd.wait(5000));
    QVERIFY2(t.elapsed() < ChipPollThread::kProbeIntervalMs, qPrintable(QString::number(t.elapsed())));
}

void tst_cmd_thread::stopBeforeLoopBegins_stillEnds() {
    const auto session = std::make_unique<BoardSession>();  // its link never opened
    for (int i = 0; i < 20; ++i) {
        const auto ownedCmd = std::make_unique<ChipPollThread>(*session);  // heap: see link_fixture.h
        const auto ownedProc = std::make_unique<MonitorThread>(*session);
        ChipPollThread& cmd = *ownedCmd;
        MonitorThread& proc = *ownedProc;
        cmd.start();
        proc.start();
        cmd.Stop();
        proc.Stop();
        QVERIFY(cmd.wait(5000));
        QVERIFY(proc.wait(5000));
    }
}

void tst_cmd_thread::destroyingRunningThread_stopsIt() {
    const auto session = std::make_unique<BoardSession>();  // its link never opened
    auto* cmd = new ChipPollThread(*session);
    auto* proc = new MonitorThread(*session);
    QSignalSpy cmdDone(cmd, &QThread::finished);
    QSignalSpy procDone(proc, &QThread::finished);
    cmd->start();
    proc->start();
    QTRY_VERIFY(cmd->isRunning() && proc->isRunning());
    // A QThread destroyed while running would abort the process.
    delete proc;
    delete cmd;
    QCOMPARE(cmdDone.count(), 1);
    QCOMPARE(procDone.count(), 1);
}

QTEST_MAIN(tst_cmd_thread)
#include "tst_cmd_thread.moc"
