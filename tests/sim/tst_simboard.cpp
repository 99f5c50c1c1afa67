// The simulated board on the wire, driven directly with a fake clock: every
// reply byte for byte, the error statuses, the event frames and the log.
#include <QtTest>

#include "sim/SimBoard.h"

namespace {

QByteArray frame(const char* body) { return QByteArray("\x02") + body + "\x03"; }

QByteArray exchange(SimBoard& board, const QByteArray& bytes, uint32_t now = 0) {
    board.receive(reinterpret_cast<const uint8_t*>(bytes.constData()), static_cast<size_t>(bytes.size()), now);
    return QByteArray::fromStdString(board.takeOutput());
}

}  // namespace

class tst_SimBoard : public QObject {
    Q_OBJECT

private slots:
    void commands_replyByteForByte_data();
    void commands_replyByteForByte();
    void malformedInput_getsErrorOrNothingButNeverStalls_data();
    void malformedInput_getsErrorOrNothingButNeverStalls();
    void absentChip_answersN_andFollowsAddressChange();
    void registerWrite_storesAndReadsBack();
    void silentBoard_listensButNeverAnswers();
    void touchEvents_onEveryChangeOnly();
    void statusEvent_oneDigitPerChannel();
    void log_recordsWritesAndSelections();
    void autoplay_holdsKeysInTurn();
};

void tst_SimBoard::commands_replyByteForByte_data() {
    QTest::addColumn<QByteArray>("request");
    QTest::addColumn<QByteArray>("reply");

    QTest::newRow("version") << frame("CV") << frame("RV20");
    QTest::newRow("device type") << frame("CD04") << frame("RD");
    QTest::newRow("output level") << frame("CO01") << frame("RO");
    QTest::newRow("read chip id") << frame("CRB00001") << frame("RRA4");
    QTest::newRow("read lower-case hex") << frame("CRb00001") << frame("RRA4");
    QTest::newRow("read with read bit") << frame("CRB10001") << frame("RRA4");
    QTest::newRow("read 8 sensitivity registers") << frame("CRB02008") << frame("RR1010101010101010");
    QTest::newRow("write two registers") << frame("CWB0200212AB") << frame("RW");
    QTest::newRow("read across the end wraps") << frame("CRB0FF02") << frame("RR00A4");
}

void tst_SimBoard::commands_replyByteForByte() {
    QFETCH(QByteArray, request);
    QFETCH(QByteArray, reply);
    SimBoard board("TK2C", 8, 4);
    QCOMPARE(exchange(board, request), reply);
}

void tst_SimBoard::malformedInput_getsErrorOrNothingButNeverStalls_data() {
    QTest::addColumn<QByteArray>("request");
    QTest::addColumn<QByteArray>("reply");

    const QByteArray version = frame("RV20");
    QTest::newRow("second byte not C") << frame("XV") << frame("RF");
    QTest::newRow("empty frame") << frame("") << frame("RF");
    QTest::newRow("unknown letter") << frame("CQ") << frame("RF");
    QTest::newRow("version with payload") << frame("CV00") << frame("RF");
    QTest::newRow("read not hex") << frame("CRB0G001") << frame("RF");
    QTest::newRow("read count 0") << frame("CRB00000") << frame("RF");
    QTest::newRow("read count 9") << frame("CRB00009") << frame("RF");
    QTest::newRow("read payload short") << frame("CRB000") << frame("RF");
    QTest::newRow("write data short of count") << frame("CWB0200212") << frame("RF");
    QTest::newRow("write data beyond count") << frame("CWB0200112AB") << frame("RF");
    QTest::newRow("device odd length") << frame("CD4") << frame("RF");
    QTest::newRow("overlong") << frame("CR" + QByteArray(200, '0')) << frame("RF");
    QTest::newRow("overlong, then good") << frame("CR" + QByteArray(70, '0')) + frame("CV") << frame("RF") + version;
    QTest::newRow("missing ETX, then good") << QByteArray(
                                                   "\x02"
                                                   "CRB000") +
                                                   frame("CV")
                                            << version;
    QTest::newRow("garbage between frames") << QByteArray("hello\x03\x03") + frame("CV") + "xyz" << version;
    QTest::newRow("lone STX") << QByteArray("\x02") << QByteArray();
}

void tst_SimBoard::malformedInput_getsErrorOrNothingButNeverStalls() {
    QFETCH(QByteArray, request);
    QFETCH(QByteArray, reply);
    SimBoard board("TK2C", 8, 4);
    QCOMPARE(exchange(board, request), reply);
    // Whatever came before, the next good command is answered normally.
    QCOMPARE(exchange(board, frame("CRB00001")), frame("RRA4"));
    QCOMPARE(board.deviceType(), -1);
}

void tst_SimBoard::absentChip_answersN_andFollowsAddressChange() {
    SimBoard board("TK2A", 4, 4);
    QCOMPARE(exchange(board, frame("CRB20001")), frame("RN"));
    QCOMPARE(exchange(board, frame("CWB2200177")), frame("RN"));
    QVERIFY(board.log()->writesTo(0x20).empty());
    QCOMPARE(board.chip().peek(0x20), uint8_t(0));

    board.setChipAddr(0xB6);
    QCOMPARE(exchange(board, frame("CRB00001")), frame("RN"));
    QCOMPARE(exchange(board, frame("CRB60001")), frame("RRA2"));
    // The board does not need a chip for its own commands.
    QCOMPARE(exchange(board, frame("CV")), frame("RV20"));
    board.setVersion(29);
    QCOMPARE(exchange(board, frame("CV")), frame("RV1D"));
}

void tst_SimBoard::registerWrite_storesAndReadsBack() {
    SimBoard board("TK2C", 8, 4);
    QCOMPARE(exchange(board, frame("CWB0200212AB")), frame("RW"));
    QCOMPARE(exchange(board, frame("CRB02002")), frame("RR12AB"));
    QCOMPARE(board.chip().peek(0x20), uint8_t(0x12));

    // Reset bit: defaults come back, as the tool's Reset expects.
    QCOMPARE(exchange(board, frame("CWB00B0101")), frame("RW"));
    QCOMPARE(exchange(board, frame("CRB02002")), frame("RR1010"));

    QCOMPARE(exchange(board, frame("CD03")), frame("RD"));
    QCOMPARE(exchange(board, frame("CO00")), frame("RO"));
    QCOMPARE(exchange(board, frame("COff")), frame("RO"));
    QCOMPARE(board.deviceType(), 3);
    QCOMPARE(board.outputLevel(), 0xFF);
}

void tst_SimBoard::silentBoard_listensButNeverAnswers() {
    SimBoard board("TK2C", 8, 4);
    board.setSilent(true);
    QCOMPARE(exchange(board, frame("CV") + frame("CWB0200155") + frame("bad")), QByteArray());
    QCOMPARE(board.log()->size(), size_t(3));
    QCOMPARE(board.chip().peek(0x20), uint8_t(0x10));
    // Events still flow: the keys are not the board's firmware.
    board.touch(1);
    QCOMPARE(QByteArray::fromStdString(board.takeOutput()), frame("CT0200"));
    board.setSilent(false);
    QCOMPARE(exchange(board, frame("CV")), frame("RV20"));
}

void tst_SimBoard::touchEvents_onEveryChangeOnly() {
    SimBoard board("TK1B", 16, 4);
    QVERIFY(board.touch(2));
    QCOMPARE(QByteArray::fromStdString(board.takeOutput()), frame("CT0400"));
    QVERIFY(board.touch(8));
    QVERIFY(!board.touch(8));
    QVERIFY(!board.touch(16));
    QVERIFY(!board.release(5));
    QCOMPARE(QByteArray::fromStdString(board.takeOutput()), frame("CT0401"));
    QVERIFY(board.touch(15));
    QVERIFY(board.release(2));
    QCOMPARE(QByteArray::fromStdString(board.takeOutput()), frame("CT0481") + frame("CT0081"));
    // The chip's touch registers agree with the frames.
    QCOMPARE(exchange(board, frame("CRB00202")), frame("RR0081"));

    // An event between two commands never splits a reply.
    QByteArray out = exchange(board, QByteArray("\x02"
                                                "CRB0"));
    board.touch(0);
    out += exchange(board, QByteArray("0202\x03"));
    QCOMPARE(out, frame("CT0181") + frame("RR0181"));
}

void tst_SimBoard::statusEvent_oneDigitPerChannel() {
    SimBoard board("TK2A", 4, 4);
    QVERIFY(board.setStatus("F071"));
    QVERIFY(board.setStatus("a"));
    QVERIFY(board.setStatus("123456"));
    QVERIFY(!board.setStatus("12G"));
    QCOMPARE(QByteArray::fromStdString(board.takeOutput()), frame("CEF071") + frame("CEA000") + frame("CE1234"));
}

void tst_SimBoard::log_recordsWritesAndSelections() {
    SimBoard board("XX01", 8, 4);  // not in the table: family 0
    exchange(board, frame("CWB04F010D"), 10);
    exchange(board, frame("CWB03A022404"), 20);
    exchange(board, frame("CWB24F010A"), 30);  // no chip there
    exchange(board, frame("CRB05002"), 40);
    exchange(board, frame("CX"), 50);

    const std::vector<SimFrame> frames = board.log()->frames();
    QCOMPARE(frames.size(), size_t(5));
    QCOMPARE(frames[0].letter, 'W');
    QCOMPARE(frames[0].status, 'W');
    QCOMPARE(frames[0].timeMs, uint32_t(10));
    QCOMPARE(frames[2].status, 'N');
    QCOMPARE(frames[3].data.size(), size_t(2));
    QCOMPARE(frames[4].letter, char(0));
    QCOMPARE(frames[4].body, std::string("CX"));
    QCOMPARE(board.log()->count('W'), size_t(3));

    QVERIFY(board.selectionEverWritten(5));   // 0x0D = channel 5 with bit 3
    QVERIFY(!board.selectionEverWritten(2));  // only ever sent to an absent chip
    QVERIFY(board.log()->wasWritten(0x3B, 0x04));
    QCOMPARE(board.log()->writesTo(0x3A), std::vector<uint8_t>{0x24});

    // A frame cut off by the next STX is logged as incomplete.
    exchange(board, QByteArray("\x02"
                               "CRB0") +
                        frame("CV"));
    QVERIFY(!board.log()->frames()[5].complete);
    board.log()->clear();
    QCOMPARE(board.log()->size(), size_t(0));

    // A long-running simulator keeps only the newest frames.
    SimFrameLog bounded(3);
    for (uint32_t t = 1; t <= 5; ++t) {
        SimFrame f;
        f.timeMs = t;
        bounded.append(f);
    }
    QCOMPARE(bounded.size(), size_t(3));
    QCOMPARE(bounded.frames().front().timeMs, uint32_t(3));
    QCOMPARE(bounded.frames().back().timeMs, uint32_t(5));
}

void tst_SimBoard::autoplay_holdsKeysInTurn() {
    SimBoard board("TK2C", 3, 4);
    board.setAutoplay(true, 1000);
    QStringList events;
    for (uint32_t t = 1000; t <= 1000 + 3 * 800 + 10; t += 10) {
        board.tick(t);
        const QByteArray out = QByteArray::fromStdString(board.takeOutput());
        if (!out.isEmpty()) events << QString("%1:%2").arg(t - 1000).arg(QString::fromLatin1(out.mid(3, 4)));
    }
    QCOMPARE(events,
             QStringList({"0:0100", "600:0000", "800:0200", "1400:0000", "1600:0400", "2200:0000", "2400:0100"}));
    board.setAutoplay(false, 4000);
    QCOMPARE(QByteArray::fromStdString(board.takeOutput()), frame("CT0000"));
    board.tick(5000);
    QCOMPARE(board.takeOutput(), std::string());
}

QTEST_GUILESS_MAIN(tst_SimBoard)
#include "tst_simboard.moc"
