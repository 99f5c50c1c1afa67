#include <QCheckBox>
#include <QLabel>
#include <QPushButton>
#include <QTextCursor>
#include <QTextEdit>
#include <QtTest>

#include "app/limits.h"
#include "mainwindow/MainWindow.h"
#include "support/mw_harness.h"
#include "ui_ChannelIndicator.h"
#include "ui_MainWindow.h"
#include "ui_SbfColumn.h"
#include "views/ChannelIndicator.h"
#include "views/MonitoringDialog.h"
#include "views/SbfColumn.h"
#include "workers/BoardSession.h"

// The Debug tab's view and the event frames it decodes, with bytes put into
// the debug ring the way the receive thread puts them there.
class tst_DebugView : public QObject {
    Q_OBJECT

    std::unique_ptr<MwHarness> m_h;
    MainWindow* w = nullptr;

    void Start(int channels, int sbf = 4) {
        MwOptions o;
        o.model = "TK2C";
        o.channels = channels;
        o.sbf = sbf;
        o.debugFile = true;
        o.startSim = false;
        o.connect = false;
        m_h = std::make_unique<MwHarness>(o);
        QVERIFY2(m_h->start(), qPrintable(m_h->error()));
        w = m_h->window();
    }

    // One receive batch, then the slot as its queued signal would run it.
    void Receive(const QByteArray& bytes) {
        const int32_t at = m_h->storeReceived(bytes);
        w->session()->takeReceivedBytes();
        QCOMPARE(w->link()->traffic.readCount.load(), at);
    }

    static QByteArray F(const char* body) { return QByteArray("\x02") + body + "\x03"; }

    bool Lit(int ch) const {
        return w->channelIndicators[ch]->ui->label_SIN_ICON->pixmap().toImage() ==
               QPixmap(ChannelIndicator::TouchedImagePath(w->session()->family())).toImage();
    }

    // What the view holds after inserting the bytes one by one, each at the
    // cursor followed by a jump to the end.
    static QString ByteByByte(QTextEdit& ref, const QByteArray& bytes) {
        for (char c : bytes) {
            QString t(QChar(static_cast<char16_t>(static_cast<uint8_t>(c))));
            if (c == 0x03) t += "\r\n";
            ref.insertPlainText(t);
            ref.moveCursor(QTextCursor::End);
        }
        return ref.toPlainText();
    }

private slots:
    void cleanup() {
        m_h.reset();
        w = nullptr;
    }

    // Frames move the lamps whether the view shows the bytes or not, also
    // when split across batches; damaged ones move nothing.
    void touchFrames_lampsWithViewTickedAndUnticked() {
        Start(16);
        Receive(F("CT0500"));
        for (int i = 0; i < 16; ++i) QCOMPARE(Lit(i), i == 0 || i == 2);
        QVERIFY(w->ui->textEdit_debug->toPlainText().isEmpty());

        w->ui->checkBox_show->setChecked(true);
        Receive(F("CT00").left(5));
        QVERIFY(Lit(0));
        Receive("01\x03");
        for (int i = 0; i < 16; ++i) QCOMPARE(Lit(i), i == 8);
        Receive(F("RR5A"));
        QVERIFY(Lit(8));
        const QString shown = w->ui->textEdit_debug->toPlainText();
        QVERIFY(shown.contains("CT0001") && shown.contains("RR5A"));

        w->ui->checkBox_show->setChecked(false);
        // Four digits short: positions 3..6 still hold the 0001 above.
        Receive(F("CT"));
        Receive(F("CT05"));
        QVERIFY(Lit(8) && !Lit(0));
        Receive(F("CT0000"));
        QVERIFY(!Lit(8));
        QCOMPARE(w->ui->textEdit_debug->toPlainText(), shown);
    }

    void statusFrames_storeAndReachVisibleDialog() {
        Start(4, 4);
        Receive(F("CEF071"));
        const int status[4] = {0xF, 0x0, 0x7, 0x1};
        for (int c = 0; c < 4; ++c) QCOMPARE(w->sbfStatus(c), status[c]);
        // Hidden dialog: no status passed on.
        QVERIFY(w->monitoringDialog()->column(0, 1)->ui->label_OFFSET_PER->styleSheet().isEmpty());
        // Too few digits: ignored.
        Receive(F("CE1"));
        QCOMPARE(w->sbfStatus(0), 15);

        w->ui->pushButton_Dlg->click();
        Receive(F("CEF071"));
        for (int c = 0; c < 4; ++c) {
            for (int s = 0; s < 4; ++s) {
                const bool red = !w->monitoringDialog()->column(s, c)->ui->label_OFFSET_PER->styleSheet().isEmpty();
                QCOMPARE(red, !((status[c] >> s) & 1));
            }
        }
    }

    // Batching must not change a character or where the text lands, also
    // when the user has put the cursor elsewhere between two batches.
    void shownText_sameAsByteByByte() {
        Start(8);
        w->ui->checkBox_show->setChecked(true);
        QTextEdit ref;
        const QByteArray first = F("CT0500") + QByteArray("ab\xe9\xff\0z", 6);
        const QByteArray second = "\x03" + F("RR5A");
        Receive(first);
        QCOMPARE(w->ui->textEdit_debug->toPlainText(), ByteByByte(ref, first));

        for (QTextEdit* e : {w->ui->textEdit_debug, &ref}) e->moveCursor(QTextCursor::Start);
        Receive(second);
        QCOMPARE(w->ui->textEdit_debug->toPlainText(), ByteByByte(ref, second));
        QCOMPARE(w->ui->textEdit_debug->textCursor().position(), ref.textCursor().position());
        QVERIFY(w->ui->textEdit_debug->toPlainText().contains(QChar(0xE9)));
    }

    void view_keepsNewestTextUnderCap() {
        Start(8);
        w->ui->checkBox_show->setChecked(true);
        for (int i = 0; i < 260; ++i) Receive(QByteArray(1000, static_cast<char>('A' + i % 26)));
        Receive(F("CT0200") + "END");
        const QString text = w->ui->textEdit_debug->toPlainText();
        QVERIFY2(text.size() <= 200000 && text.size() >= 150000, qPrintable(QString::number(text.size())));
        QVERIFY(text.endsWith("END"));
        QVERIFY(w->ui->textEdit_debug->document()->isUndoAvailable() == false);
        QCOMPARE(w->ui->textEdit_debug->textCursor().position(),
                 w->ui->textEdit_debug->document()->characterCount() - 1);
        // Decoding is unaffected by the trimming.
        QVERIFY(Lit(1));
    }

    void lappedRing_resumesAtOldestByteWithoutReplay() {
        Start(8);
        w->ui->checkBox_show->setChecked(true);
        Receive(F("CT01").left(5));
        w->ui->textEdit_debug->clear();
        // The receive thread ran more than a whole ring ahead of the view.
        const int32_t at = m_h->storeReceived(QByteArray(kRingSize + 100, 'q') + F("CT0400"));
        w->session()->takeReceivedBytes();
        QCOMPARE(w->link()->traffic.readCount.load(), at);
        QVERIFY(Lit(2) && !Lit(0));
        // Exactly the bytes still in the ring, none of them twice.
        QCOMPARE(w->ui->textEdit_debug->toPlainText().count('q'), kRingSize - 8);
        QCOMPARE(w->ui->textEdit_debug->toPlainText().count("CT0400"), 1);
    }
};

QTEST_MAIN(tst_DebugView)
#include "tst_debugview.moc"
