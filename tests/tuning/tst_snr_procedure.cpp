#include <QSignalSpy>
#include <QtTest>
#include <memory>

#include "app/limits.h"
#include "data/SampleStream.h"
#include "tuning/SnrProcedure.h"
#include "workers/BoardSession.h"

// The guided test fed by hand through a stream, without a board: which
// samples count, when phases change, and that the mask and Sense always go
// back.
namespace {

using Phase = SnrProcedure::Phase;

struct Rig {
    // The board; a test that destroys the rig mid-run gives one that
    // outlives it.
    BoardSession ownSession;
    BoardSession& session;
    SampleStream stream;
    SnrProcedure proc{&stream};
    bool linkOk = true;
    bool portOk = true;
    int sensitivity = 16;
    QVector<bool> senseCalls;

    explicit Rig(BoardSession* board = nullptr) : session(board ? *board : ownSession) {
        BoardConfig config;
        config.family = 4;
        config.channels = 8;
        config.sbfs = 4;
        config.margin = 0.6f;
        session.setConfig(config);
        session.setMonitoredChannels(0x0081);
        session.setSensing(false);
        proc.setSession(&session);
        proc.setLinkCheck([this] { return linkOk; });
        proc.setPortCheck([this] { return portOk; });
        proc.setChipGrace(400);
        proc.setSensitivityReader([this](int) { return sensitivity; });
        proc.setSenseSwitch([this](bool on) {
            senseCalls.append(on);
            session.setSensing(on);
        });
    }
    void sample(int ch, int32_t diff) {
        MonitorSample s;
        s.tMs = stream.elapsedMs();
        s.channel = ch;
        s.sbfCount = 4;
        s.diff[2] = diff;
        s.diff[0] = 9999;  // another SBF must not be read
        stream.publish(s);
    }
    void touch(int mask) { stream.publishTouchMask(mask); }
    bool start(QVector<int> channels, int n) {
        SnrSettings s;
        s.channels = channels;
        s.samples = n;
        return proc.start(s);
    }
};

}  // namespace

class tst_snr_procedure : public QObject {
    Q_OBJECT

private slots:
    void fullRun_chipTouchAndManualStart();
    void releaseEarly_pausesKeepingSamples();
    void touchWhileHandsOff_restartsCollection();
    void endsEarly_restoreMaskAndSense_data();
    void endsEarly_restoreMaskAndSense();
    void chipMissesAProbe_testGoesOn();
    void start_refused_data();
    void start_refused();
};

void tst_snr_procedure::fullRun_chipTouchAndManualStart() {
    Rig r;
    QSignalSpy finished(&r.proc, &SnrProcedure::finished);
    r.sample(1, 500);  // before the start: not part of the test
    QVERIFY(r.start({1, 3}, 3));
    QCOMPARE(r.proc.phase(), Phase::HandsOff);
    QCOMPARE(r.session.monitoredChannels(), uint16_t(0x000A));
    QVERIFY(r.session.sensing());

    for (int i = 0; i < 3; ++i) {
        r.sample(1, i);      // 0 1 2
        r.sample(2, 777);    // not chosen
        r.sample(3, 2 * i);  // 0 2 4
    }
    QCOMPARE(r.proc.phase(), Phase::AwaitTouch);
    QCOMPARE(r.proc.prompt(), QStringLiteral("Touch SIN 2 and hold"));
    QCOMPARE(r.session.monitoredChannels(), uint16_t(0x0002));
    r.sample(1, 5);  // not touched yet
    r.touch(0x0002);
    QCOMPARE(r.proc.phase(), Phase::Touching);
    for (int v : {100, 101, 102}) r.sample(1, v);
    QCOMPARE(r.proc.phase(), Phase::AwaitRelease);
    QCOMPARE(r.proc.prompt(), QStringLiteral("Release SIN 2"));
    r.touch(0);

    // SIN 4 is set so high that the chip never reports it: started by hand.
    QCOMPARE(r.proc.phase(), Phase::AwaitTouch);
    QCOMPARE(r.session.monitoredChannels(), uint16_t(0x0008));
    r.proc.touchingNow();
    for (int v : {40, 44, 48}) r.sample(3, v);
    QCOMPARE(r.proc.phase(), Phase::Done);
    QCOMPARE(finished.count(), 1);
    QCOMPARE(r.session.monitoredChannels(), uint16_t(0x0081));
    QCOMPARE(r.senseCalls, (QVector<bool>{true, false}));

    const QVector<SnrResult> res = r.proc.results();
    QCOMPARE(res.size(), 2);
    QCOMPARE(res[0].channel, 1);
    QCOMPARE(res[0].noisePeakToPeak, 2.0);
    QCOMPARE(res[0].signal, 100.0);
    QCOMPARE(res[0].snr, 50.0);
    QCOMPARE(res[0].sensitivityNow, 16);
    QCOMPARE(res[1].channel, 3);
    QCOMPARE(res[1].signal, 42.0);
    QCOMPARE(res[1].recommended, 26);  // 44 x 0.6
}

void tst_snr_procedure::releaseEarly_pausesKeepingSamples() {
    Rig r;
    QVERIFY(r.start({0}, 4));
    for (int i = 0; i < 4; ++i) r.sample(0, 0);
    r.touch(0x0001);
    r.sample(0, 60);
    r.sample(0, 60);
    r.touch(0);
    QCOMPARE(r.proc.phase(), Phase::Paused);
    QCOMPARE(r.proc.collected(), 2);
    r.sample(0, 3);  // released: not a touched sample
    r.touch(0x0001);
    QCOMPARE(r.proc.phase(), Phase::Touching);
    r.sample(0, 60);
    r.sample(0, 60);
    QCOMPARE(r.proc.phase(), Phase::AwaitRelease);
    r.touch(0);
    QCOMPARE(r.proc.phase(), Phase::Done);
    QCOMPARE(r.proc.results()[0].signal, 60.0);
}

void tst_snr_procedure::touchWhileHandsOff_restartsCollection() {
    Rig r;
    QVERIFY(r.start({0}, 3));
    r.sample(0, 1);
    r.sample(0, 1);
    r.touch(0x0040);  // any key
    QCOMPARE(r.proc.collected(), 0);
    r.sample(0, 300);
    r.sample(0, 300);
    r.sample(0, 300);
    QCOMPARE(r.proc.phase(), Phase::HandsOff);
    r.touch(0);
    for (int i = 0; i < 3; ++i) r.sample(0, 2);
    QCOMPARE(r.proc.phase(), Phase::AwaitTouch);
    r.proc.touchingNow();
    for (int i = 0; i < 3; ++i) r.sample(0, 52);
    QCOMPARE(r.proc.results()[0].meanUntouched, 2.0);
}

void tst_snr_procedure::endsEarly_restoreMaskAndSense_data() {
    QTest::addColumn<QString>("how");
    QTest::addColumn<int>("phase");
    QTest::newRow("cancel while hands off") << "cancel" << int(Phase::Cancelled);
    QTest::newRow("chip silent for good") << "lost" << int(Phase::Failed);
    QTest::newRow("port closed") << "port" << int(Phase::Failed);
    QTest::newRow("no samples arrive") << "stall" << int(Phase::Failed);
    QTest::newRow("destroyed") << "destroy" << -1;
}

void tst_snr_procedure::endsEarly_restoreMaskAndSense() {
    QFETCH(QString, how);
    QFETCH(int, phase);
    BoardSession session;
    auto r = std::make_unique<Rig>(&session);
    session.setSensing(true);
    session.setMonitoredChannels(0x0006);
    r->proc.setStallTimeout(300);
    QSignalSpy finished(&r->proc, &SnrProcedure::finished);
    QVERIFY(r->start({0, 7}, 5));
    r->sample(0, 1);
    QCOMPARE(session.monitoredChannels(), uint16_t(0x0081));
    if (how == "cancel") r->proc.cancel();
    if (how == "lost") r->linkOk = false;
    if (how == "port") r->portOk = r->linkOk = false;
    if (how == "destroy") r.reset();
    if (r) {
        QTRY_COMPARE_WITH_TIMEOUT(int(r->proc.phase()), phase, 5000);
        QCOMPARE(finished.count(), 1);
        QVERIFY(!r->proc.prompt().isEmpty());
        QVERIFY(r->proc.results().isEmpty());
    }
    QCOMPARE(session.monitoredChannels(), uint16_t(0x0006));
    QVERIFY(session.sensing());
}

// A probe that misses its reply on a busy machine marks the chip gone and the
// window switches Sense off; when the next probe answers, the test carries on
// with what it had collected and switches Sense on again.
void tst_snr_procedure::chipMissesAProbe_testGoesOn() {
    Rig r;
    r.proc.setChipGrace(60000);
    QVERIFY(r.start({0}, 3));
    r.sample(0, 1);
    r.sample(0, 2);
    r.linkOk = false;
    r.session.setSensing(false);
    QTRY_VERIFY(r.proc.waitingForChip());
    QVERIFY(r.proc.prompt().contains("waiting"));
    QCOMPARE(r.proc.phase(), Phase::HandsOff);
    r.linkOk = true;
    QTRY_VERIFY(!r.proc.waitingForChip());
    QVERIFY(r.session.sensing());
    QCOMPARE(r.senseCalls.last(), true);
    r.sample(0, 3);
    QCOMPARE(r.proc.phase(), Phase::AwaitTouch);
    r.touch(0x1);
    for (int i = 0; i < 3; ++i) r.sample(0, 50);
    r.touch(0);
    QTRY_COMPARE(r.proc.phase(), Phase::Done);
    QCOMPARE(r.proc.results()[0].meanUntouched, 2.0);
}

void tst_snr_procedure::start_refused_data() {
    QTest::addColumn<QVector<int>>("channels");
    QTest::addColumn<int>("sbf");
    QTest::addColumn<int>("sensitivity");
    QTest::addColumn<bool>("link");
    QTest::addColumn<QString>("message");
    QTest::newRow("channel beyond the chip") << QVector<int>{8} << 2 << 16 << true << "SIN 9";
    QTest::newRow("SBF not configured") << QVector<int>{0} << 4 << 16 << true << "SBF 5";
    QTest::newRow("sensitivity unreadable") << QVector<int>{0, 2} << 2 << -1 << true << "0x20";
    QTest::newRow("no chip") << QVector<int>{0} << 2 << 16 << false << "connect";
}

void tst_snr_procedure::start_refused() {
    QFETCH(QVector<int>, channels);
    QFETCH(int, sbf);
    QFETCH(int, sensitivity);
    QFETCH(bool, link);
    QFETCH(QString, message);
    Rig r;
    r.sensitivity = sensitivity;
    r.linkOk = link;
    SnrSettings s;
    s.channels = channels;
    s.sbf = sbf;
    QVERIFY(!r.proc.start(s));
    QVERIFY2(r.proc.errorText().contains(message), qPrintable(r.proc.errorText()));
    QCOMPARE(r.proc.phase(), Phase::Idle);
    QCOMPARE(r.session.monitoredChannels(), uint16_t(0x0081));
    QVERIFY(r.senseCalls.isEmpty());
}

QTEST_MAIN(tst_snr_procedure)
#include "tst_snr_procedure.moc"
