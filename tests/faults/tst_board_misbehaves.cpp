// The board stays plugged in but stops behaving: it goes silent in the middle
// of an exchange, it answers with error statuses, or the line carries noise
// and damaged frames. None of these is a port failure, so no warning box may
// appear; the chip lamp follows the chip, and the tool recovers by itself
// once the board behaves again.
#include <QLineEdit>
#include <QRandomGenerator>
#include <QtTest>

#include "fault_fixture.h"
#include "ui_MainWindow.h"
#include "views/RegisterCell.h"
#include "workers/BoardSession.h"

using namespace faults;

namespace {

// Damaged and stray frames as a failing bridge or a noisy cable delivers them.
// None of them may be taken for a reply or a touch event.
// (Split literals: a hex escape would swallow a following C or E.)
const char* const kDamaged[] = {
    "\x02R",      // reply cut short, no ETX
    "\x02\x03",   // empty frame
    "\x02R\x03",  // reply without a status
    "\x02"
    "CT01\x03",  // touch event with too few digits
    "\x02"
    "CT01234\x03",  // ... with too many
    "\x02"
    "CE\x03",        // status event without digits
    "\x03\x03\x03",  // bare ETXs
    "\x02Q??\x03",   // unknown frame kind
    "\x02"
    "CT0\x02",  // event cut by a new STX
    "\x02"
    "CZZZZZZZZZZZZZZZZZZZZZZZZZZZZZZZZZZZZZZZZZZZZZZZZZ\x03",  // overlong
};

std::string RandomNoise(QRandomGenerator& rng, int n) {
    std::string s;
    for (int i = 0; i < n; ++i) {
        char c = static_cast<char>(rng.bounded(256));
        // A random STX 'R' could be taken for a reply; real line noise that
        // forms a well-framed reply is a board error the tool cannot detect.
        if (c == 'R' || c == 'C') c = 'x';
        s += c;
    }
    return s;
}

}  // namespace

class tst_BoardMisbehaves : public QObject {
    Q_OBJECT

private slots:
    // Silent while a table read waits for its replies, then back.
    void silentMidExchange_chipLostThenFound() {
        MwHarness h;
        QVERIFY2(h.start(), qPrintable(h.error()));
        MainWindow* w = h.window();
        w->ui->pushButton_Sense->setChecked(true);
        MessageBoxCatcher boxes;
        Heartbeat beat;
        h.sim()->setPacing(true);
        QTimer::singleShot(20, w, [&] { h.sim()->setSilent(true); });

        w->ui->pushButton_Read->click();

        // The next probe finds no chip: grey chip lamp, monitoring off, port
        // still open and green. The window's loop ran all the while.
        QTRY_VERIFY_WITH_TIMEOUT(!h.window()->session()->chipPresent(), 5000);
        QVERIFY(beat.beats() > 0);
        QVERIFY(h.window()->link()->isLive());
        QVERIFY(Shows(w->ui->label_UART_Status, kGreen));
        QVERIFY(Shows(w->ui->label_I2C_Status, kGrey));
        QVERIFY(ChipWidgetsEnabled(w, false));
        QVERIFY(!w->ui->pushButton_Sense->isChecked());
        QVERIFY(!h.window()->session()->sensing());
        QVERIFY(WindowAnswers());

        h.sim()->setSilent(false);
        QVERIFY(h.waitForChip(8000));
        VerifyChipAnswering(w);
        QCOMPARE(boxes.count(), 0);
    }

    // The chip moved to another address: every register command comes back
    // with the board's error status. Search finds it again.
    void errorStatuses_chipLostUntilSearchFindsIt() {
        MwHarness h;
        QVERIFY2(h.start(), qPrintable(h.error()));
        MainWindow* w = h.window();
        MessageBoxCatcher boxes;
        h.sim()->setAddr(0xB6);
        h.sim()->clearLog();

        w->ui->pushButton_Read->click();  // every run refused

        QTRY_VERIFY_WITH_TIMEOUT(!h.window()->session()->chipPresent(), 5000);
        QVERIFY(h.sim()->log()->count('R') > 0);
        for (const SimFrame& f : h.sim()->log()->frames())
            if (f.letter == 'R') QCOMPARE(f.status, 'N');
        QVERIFY(h.window()->link()->isLive());
        QVERIFY(Shows(w->ui->label_I2C_Status, kGrey));
        QVERIFY(ChipWidgetsEnabled(w, false));

        w->ui->pushButton_Setting_SearchI2C->click();
        QVERIFY(h.settle());

        QCOMPARE(w->session()->i2cAddress(), 0xB6);
        QCOMPARE(w->ui->lineEdit_I2C_ADDR->text(), QStringLiteral("B6"));
        QVERIFY(h.waitForChip(8000));
        VerifyChipAnswering(w);
        QVERIFY(WindowAnswers());
        QCOMPARE(boxes.count(), 0);
    }

    // Noise and damaged frames for a few seconds while monitoring and the
    // debug view run. Replies hit by the noise may fail (the chip may even be
    // reported lost for a moment); nothing may crash, hang, warn, or leave a
    // lamp or a flag that does not match the board.
    void noiseWhileMonitoring_noCrashNoWarningRecovers() {
        MwOptions o;
        o.debugFile = true;
        MwHarness h(o);
        QVERIFY2(h.start(), qPrintable(h.error()));
        MainWindow* w = h.window();
        w->ui->checkBox_show->setChecked(true);
        h.window()->session()->setMonitoredChannels(0x00FF);
        w->ui->pushButton_Sense->setChecked(true);
        w->ui->pushButton_Dlg->click();
        MessageBoxCatcher boxes;
        Heartbeat beat;
        QRandomGenerator rng(20240611);

        QElapsedTimer t;
        t.start();
        int i = 0;
        while (t.elapsed() < 3000) {
            h.sim()->injectRaw(RandomNoise(rng, 1 + static_cast<int>(rng.bounded(40))));
            h.sim()->injectRaw(kDamaged[i++ % (sizeof kDamaged / sizeof kDamaged[0])]);
            QTest::qWait(5);
            QVERIFY(SenseMatchesButton(w));
        }
        const int beatsDuringNoise = beat.beats();
        QVERIFY(beatsDuringNoise > 0);
        // None of the damaged touch frames lit a lamp.
        QVERIFY(LampsShow(w, 0));

        // Quiet line again: the chip answers (again), and the tool follows
        // real events and monitoring as before.
        QVERIFY(h.waitForChip(8000));
        VerifyChipAnswering(w);
        w->ui->pushButton_Sense->setChecked(true);
        QVERIFY(h.sim()->touch(3));
        QTRY_VERIFY_WITH_TIMEOUT(LampsShow(w, 0x0008), 5000);
        h.sim()->clearLog();
        QTRY_VERIFY_WITH_TIMEOUT(h.sim()->selectionEverWritten(5), 8000);
        QVERIFY(h.sim()->release(3));
        QTRY_VERIFY_WITH_TIMEOUT(LampsShow(w, 0), 5000);
        QVERIFY(WindowAnswers());
        QCOMPARE(boxes.count(), 0);
        QVERIFY(!w->ui->textEdit_debug->toPlainText().isEmpty());
    }
};

QTEST_MAIN(tst_BoardMisbehaves)
#include "tst_board_misbehaves.moc"
