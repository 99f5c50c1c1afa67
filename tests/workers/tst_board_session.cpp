// The board session: what it announces, and two boards served side by side
// in one process.
#include <QSignalSpy>
#include <QtTest>
#include <set>

#include "data/SampleStream.h"
#include "worker_rig.h"
#include "workers/BoardOps.h"
#include "workers/decode.h"

class tst_board_session : public QObject {
    Q_OBJECT

private slots:
    // Each change is announced once, and only a real change: a receiver
    // that follows the flags (a button, the monitoring dialog) must not be
    // told twice or about nothing.
    void changes_areAnnouncedOnce() {
        BoardSession s;
        QSignalSpy chip(&s, &BoardSession::chipPresentChanged);
        QSignalSpy sense(&s, &BoardSession::sensingChanged);
        QSignalSpy mask(&s, &BoardSession::monitoredChannelsChanged);

        s.setChipPresent(true);
        s.setChipPresent(true);
        s.setSensing(false);
        s.setSensing(true);
        s.setSensing(true);
        QCOMPARE(chip.size(), 1);
        QCOMPARE(sense.size(), 1);

        s.setMonitoredChannels(0x0005);
        s.setChannelMonitored(2, true);  // already in
        s.setChannelMonitored(3, true);
        s.setChannelMonitored(0, false);
        s.setChannelMonitored(16, true);  // no such channel
        s.setChannelMonitored(-1, true);
        QCOMPARE(s.monitoredChannels(), quint16(0x000C));
        QCOMPARE(mask.size(), 3);
        QCOMPARE(mask.last().at(0).value<quint16>(), quint16(0x000C));

        // Monitoring needs the link as well as the chip and Sense.
        QVERIFY(!s.monitoringWanted());

        // The address: announced when it changes, its low byte on the wire.
        QSignalSpy address(&s, &BoardSession::i2cAddressChanged);
        s.setI2cAddress(0xB0);  // the start value
        s.setI2cAddress(0x1B4);
        s.setI2cAddress(0x1B4);
        QCOMPARE(address.size(), 1);
        QCOMPARE(s.chipAddress(), uint8_t(0xB4));
    }

    // A configuration given by hand (not read from system.ini) cannot make
    // the worker threads index past their 16 x 4 arrays.
    void config_countsKeptWithinTheArrays() {
        BoardSession s;
        BoardConfig c;
        c.workDir = QStringLiteral("/somewhere");
        c.channels = 40;
        c.sbfs = -2;
        c.i2cAddress = 0xB6;
        s.setConfig(c);
        QCOMPARE(s.channelCount(), kMaxChannels);
        QCOMPARE(s.sbfCount(), 0);
        QCOMPARE(s.chipAddress(), uint8_t(0xB6));
        QCOMPARE(s.workFile("hint.txt"), QStringLiteral("/somewhere/hint.txt"));
        QCOMPARE(s.config().channels, kMaxChannels);
    }

    // Two boards of different families at different chip addresses, each
    // monitored on its own channel at the same time: each session's monitor
    // thread reads and publishes only its own board's channel, and each board
    // sees only its own session's traffic, addressed to its own chip.
    void twoSessions_monitorTheirOwnBoardsAtOnce() {
        WorkerRig first("TK2C", 8, 4);
        WorkerRig second("TK2A", 4, 2);
        QVERIFY(first.start());
        QVERIFY(second.start());
        second.host.setAddr(0xB4);
        second.session->setI2cAddress(0xB4);
        QCOMPARE(first.session->family(), SimChip::familyForModel("TK2C"));
        QCOMPARE(second.session->family(), SimChip::familyForModel("TK2A"));
        QVERIFY(first.session->family() != second.session->family());
        QCOMPARE(first.session->chipAddress(), uint8_t(0xB0));
        first.host.setSelectDelay(0);
        second.host.setSelectDelay(0);
        first.monitor(1u << 1);
        second.monitor(1u << 3);
        first.startProc();
        second.startProc();
        QTRY_VERIFY_WITH_TIMEOUT(first.published().size() >= 3 && second.published().size() >= 3, 20000);
        first.stopWorkers();
        second.stopWorkers();

        const std::vector<int> fromFirst = first.published();
        const std::vector<int> fromSecond = second.published();
        QCOMPARE(std::set<int>(fromFirst.begin(), fromFirst.end()), std::set<int>{1});
        QCOMPARE(std::set<int>(fromSecond.begin(), fromSecond.end()), std::set<int>{3});
        // Each board was asked for its own session's channel only, in its
        // own family's terms: the selection writes it received name that
        // channel and no other, and every exchange went to its own address.
        const auto selected = [](const std::vector<SimFrame>& frames) {
            std::set<int> values;
            for (const SimFrame& f : frames)
                if (f.letter == 'W' && !f.data.empty()) values.insert(f.data[0]);
            return values;
        };
        const auto addresses = [](const std::vector<SimFrame>& frames) {
            std::set<int> values;
            for (const SimFrame& f : frames)
                if (f.dev >= 0) values.insert(f.dev);
            return values;
        };
        QCOMPARE(selected(first.frames()), std::set<int>{decode::Selection_Value(first.session->family(), 1)});
        QCOMPARE(selected(second.frames()), std::set<int>{decode::Selection_Value(second.session->family(), 3)});
        QCOMPARE(addresses(first.frames()), std::set<int>{0xB0});
        QCOMPARE(addresses(second.frames()), std::set<int>{0xB4});
    }

    // The connect sequence: the version, then the family only for a
    // firmware this tool speaks to (or any, when asked to).
    void identify_sendsTheFamilyOnlyForSupportedFirmware() {
        WorkerRig rig("TK2C", 8, 4);
        QVERIFY(rig.start());
        const auto family = static_cast<uint8_t>(rig.session->family());
        const auto letters = [&rig] {
            QByteArray out;
            for (const SimFrame& f : rig.frames()) out += f.letter;
            return out;
        };

        BoardIdentity id = Board_Identify(rig.session->link(), family, false, 3);
        QVERIFY(id.version.ok() && id.accepted && id.deviceSent && id.device.ok());
        QCOMPARE(int(id.firmware), int(SimBoard::kDefaultVersion));
        QCOMPARE(letters(), QByteArray("VD"));
        rig.session->setFirmware(id.firmware);
        QCOMPARE(rig.session->firmwareText(), QStringLiteral("v3.2"));

        rig.host.setVersion(41);
        id = Board_Identify(rig.session->link(), family, false, 3);
        QVERIFY(id.version.ok() && !id.accepted && !id.deviceSent);
        QCOMPARE(letters(), QByteArray("VDV"));
        rig.session->setFirmware(id.firmware);
        QVERIFY(rig.session->firmwareText().isEmpty());  // not one we support
        id = Board_Identify(rig.session->link(), family, true, 3);
        QVERIFY(id.deviceSent && id.device.ok());
        QCOMPARE(letters(), QByteArray("VDVVD"));

        // Closing forgets the firmware and the chip; each announced once.
        QSignalSpy open(rig.session.get(), &BoardSession::portOpenChanged);
        QSignalSpy firmware(rig.session.get(), &BoardSession::firmwareChanged);
        rig.session->portOpened();
        rig.session->closePort();
        rig.session->closePort();
        QCOMPARE(open.size(), 2);
        QCOMPARE(firmware.size(), 1);
        QCOMPARE(rig.session->firmware(), 0);
        id = Board_Identify(rig.session->link(), family, false, 3);
        QCOMPARE(id.version.cause(), ExchangeCause::NoPort);
    }

    // Each session's own threads find its chip and feed its own stream:
    // samples of its monitored channel only, and the touches of its own
    // board, taken from the bytes its receive thread stored.
    void twoSessions_liveSidesFeedTheirOwnStreams() {
        WorkerRig first("TK2C", 8, 4);
        WorkerRig second("TK2A", 4, 2);
        QVERIFY(first.start());
        QVERIFY(second.start());
        std::set<int> channels[2];
        WorkerRig* rigs[2] = {&first, &second};
        for (int i = 0; i < 2; ++i) {
            BoardSession& s = *rigs[i]->session;
            rigs[i]->host.setSelectDelay(0);
            s.portOpened();
            QObject::connect(s.stream(), &SampleStream::sampleAdded, s.stream(),
                             [&set = channels[i]](const MonitorSample& m) { set.insert(m.channel); });
            s.setMonitoredChannels(i == 0 ? 1u << 2 : 1u << 1);
            s.setSensing(true);
            s.startWorkers();
            s.startWorkers();  // once is all it takes
        }
        QTRY_VERIFY_WITH_TIMEOUT(first.session->chipPresent() && second.session->chipPresent(), 20000);
        QTRY_VERIFY_WITH_TIMEOUT(
            first.session->stream()->sampleCount() >= 3 && second.session->stream()->sampleCount() >= 3, 20000);
        QVERIFY(first.host.touch(5));
        QTRY_COMPARE_WITH_TIMEOUT(int(first.session->stream()->touchMask()), 1 << 5, 20000);
        QCOMPARE(int(second.session->stream()->touchMask()), 0);
        first.session->stopWorkers();
        second.session->stopWorkers();
        QVERIFY(!first.session->monitorThread()->isRunning() && !first.session->chipPollThread()->isRunning());
        QCOMPARE(channels[0], std::set<int>{2});
        QCOMPARE(channels[1], std::set<int>{1});
    }
};

QTEST_GUILESS_MAIN(tst_board_session)
#include "tst_board_session.moc"
