// The sensitivity procedure fed by hand through a stream, with a register
// map standing in for the chip: which samples count, what it proposes and
// writes, and what it puts back on every way out.
#include <QSignalSpy>
#include <QtTest>
#include <map>

#include "app/limits.h"
#include "data/SampleStream.h"
#include "tuning/MonitorNarrowing.h"
#include "tuning/SensitivityProcedure.h"
#include "tuning/SensitivityProposal.h"
#include "workers/BoardSession.h"

namespace {

using State = SensitivityProcedure::State;

struct Rig {
    SampleStream stream;
    BoardSession session;
    MonitorNarrowing narrowing{&session};
    std::map<int, uint8_t> regs{{0x3A, 0x04}, {0x41, 0x10}, {0x22, 0x10}};
    std::vector<std::pair<int, int>> writes;
    bool readsFail = false;
    SensitivityProcedure proc;

    Rig(int family, int channel) : proc(&stream, &narrowing, family, channel) {
        session.setMonitoredChannels(0x0006);
        session.setSensing(false);
        proc.setMargin(0.5f);
        proc.setRegisterAccess([this](uint8_t reg) { return readsFail ? -1 : int(regs[reg]); },
                               [this](uint8_t reg, uint8_t v) {
                                   writes.emplace_back(reg, v);
                                   regs[reg] = v;
                                   return true;
                               });
    }
    void sample(int ch, int32_t diff) {
        MonitorSample s;
        s.tMs = stream.elapsedMs();
        s.channel = ch;
        s.sbfCount = 4;
        s.diff[2] = diff;
        s.diff[0] = 999;  // another SBF must not be read
        stream.publish(s);
    }
};

}  // namespace

class tst_SensitivityProcedure : public QObject {
    Q_OBJECT

private slots:
    // A channel that stops being read must not keep feeding the proposal: its
    // one sample counts once, however long the window waits.
    void stalledChannel_countsItsSampleOnce() {
        Rig r(4, 2);
        r.proc.start();
        QCOMPARE(r.proc.state(), State::Sampling);
        QCOMPARE(r.session.monitoredChannels(), uint16_t(0x0004));
        QVERIFY(r.session.sensing());
        r.sample(2, 80);
        QTRY_COMPARE_WITH_TIMEOUT(r.proc.state(), State::AwaitRetry, 5000);
        QCOMPARE(r.proc.samples(), 1);
    }

    void onlyNewSamplesOfTheChannelAboveTen_count() {
        Rig r(4, 2);
        r.sample(2, 500);  // before the run
        r.proc.start();
        r.sample(3, 500);  // another channel
        r.sample(2, 10);   // not above the floor
        const int32_t diffs[] = {40, 41, 42, 43, 44, 45};
        float sum = 0;
        for (int32_t d : diffs) {
            r.sample(2, d);
            sum += float(d);
        }
        QTRY_COMPARE_WITH_TIMEOUT(r.proc.state(), State::AwaitWrite, 5000);
        QCOMPARE(r.proc.samples(), 6);
        QCOMPARE(r.proc.proposal(), AutoSen_Evaluate(sum, 6, 0.5f));
        QCOMPARE(r.regs[0x22], kAutoSenRunValue);

        r.proc.write();
        QTRY_COMPARE(r.proc.state(), State::Done);
        QCOMPARE(r.regs[0x22], r.proc.proposal());
        QCOMPARE(r.session.monitoredChannels(), uint16_t(0x0006));
        QVERIFY(!r.session.sensing());
        QVERIFY(!r.narrowing.held());
    }

    // Family 0 also holds a control bit during the run; cancelling puts both
    // registers back, and a retry does not save the run's own values.
    void cancelAfterRetry_restoresWhatWasThereFirst() {
        Rig r(0, 1);
        r.proc.start();
        QCOMPARE(r.regs[0x3A], uint8_t(0x24));
        QCOMPARE(r.regs[0x41], kAutoSenRunValue);
        QTRY_COMPARE_WITH_TIMEOUT(r.proc.state(), State::AwaitRetry, 8000);
        r.proc.retry();
        QCOMPARE(r.proc.state(), State::Sampling);
        r.proc.cancel();
        QCOMPARE(r.proc.state(), State::Cancelled);
        QCOMPARE(r.regs[0x41], uint8_t(0x10));
        QCOMPARE(r.regs[0x3A], uint8_t(0x04));
        QCOMPARE(r.session.monitoredChannels(), uint16_t(0x0006));
        QVERIFY(!r.narrowing.held());
    }

    void failedRead_abortsWithoutWriting() {
        Rig r(4, 2);
        r.readsFail = true;
        r.proc.start();
        QCOMPARE(r.proc.state(), State::Aborted);
        QVERIFY(r.writes.empty());
        QCOMPARE(r.session.monitoredChannels(), uint16_t(0x0006));
        QVERIFY(!r.narrowing.held());
    }

    void anotherRunNarrowing_refusesAndNamesIt() {
        Rig r(4, 2);
        SensitivityProcedure first(&r.stream, &r.narrowing, 4, 5);
        first.setRegisterAccess([](uint8_t) { return 0x10; }, [](uint8_t, uint8_t) { return true; });
        first.start();
        QCOMPARE(first.state(), State::Sampling);
        r.proc.start();
        QCOMPARE(r.proc.state(), State::Refused);
        QCOMPARE(r.proc.refusingChannel(), 5);
        QVERIFY(r.writes.empty());
        QCOMPARE(r.session.monitoredChannels(), uint16_t(0x0020));
    }
};

QTEST_MAIN(tst_SensitivityProcedure)
#include "tst_sensitivity_procedure.moc"
