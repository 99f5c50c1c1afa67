#include <QApplication>
#include <QKeyEvent>
#include <QLineEdit>
#include <QPointer>
#include <QSignalSpy>
#include <QTimer>
#include <QtTest>
#include <chrono>
#include <memory>
#include <thread>

#include "app/limits.h"
#include "data/RegisterImage.h"
#include "link/BoardLink.h"
#include "link/ReceiveThread.h"
#include "support/exchange_wait.h"
#include "support/pty_peer.h"
#include "ui_RegisterCell.h"
#include "views/RegisterCell.h"
#include "workers/BoardSession.h"

namespace {
// A chip behind the pseudo-terminal board whose register 0x2A keeps only its
// low seven bits, so a read-back differs from what was written.
class BoardWithChip {
public:
    BoardWithChip() {
        for (auto& r : m_Regs) r = 0;
        m_Peer.startResponder([this](const QByteArray& frame) { return answer(frame); });
    }
    ~BoardWithChip() { m_Peer.stopResponder(); }

    PtyPeer& peer() { return m_Peer; }
    // Board latency, so that the cell's exchange is surely still under way
    // when the test acts.
    void setReplyDelay(int ms) { m_DelayMs = ms; }

private:
    QByteArray answer(const QByteArray& frame) {
        // STX 'C' letter dev(2) reg(2) n(2) [data(2)] ETX
        if (frame.size() < 10 || frame[1] != 'C') return {};
        if (m_DelayMs > 0) std::this_thread::sleep_for(std::chrono::milliseconds(m_DelayMs.load()));
        const char letter = frame[2];
        const int reg = frame.mid(5, 2).toInt(nullptr, 16);
        if (letter == 'W' && frame.size() >= 12) {
            const int value = frame.mid(9, 2).toInt(nullptr, 16);
            m_Regs[reg] = static_cast<uint8_t>(reg == 0x2A ? value & 0x7F : value);
            return QByteArray("\x02RW\x03");
        }
        if (letter == 'R')
            return QByteArray("\x02RR") + QByteArray::number(m_Regs[reg].load(), 16).rightJustified(2, '0').toUpper() +
                   QByteArray("\x03");
        return {};
    }

    PtyPeer m_Peer;
    std::atomic<uint8_t> m_Regs[256];
    std::atomic<int> m_DelayMs{0};
};

// The link's receive thread on the board's pseudo-terminal, for one test.
class OpenLink {
public:
    OpenLink(BoardWithChip& board, BoardLink& link) : m_Link(link) {
        m_Opened = link.receiver()->Open_Port(board.peer().slavePath()) == 1;
        link.setLive(true);
        link.receiver()->start();
    }
    ~OpenLink() {
        m_Link.setLive(false);
        m_Link.receiver()->Stop();
        m_Link.receiver()->wait();
        m_Link.receiver()->Close_Port();
    }
    bool opened() const { return m_Opened; }

private:
    BoardLink& m_Link;
    bool m_Opened = false;
};

void SendReturn(QWidget* target) {
    QKeyEvent press(QEvent::KeyPress, Qt::Key_Return, Qt::NoModifier);
    QApplication::sendEvent(target, &press);
}
}  // namespace

// Without an open port every board command answers 'A' and stores nothing,
// so what the field shows after Return is the register image's old value.
class tst_RegisterCell : public QObject {
    Q_OBJECT

private slots:
    void init();

    void construction_captionMaskAndInitialText_data();
    void construction_captionMaskAndInitialText();
    void returnOrEnter_noPort_fieldShowsRegisterImage_data();
    void returnOrEnter_noPort_fieldShowsRegisterImage();
    void returnOrEnter_keyStillReachesLineEdit();
    void otherKeys_sendNothingAndKeepTypedText_data();
    void otherKeys_sendNothingAndKeepTypedText();
    void otherObjects_areIgnored();
    void returnWithBoard_writesTypedValueAndShowsReadBack_data();
    void returnWithBoard_writesTypedValueAndShowsReadBack();
    void returnWithBoard_secondReturnWhileWaiting_goesOutAfterTheFirst();
    void returnWithBoard_cellDeletedWhileWaiting_isSafe();

private:
    // A fresh board per test. Its link is not opened unless a test opens
    // it: it answers every command with 'A'.
    std::unique_ptr<BoardSession> m_Session;
    RegisterImage* m_Image = nullptr;
    BoardLink* m_Link = nullptr;
};

void tst_RegisterCell::init() {
    m_Session = std::make_unique<BoardSession>();
    m_Image = &m_Session->image();
    m_Link = &m_Session->link();
}

void tst_RegisterCell::construction_captionMaskAndInitialText_data() {
    QTest::addColumn<int>("address");
    QTest::addColumn<QString>("caption");
    QTest::newRow("05") << 0x05 << "05H";
    QTest::newRow("2A") << 0x2A << "2AH";
    QTest::newRow("FF") << 0xFF << "FFH";
    QTest::newRow("only low byte") << 0x1C3 << "C3H";
}

void tst_RegisterCell::construction_captionMaskAndInitialText() {
    QFETCH(int, address);
    QFETCH(QString, caption);
    RegisterCell cell(nullptr, address, m_Session.get());
    QCOMPARE(cell.ui->label_Addr->text(), caption);
    QCOMPARE(cell.address(), static_cast<uint8_t>(address & 0xFF));
    // Qt reports the mask without ";" when the blank is the default space.
    QCOMPARE(cell.ui->lineEdit_data->inputMask(), QStringLiteral("HH"));
    QCOMPARE(cell.ui->lineEdit_data->text(), QStringLiteral("00"));
    cell.ui->lineEdit_data->clear();
    QCOMPARE(cell.ui->lineEdit_data->displayText(), QStringLiteral("  "));
}

void tst_RegisterCell::returnOrEnter_noPort_fieldShowsRegisterImage_data() {
    QTest::addColumn<int>("key");
    QTest::addColumn<int>("modifiers");
    QTest::addColumn<QString>("typed");
    QTest::newRow("Return") << int(Qt::Key_Return) << int(Qt::NoModifier) << "1f";
    QTest::newRow("keypad Enter") << int(Qt::Key_Enter) << int(Qt::KeypadModifier) << "1f";
    QTest::newRow("empty field") << int(Qt::Key_Return) << int(Qt::NoModifier) << "";
}

void tst_RegisterCell::returnOrEnter_noPort_fieldShowsRegisterImage() {
    QFETCH(int, key);
    QFETCH(int, modifiers);
    QFETCH(QString, typed);
    RegisterCell cell(nullptr, 0x2A, m_Session.get());
    m_Image->store(0x2A, 0xC5);
    m_Image->store(0x2B, 0x11);
    cell.ui->lineEdit_data->setText(typed);

    QTest::keyClick(cell.ui->lineEdit_data, Qt::Key(key), Qt::KeyboardModifiers(modifiers));
    QVERIFY(Exchanges_Settle(*m_Session));

    QCOMPARE(cell.ui->lineEdit_data->text(), QStringLiteral("C5"));
    QCOMPARE(m_Image->value(0x2A), uint8_t(0xC5));
    QCOMPARE(m_Image->value(0x2B), uint8_t(0x11));
}

void tst_RegisterCell::returnOrEnter_keyStillReachesLineEdit() {
    RegisterCell cell(nullptr, 0x10, m_Session.get());
    QSignalSpy spy(cell.ui->lineEdit_data, &QLineEdit::returnPressed);
    QTest::keyClick(cell.ui->lineEdit_data, Qt::Key_Return);
    QCOMPARE(spy.count(), 1);
}

void tst_RegisterCell::otherKeys_sendNothingAndKeepTypedText_data() {
    QTest::addColumn<int>("key");
    QTest::newRow("Tab") << int(Qt::Key_Tab);
    QTest::newRow("Left") << int(Qt::Key_Left);
    QTest::newRow("Right") << int(Qt::Key_Right);
    QTest::newRow("Up") << int(Qt::Key_Up);
    QTest::newRow("Down") << int(Qt::Key_Down);
}

void tst_RegisterCell::otherKeys_sendNothingAndKeepTypedText() {
    QFETCH(int, key);
    RegisterCell cell(nullptr, 0x2A, m_Session.get());
    m_Image->store(0x2A, 0xC5);
    cell.ui->lineEdit_data->setText(QStringLiteral("1F"));
    QTest::keyClick(cell.ui->lineEdit_data, Qt::Key(key));
    QVERIFY(Exchanges_Settle(*m_Session));
    // Had an exchange run, the field would now show the image's C5.
    QCOMPARE(cell.ui->lineEdit_data->text(), QStringLiteral("1F"));
}

void tst_RegisterCell::otherObjects_areIgnored() {
    RegisterCell cell(nullptr, 0x2A, m_Session.get());
    m_Image->store(0x2A, 0xC5);
    QLineEdit other;
    other.installEventFilter(&cell);
    cell.ui->lineEdit_data->setText(QStringLiteral("1F"));
    QTest::keyClick(&other, Qt::Key_Return);
    QVERIFY(Exchanges_Settle(*m_Session));
    QCOMPARE(cell.ui->lineEdit_data->text(), QStringLiteral("1F"));
}

void tst_RegisterCell::returnWithBoard_writesTypedValueAndShowsReadBack_data() {
    QTest::addColumn<int>("address");
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QByteArray>("written");
    QTest::addColumn<QString>("shown");
    QTest::newRow("lower case") << 0x10 << "1f"
                                << QByteArray(
                                       "\x02"
                                       "CWB010011F\x03")
                                << "1F";
    QTest::newRow("empty field writes 00") << 0x10 << ""
                                           << QByteArray(
                                                  "\x02"
                                                  "CWB0100100\x03")
                                           << "00";
    QTest::newRow("one digit") << 0x10 << "A"
                               << QByteArray(
                                      "\x02"
                                      "CWB010010A\x03")
                               << "0A";
    QTest::newRow("chip keeps 7 bits") << 0x2A << "FF"
                                       << QByteArray(
                                              "\x02"
                                              "CWB02A01FF\x03")
                                       << "7F";
}

void tst_RegisterCell::returnWithBoard_writesTypedValueAndShowsReadBack() {
    QFETCH(int, address);
    QFETCH(QString, typed);
    QFETCH(QByteArray, written);
    QFETCH(QString, shown);

    BoardWithChip board;
    QVERIFY(board.peer().isOpen());
    OpenLink link(board, *m_Link);
    QVERIFY(link.opened());

    RegisterCell cell(nullptr, address, m_Session.get());
    QSignalSpy writes(m_Image, &RegisterImage::written);
    cell.ui->lineEdit_data->setText(typed);
    QTest::keyClick(cell.ui->lineEdit_data, Qt::Key_Return);
    QVERIFY(Exchanges_Settle(*m_Session));

    const QList<QByteArray> frames = board.peer().frames();
    QCOMPARE(frames.size(), 2);
    // The log hears of the value sent; the image holds the one read back,
    // which differs where the chip keeps fewer bits.
    QCOMPARE(writes.size(), 1);
    QCOMPARE(writes[0][0].toInt(), address);
    QCOMPARE(writes[0][1].toInt(), int(typed.toUInt(nullptr, 16)));
    QCOMPARE(frames[0], written);
    QCOMPARE(frames[1], QByteArray("\x02"
                                   "CRB0") +
                            QByteArray::number(address, 16).rightJustified(2, '0').toUpper() + QByteArray("01\x03"));
    QCOMPARE(cell.ui->lineEdit_data->text(), shown);
    QCOMPARE(m_Image->value(address), uint8_t(shown.toUInt(nullptr, 16)));
}

void tst_RegisterCell::returnWithBoard_secondReturnWhileWaiting_goesOutAfterTheFirst() {
    BoardWithChip board;
    board.setReplyDelay(20);
    OpenLink link(board, *m_Link);
    QVERIFY(link.opened());

    RegisterCell cell(nullptr, 0x10, m_Session.get());
    cell.ui->lineEdit_data->setText(QStringLiteral("33"));
    SendReturn(cell.ui->lineEdit_data);
    // Typed and sent while the board has not answered the first write yet.
    QVERIFY(m_Session->exchanges().pending() > 0);
    cell.ui->lineEdit_data->setText(QStringLiteral("34"));
    SendReturn(cell.ui->lineEdit_data);
    QVERIFY(Exchanges_Settle(*m_Session));

    // Each write with its read-back, never interleaved, in the order typed.
    const QList<QByteArray> frames = board.peer().frames();
    QCOMPARE(frames.size(), 4);
    const QByteArray readBack(
        "\x02"
        "CRB01001\x03");
    QCOMPARE(frames[0], QByteArray("\x02"
                                   "CWB0100133\x03"));
    QCOMPARE(frames[1], readBack);
    QCOMPARE(frames[2], QByteArray("\x02"
                                   "CWB0100134\x03"));
    QCOMPARE(frames[3], readBack);
    QCOMPARE(cell.ui->lineEdit_data->text(), QStringLiteral("34"));
}

void tst_RegisterCell::returnWithBoard_cellDeletedWhileWaiting_isSafe() {
    BoardWithChip board;
    board.setReplyDelay(20);
    OpenLink link(board, *m_Link);
    QVERIFY(link.opened());

    QPointer<RegisterCell> cell = new RegisterCell(nullptr, 0x10, m_Session.get());
    cell->ui->lineEdit_data->setText(QStringLiteral("44"));
    SendReturn(cell->ui->lineEdit_data);
    QVERIFY(m_Session->exchanges().pending() > 0);
    delete cell.data();
    QVERIFY(Exchanges_Settle(*m_Session));

    // The exchange itself still finished: the image holds the chip's value.
    QVERIFY(cell.isNull());
    QCOMPARE(board.peer().frames().size(), 2);
    QCOMPARE(m_Image->value(0x10), uint8_t(0x44));
}

QTEST_MAIN(tst_RegisterCell)
#include "tst_RegisterCell.moc"
