// Board commands over a pseudo-terminal whose far end plays the board.
#include <QElapsedTimer>
#include <QTimer>
#include <QtTest>
#include <thread>
#include <vector>

#include "link/link_fixture.h"
#include "support/exchange_result_text.h"

namespace {

constexpr uint8_t kCanary = 0xEE;
constexpr int kDestSize = 12;

QByteArray Canaries(int n = kDestSize) { return QByteArray(n, static_cast<char>(kCanary)); }

// Runs one command the way a data row names it.
ExchangeResult RunCommand(BoardLink& link, const QString& op, int a, int b, int len, const QByteArray& src,
                          uint8_t* dest) {
    const auto* data = reinterpret_cast<const uint8_t*>(src.constData());
    if (op == "R") return CMD_Read(link, uint8_t(a), uint8_t(b), uint8_t(len), dest);
    if (op == "W") return CMD_Write(link, uint8_t(a), uint8_t(b), uint8_t(len), data);
    if (op == "V") return CMD_Version(link, dest);
    if (op == "D") return CMD_Device(link, uint8_t(a));
    if (op == "O") return CMD_Output(link, uint8_t(a));
    return ExchangeResult::boardStatus('?');
}

}  // namespace

class tst_Commands : public QObject {
    Q_OBJECT

private slots:
    void exchange_data() {
        QTest::addColumn<QString>("op");
        QTest::addColumn<int>("a");
        QTest::addColumn<int>("b");
        QTest::addColumn<int>("len");
        QTest::addColumn<QByteArray>("src");
        QTest::addColumn<QByteArray>("frame");
        QTest::addColumn<QByteArray>("reply");
        QTest::addColumn<QString>("result");
        QTest::addColumn<QByteArray>("dest");

        const QByteArray none;
        QTest::newRow("read one register") << "R" << 0xB0 << 0x00 << 1 << none << Stx("CRB00001") << Stx("RR5A") << "0"
                                           << QByteArray("\x5A") + Canaries(11);
        QTest::newRow("read of 12 is cut to 8")
            << "R" << 0xB0 << 0x10 << 12 << none << Stx("CRB01008") << Stx("RR0102030405060708") << "0"
            << QByteArray("\x01\x02\x03\x04\x05\x06\x07\x08") + Canaries(4);
        QTest::newRow("lower-case and non-hex digits") << "R" << 0xB0 << 0x00 << 2 << none << Stx("CRB00002")
                                                       << Stx("RR5aG1") << "0" << QByteArray("\x5A\x01") + Canaries(10);
        QTest::newRow("short reply zero-fills") << "R" << 0xB0 << 0x00 << 3 << none << Stx("CRB00003") << Stx("RR5")
                                                << "0" << QByteArray("\x50\x00\x00", 3) + Canaries(9);
        QTest::newRow("read error status zeroes the destination")
            << "R" << 0xB0 << 0x00 << 2 << none << Stx("CRB00002") << Stx("RN") << "N"
            << QByteArray(2, '\0') + Canaries(10);
        QTest::newRow("write two registers") << "W" << 0xB0 << 0x20 << 2 << QByteArray("\x12\xAB")
                                             << Stx("CWB0200212AB") << Stx("RW") << "0" << Canaries();
        QTest::newRow("write of 12 is cut to 8")
            << "W" << 0xB0 << 0x00 << 12 << QByteArray("\x00\x01\x02\x03\x04\x05\x06\x07\x08\x09\x0A\x0B", 12)
            << Stx("CWB000080001020304050607") << Stx("RW") << "0" << Canaries();
        QTest::newRow("write error status passes through")
            << "W" << 0xB0 << 0x20 << 1 << QByteArray("\x01") << Stx("CWB0200101") << Stx("RE") << "E" << Canaries();
        QTest::newRow("version") << "V" << 0 << 0 << 0 << none << Stx("CV") << Stx("RV20") << "0"
                                 << QByteArray("\x20") + Canaries(11);
        QTest::newRow("device type") << "D" << 3 << 0 << 0 << none << Stx("CD03") << Stx("RD") << "0" << Canaries();
        QTest::newRow("output level") << "O" << 0xFF << 0 << 0 << none << Stx("COFF") << Stx("RO") << "0" << Canaries();
        QTest::newRow("touch event before the reply")
            << "R" << 0xB0 << 0x00 << 1 << none << Stx("CRB00001") << Stx("CT0100") + Stx("RR5A") << "0"
            << QByteArray("\x5A") + Canaries(11);
        QTest::newRow("headless tail is not an answer")
            << "R" << 0xB0 << 0x00 << 1 << none << Stx("CRB00001") << QByteArray("RR77\x03") + Stx("RR5A") << "0"
            << QByteArray("\x5A") + Canaries(11);
        QTest::newRow("frame without status is not an answer")
            << "R" << 0xB0 << 0x00 << 1 << none << Stx("CRB00001") << Stx("R") + Stx("RR5A") << "0"
            << QByteArray("\x5A") + Canaries(11);
        QTest::newRow("overlong reply fills only the request")
            << "R" << 0xB0 << 0x00 << 8 << none << Stx("CRB00008") << Stx("RR" + QByteArray(60, 'A')) << "0"
            << QByteArray(8, '\xAA') + Canaries(4);
    }

    void exchange() {
        QFETCH(QString, op);
        QFETCH(int, a);
        QFETCH(int, b);
        QFETCH(int, len);
        QFETCH(QByteArray, src);
        QFETCH(QByteArray, frame);
        QFETCH(QByteArray, reply);
        QFETCH(QString, result);
        QFETCH(QByteArray, dest);

        LiveLink link;
        QVERIFY(link.connect());
        link.peer.startResponder([reply](const QByteArray&) { return reply; });

        uint8_t buf[kDestSize];
        memset(buf, kCanary, sizeof buf);
        QCOMPARE(RunCommand(link.link, op, a, b, len, src, buf), ResultOf(result.at(0).toLatin1()));
        QCOMPARE(QByteArray(reinterpret_cast<const char*>(buf), kDestSize), dest);
        QCOMPARE(link.peer.frames(), QList<QByteArray>{frame});
    }

    void readIntoAtomicImage() {
        LiveLink link;
        QVERIFY(link.connect());
        link.peer.startResponder([](const QByteArray&) { return Stx("RRC3D4"); });
        std::atomic<uint8_t> image[4] = {};
        image[2].store(kCanary);
        QCOMPARE(CMD_Read(link.link, 0xB0, 0x00, 2, image), ExchangeResult::done());
        QCOMPARE(image[0].load(), uint8_t(0xC3));
        QCOMPARE(image[1].load(), uint8_t(0xD4));
        QCOMPARE(image[2].load(), kCanary);
    }

    void noPort_returnsA_andLeavesDestination() {
        uint8_t buf[4];
        memset(buf, kCanary, sizeof buf);
        LiveLink link;
        QCOMPARE(CMD_Read(link.link, 0xB0, 0, 4, buf),
                 ExchangeResult::noPort());  // receive thread not running, no port
        QCOMPARE(CMD_Version(link.link, buf), ExchangeResult::noPort());
        link.uart.start();
        QCOMPARE(CMD_Read(link.link, 0xB0, 0, 4, buf), ExchangeResult::noPort());  // thread, no port
        QVERIFY(link.connect());
        link.link.setLive(false);  // port open, link not live
        QCOMPARE(CMD_Read(link.link, 0xB0, 0, 4, buf), ExchangeResult::noPort());
        QCOMPARE(CMD_Write(link.link, 0xB0, 0, 1, buf), ExchangeResult::noPort());
        QCOMPARE(QByteArray(reinterpret_cast<const char*>(buf), 4), Canaries(4));
        QVERIFY(link.peer.read(50).isEmpty());
    }

    void silentBoard_timesOut_andZeroesDestination() {
        LiveLink link;
        QVERIFY(link.connect());
        uint8_t buf[4];
        memset(buf, kCanary, sizeof buf);
        QElapsedTimer timer;
        timer.start();
        QCOMPARE(CMD_Read(link.link, 0xB0, 0, 2, buf), ExchangeResult::noReply());
        const qint64 elapsed = timer.elapsed();
        QVERIFY2(elapsed >= kReplyTimeoutMs, qPrintable(QString::number(elapsed)));
        QVERIFY2(elapsed < 5000, qPrintable(QString::number(elapsed)));
        QCOMPARE(QByteArray(reinterpret_cast<const char*>(buf), 4), QByteArray(2, '\0') + Canaries(2));
        QCOMPARE(link.peer.read(200, 10), Stx("CRB00002"));
    }

    void staleReply_isNeverTheAnswer() {
        LiveLink link;
        QVERIFY(link.connect());
        // An earlier reply that nobody collected, and the start of another.
        const QByteArray stale = Stx("RR11") + QByteArray("\x02RR2");
        QVERIFY(link.peer.write(stale));
        QTRY_COMPARE(link.link.replies.writeCount.load(), int32_t(stale.size()));
        link.peer.startResponder([](const QByteArray&) { return QByteArray("2\x03") + Stx("RR5A"); });
        uint8_t value = 0;
        QCOMPARE(CMD_Read(link.link, 0xB0, 0, 1, &value), ExchangeResult::done());
        QCOMPARE(value, uint8_t(0x5A));
    }

    // Get_Reply bounds what it copies by the caller's size, whatever the frame.
    void overlongFrame_writesNothingPastDestination() {
        LiveLink link;
        QVERIFY(link.connect());
        const QByteArray reply = Stx("RR" + QByteArray(60, '7'));
        QVERIFY(link.peer.write(reply + reply));
        QTRY_COMPARE(link.link.replies.writeCount.load(), int32_t(2 * reply.size()));

        uint8_t small[16];
        memset(small, kCanary, sizeof small);
        QCOMPARE(link.uart.Get_Reply(small, 4, 'R', 100), 'R');
        QCOMPARE(QByteArray(reinterpret_cast<const char*>(small), 16), QByteArray(4, '7') + Canaries(12));

        uint8_t large[64];
        memset(large, kCanary, sizeof large);
        QCOMPARE(link.uart.Get_Reply(large, 64, 'R', 100), 'R');
        const QByteArray got(reinterpret_cast<const char*>(large), 64);
        QCOMPARE(got.count('7'), 29);  // the 32 bytes kept, less STX, 'R' and status
        QCOMPARE(got.mid(29), Canaries(64 - 29));
    }

    // The collector fell a whole ring behind: what it would read first is
    // overwritten. A frame spliced from the old and the new lap ("RR11") must
    // not pass for the reply; the newest bytes hold the real one ("RR5A").
    void lappedRing_splicedFrameIsNotTakenForTheReply() {
        LiveLink link;
        QVERIFY(link.connect());
        ByteRing& ring = link.link.replies;
        for (auto& b : ring.bytes) b.store('x');
        const auto put = [&ring](int at, const QByteArray& bytes) {
            for (int i = 0; i < bytes.size(); ++i) ring.bytes[at + i].store(static_cast<uint8_t>(bytes[i]));
        };
        put(1020, "\x02RR5");  // the reply, wrapping round to slot 0
        put(0, "A\x03");
        put(2, "\x02RR11\x03");  // slots 2..7: read only from before the lap
        ring.readCount.store(0);
        ring.writeCount.store(kRingSize + 6);

        uint8_t data[16] = {};
        QCOMPARE(link.uart.Get_Reply(data, sizeof data, 'R', 100), 'R');
        QCOMPARE(QByteArray(reinterpret_cast<const char*>(data)), QByteArray("5A"));
        QCOMPARE(ring.readCount.load(), int32_t(kRingSize + 2));  // just past the reply
    }

    void abort_endsWaitingExchange_andRefusesNewOnes() {
        LiveLink link;
        QVERIFY(link.connect());
        // The board answers the first command, but only after the abort has
        // come (the owner closing while the exchange waits); later ones at
        // once.
        link.peer.startResponder([&link, first = true](const QByteArray&) mutable {
            if (first) {
                link.link.abortExchanges(true);
                std::this_thread::sleep_for(std::chrono::milliseconds(50));
            }
            first = false;
            return Stx("RR5A");
        });
        uint8_t value = kCanary;
        QCOMPARE(CMD_Read(link.link, 0xB0, 0, 1, &value), ExchangeResult::noReply());

        value = kCanary;
        QCOMPARE(CMD_Read(link.link, 0xB0, 0, 1, &value), ExchangeResult::noPort());
        QCOMPARE(CMD_Device(link.link, 1), ExchangeResult::noPort());
        QCOMPARE(value, kCanary);

        link.link.abortExchanges(false);
        QTRY_COMPARE(link.peer.frames().size(), 1);
        QCOMPARE(CMD_Read(link.link, 0xB0, 0, 1, &value), ExchangeResult::done());
        QCOMPARE(value, uint8_t(0x5A));
        QCOMPARE(link.peer.frames().size(), 2);  // the refused commands wrote nothing
    }

    // A board that answers only after the tool gave up: the late reply must
    // not become the next command's answer (another register's value).
    void lateReply_isDropped_notTakenForTheNextAnswer() {
        LiveLink link;
        QVERIFY(link.connect());
        link.peer.startResponder([first = true](const QByteArray& frame) mutable {
            if (first) std::this_thread::sleep_for(std::chrono::milliseconds(150));
            first = false;
            return Stx("RR" + frame.mid(5, 2));  // the register number as its value
        });
        uint8_t value = kCanary;
        QCOMPARE(CMD_Read(link.link, 0xB0, 0x11, 1, &value), ExchangeResult::noReply());
        QCOMPARE(CMD_Read(link.link, 0xB0, 0x22, 1, &value), ExchangeResult::done());
        QCOMPARE(value, uint8_t(0x22));
        QCOMPARE(CMD_Read(link.link, 0xB0, 0x33, 1, &value), ExchangeResult::done());
        QCOMPARE(value, uint8_t(0x33));
    }

    // After a missed reply, a board that never lets the line go quiet (an
    // event every 30 ms) must not hold the next command back for good.
    void lateReply_chatteringLine_nextCommandStillGoesOut() {
        LiveLink link;
        QVERIFY(link.connect());
        link.peer.startResponder([first = true](const QByteArray& frame) mutable {
            const bool silent = first;
            first = false;
            return silent ? QByteArray() : Stx("RR" + frame.mid(5, 2));
        });
        uint8_t value = kCanary;
        QCOMPARE(CMD_Read(link.link, 0xB0, 0x11, 1, &value), ExchangeResult::noReply());

        std::atomic<bool> chatter{true};
        std::thread events([&] {
            while (chatter.load()) {
                link.peer.write(Stx("CT0100"));
                std::this_thread::sleep_for(std::chrono::milliseconds(30));
            }
        });
        std::atomic<char> result{'?'};
        std::thread next([&] { result = CMD_Read(link.link, 0xB0, 0x22, 1, &value).letter(); });
        // Waited on the outcome, not on a time: a wait that never ends shows
        // as a failure here instead of a hung suite.
        QTRY_VERIFY_WITH_TIMEOUT(result.load() != '?', 20000);
        link.link.abortExchanges(true);  // frees a command still waiting, if the check failed
        next.join();
        chatter = false;
        events.join();
        link.link.abortExchanges(false);
        QCOMPARE(result.load(), '0');
        QCOMPARE(value, uint8_t(0x22));
    }

    void threeThreads_keepEveryExchangeIntact() {
        LiveLink link;
        QVERIFY(link.connect());
        // The board echoes register numbers as data, so each caller can tell
        // whether it got its own answer.
        link.peer.startResponder([](const QByteArray& frame) {
            if (frame.size() >= 10 && frame.mid(1, 2) == "CR") {
                const int reg = frame.mid(5, 2).toInt(nullptr, 16);
                const int n = frame.mid(7, 2).toInt(nullptr, 16);
                QByteArray data;
                for (int i = 0; i < n; ++i)
                    data += QByteArray::number((reg + i) & 0xFF, 16).rightJustified(2, '0').toUpper();
                return Stx("RR" + data);
            }
            if (frame.mid(1, 2) == "CW") return Stx("RW");
            return Stx("R?");
        });

        // What counts here is that every answer is its caller's own; on a busy
        // machine the board's thread may miss 100 ms, so give it room.
        link.link.setReplyTimeout(2000);
        constexpr int kThreads = 3;
        constexpr int kRounds = 25;
        std::atomic<int> failures{0};
        std::vector<std::thread> threads;
        for (int t = 0; t < kThreads; ++t) {
            threads.emplace_back([t, &failures, &link] {
                for (int r = 0; r < kRounds; ++r) {
                    const uint8_t reg = uint8_t(t * 0x40 + r);
                    uint8_t buf[4] = {};
                    if (!CMD_Read(link.link, 0xB0, reg, 4, buf).ok()) ++failures;
                    for (int i = 0; i < 4; ++i)
                        if (buf[i] != uint8_t(reg + i)) ++failures;
                    const uint8_t data[2] = {reg, uint8_t(t)};
                    if (!CMD_Write(link.link, 0xB0, reg, 2, data).ok()) ++failures;
                }
            });
        }
        for (auto& th : threads) th.join();
        link.link.setReplyTimeout(kReplyTimeoutMs);
        QCOMPARE(failures.load(), 0);

        const QList<QByteArray> frames = link.peer.frames();
        QCOMPARE(frames.size(), kThreads * kRounds * 2);
        for (const QByteArray& f : frames) {
            const QByteArray head = f.mid(1, 4);
            const bool read = f.size() == 10 && head == "CRB0" && f.mid(7, 2) == "04";
            const bool write = f.size() == 14 && head == "CWB0" && f.mid(7, 2) == "02";
            QVERIFY2(read || write, f.toHex().constData());
            QVERIFY2(f.endsWith('\x03') && f.count('\x02') == 1, f.toHex().constData());
        }
    }

    // Two boards served by one process: each link's replies, traffic, abort
    // and owed reply are its own.
    void twoLinks_areIndependent() {
        LiveLink first;
        LiveLink second;
        QVERIFY(first.connect());
        QVERIFY(second.connect());
        first.peer.startResponder([](const QByteArray&) { return Stx("RR11"); });
        second.peer.startResponder([](const QByteArray&) { return Stx("RR22"); });
        uint8_t a = 0;
        uint8_t b = 0;
        QCOMPARE(CMD_Read(first.link, 0xB0, 0x00, 1, &a), ExchangeResult::done());
        QCOMPARE(CMD_Read(second.link, 0xB0, 0x00, 1, &b), ExchangeResult::done());
        QCOMPARE(a, uint8_t(0x11));
        QCOMPARE(b, uint8_t(0x22));
        const auto traffic = [](BoardLink& link) {
            QByteArray bytes;
            for (int32_t i = 0; i < link.traffic.writeCount.load(); ++i)
                bytes += char(link.traffic.bytes[i & kRingMask].load());
            return bytes;
        };
        QCOMPARE(traffic(first.link), Stx("RR11"));
        QCOMPARE(traffic(second.link), Stx("RR22"));

        first.link.abortExchanges(true);
        QCOMPARE(CMD_Read(first.link, 0xB0, 0x00, 1, &a), ExchangeResult::noPort());
        QCOMPARE(CMD_Read(second.link, 0xB0, 0x00, 1, &b), ExchangeResult::done());
        first.link.abortExchanges(false);
        QCOMPARE(first.peer.frames().size(), 1);  // the refused command wrote nothing
        QCOMPARE(second.peer.frames().size(), 2);

        first.peer.stopResponder();
        QCOMPARE(CMD_Read(first.link, 0xB0, 0x00, 1, &a), ExchangeResult::noReply());
        QVERIFY(first.link.replyOwed.load());
        QVERIFY(!second.link.replyOwed.load());
        QCOMPARE(CMD_Read(second.link, 0xB0, 0x00, 1, &b), ExchangeResult::done());
    }
};

QTEST_GUILESS_MAIN(tst_Commands)
#include "tst_commands.moc"
