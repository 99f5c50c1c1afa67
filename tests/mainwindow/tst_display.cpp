#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QtTest>

#include "app/limits.h"
#include "data/MonitorSample.h"
#include "data/RegisterImage.h"
#include "data/SampleStream.h"
#include "mainwindow/MainWindow.h"
#include "support/mw_harness.h"
#include "ui_ChannelIndicator.h"
#include "ui_MainWindow.h"
#include "ui_RegisterCell.h"
#include "ui_SbfColumn.h"
#include "views/ChannelIndicator.h"
#include "views/MonitoringDialog.h"
#include "views/RegisterCell.h"
#include "views/SbfColumn.h"
#include "workers/BoardSession.h"
#include "workers/MonitorThread.h"

// The main window's live display slots, driven directly, without a board.
class tst_Display : public QObject {
    Q_OBJECT

    static MwOptions Offline(const char* model, int channels, int sbf = 4) {
        MwOptions o;
        o.model = model;
        o.channels = channels;
        o.sbf = sbf;
        o.startSim = false;
        o.connect = false;
        return o;
    }

    static bool Shows(QLabel* label, const char* path) {
        return label->pixmap().toImage() == QPixmap(QString::fromLatin1(path)).toImage();
    }

    static void Touch(MainWindow* w, int mask) {
        QVERIFY(QMetaObject::invokeMethod(w, "showTouchMask", Q_ARG(int, mask)));
    }
    // A publication of channel ch as the monitoring thread makes it, values
    // still to be filled in.
    static MonitorSample Sample(const MainWindow* w, int ch) {
        MonitorSample s;
        s.tMs = Steady_Ms();
        s.wallMs = Wall_Ms();
        s.channel = ch;
        s.sbfCount = w->session()->sbfCount();
        return s;
    }
    // Into the window's sample stream, as the monitoring thread publishes.
    static void Monitor(MainWindow* w, const MonitorSample& s) { w->sampleStream()->publishLive(s); }

private slots:
    void touch_lampsAndRegisters_data() {
        QTest::addColumn<QString>("model");
        QTest::addColumn<int>("channels");
        QTest::addColumn<int>("mask");
        QTest::addColumn<QList<int>>("lit");
        QTest::addColumn<bool>("medium");
        QTest::addColumn<QList<int>>("regs");
        QTest::addColumn<QStringList>("cells");

        QTest::newRow("family 1, first and last of 16")
            << "TK1B" << 16 << 0x8001 << QList<int>{0, 15} << true << QList<int>{0x02, 0x03} << QStringList{"01", "80"};
        QTest::newRow("family 4, high byte")
            << "TK2C" << 16 << 0x0300 << QList<int>{8, 9} << true << QList<int>{0x02, 0x03} << QStringList{"00", "03"};
        QTest::newRow("family 2, bits beyond 4 channels")
            << "TK2A" << 4 << 0x1F << QList<int>{0, 1, 2, 3} << false << QList<int>{0x02} << QStringList{"0F"};
        QTest::newRow("family 0, bit 8 dropped from the register")
            << "NOPE" << 8 << 0x0105 << QList<int>{0, 2} << false << QList<int>{0x2A} << QStringList{"05"};
        QTest::newRow("family 3, bit 8 dropped from the register")
            << "TK1A" << 8 << 0x0105 << QList<int>{0, 2} << false << QList<int>{0x2A} << QStringList{"05"};
        QTest::newRow("mask 0, all grey")
            << "TK2C" << 8 << 0 << QList<int>{} << true << QList<int>{0x02, 0x03} << QStringList{"00", "00"};
    }

    void touch_lampsAndRegisters() {
        QFETCH(QString, model);
        QFETCH(int, channels);
        QFETCH(int, mask);
        QFETCH(QList<int>, lit);
        QFETCH(bool, medium);
        QFETCH(QList<int>, regs);
        QFETCH(QStringList, cells);

        MwHarness h(Offline(model.toLatin1().constData(), channels));
        QVERIFY2(h.start(), qPrintable(h.error()));
        MainWindow* w = h.window();
        // Start from all lamps on, so that every lamp must be rewritten.
        Touch(w, 0xFFFF);
        Touch(w, mask);

        const char* on =
            medium ? ":/NV_EV_Kit/Resources/green_circle_m.png" : ":/NV_EV_Kit/Resources/green_circle_l.png";
        const char* off =
            medium ? ":/NV_EV_Kit/Resources/grey_circle_m.png" : ":/NV_EV_Kit/Resources/grey_circle_l.png";
        for (int i = 0; i < channels; ++i) {
            QVERIFY(w->channelIndicators[i]);
            QVERIFY2(Shows(w->channelIndicators[i]->ui->label_SIN_ICON, lit.contains(i) ? on : off),
                     qPrintable(QString::number(i)));
        }
        for (int k = 0; k < regs.size(); ++k) {
            QCOMPARE(int(h.window()->registerImage()->value(regs[k])), cells[k].toInt(nullptr, 16));
            QVERIFY(h.window()->registerCell(regs[k]));
            QCOMPARE(h.window()->registerCell(regs[k])->ui->lineEdit_data->text(), cells[k]);
        }
    }

    void touch_registerWithoutCell_stillMirrored() {
        MwOptions o = Offline("TK2C", 8);
        o.hintAddrs = {0x00, 0x01, 0x02};  // no cell for 0x03
        MwHarness h(o);
        QVERIFY2(h.start(), qPrintable(h.error()));
        Touch(h.window(), 0x8001);
        QVERIFY(!h.window()->registerCell(0x03));
        QCOMPARE(int(h.window()->registerImage()->value(0x03)), 0x80);
        QCOMPARE(h.window()->registerCell(0x02)->ui->lineEdit_data->text(), QString("01"));
    }

    void monitor_indicatorShowsThirdSbf_dialogAllSbfs() {
        MwHarness h(Offline("TK2C", 8, 3));
        QVERIFY2(h.start(), qPrintable(h.error()));
        MainWindow* w = h.window();
        MonitorSample five = Sample(h.window(), 5);
        for (int s = 0; s < kMaxSbf; ++s) {
            five.ref[s] = static_cast<uint16_t>(1000 + s);
            five.sense[s] = static_cast<uint16_t>(2000 + s);
            five.diff[s] = -10 - s;
            five.offset[s] = 30 + s;
        }
        MonitoringDialog* d = w->monitoringDialog();
        const QString unseen = d->column(0, 5)->ui->label_SIN_CNT->text();
        Monitor(w, five);
        QCOMPARE(w->channelIndicators[5]->ui->label_RIN_CNT->text(), QString("1002"));
        QCOMPARE(w->channelIndicators[5]->ui->label_SIN_CNT->text(), QString("2002"));
        QCOMPARE(w->channelIndicators[5]->ui->label_DIFF_PER->text(), QString("-12"));
        // Only the published channel changes.
        QCOMPARE(w->channelIndicators[4]->ui->label_RIN_CNT->text(), QString("RIN"));
        // Hidden dialog: nothing passed on.
        QCOMPARE(d->column(0, 5)->ui->label_SIN_CNT->text(), unseen);

        w->ui->pushButton_Dlg->click();
        five.tMs = Steady_Ms();
        Monitor(w, five);
        for (int s = 0; s < 3; ++s) {
            SbfColumn* col = d->column(s, 5);
            QCOMPARE(col->ui->label_RIN_CNT->text(), QString::number(1000 + s));
            QCOMPARE(col->ui->label_SIN_CNT->text(), QString::number(2000 + s));
            QCOMPARE(col->ui->label_DIFF_PER->text(), QString::number(-10 - s));
            QCOMPARE(col->ui->label_OFFSET_PER->text(), QString::number(30 + s));
        }
        QCOMPARE(d->lastMarkedChannel(), 5);
    }

    void monitor_oneSbf_indicatorStillIndexTwo() {
        MwHarness h(Offline("TK2C", 4, 1));
        QVERIFY2(h.start(), qPrintable(h.error()));
        MonitorSample one = Sample(h.window(), 1);
        one.ref[0] = 1;
        one.ref[2] = 333;
        one.sense[2] = 444;
        one.diff[2] = 55;
        Monitor(h.window(), one);
        QCOMPARE(h.window()->channelIndicators[1]->ui->label_RIN_CNT->text(), QString("333"));
        QCOMPARE(h.window()->channelIndicators[1]->ui->label_SIN_CNT->text(), QString("444"));
        QCOMPARE(h.window()->channelIndicators[1]->ui->label_DIFF_PER->text(), QString("55"));
    }

    void monitor_channelBeyondIndicators_ignored() {
        MwHarness h(Offline("TK2C", 4, 4));
        QVERIFY2(h.start(), qPrintable(h.error()));
        h.window()->ui->pushButton_Dlg->click();
        Monitor(h.window(), Sample(h.window(), 200));  // must neither crash nor touch a column
        QCOMPARE(h.window()->monitoringDialog()->lastMarkedChannel(), 0);
    }

    // The receive thread has stored a touch frame, but its signal is still
    // on its way when the monitor thread publishes a sample read after it:
    // the stream must hear of the touch first, or a procedure counts a
    // touched sample as untouched.
    void touchBeforeSample_reachesTheStreamFirst() {
        MwHarness h(Offline("TK2C", 4, 3));
        QVERIFY2(h.start(), qPrintable(h.error()));
        MainWindow* w = h.window();
        QStringList order;
        QObject context;
        connect(w->sampleStream(), &SampleStream::touchChanged, &context, [&] { order << "touch"; });
        connect(w->sampleStream(), &SampleStream::sampleAdded, &context, [&] { order << "sample"; });
        const QByteArray frame(
            "\x02"
            "CT0100\x03");
        h.storeReceived(frame);
        MonitorSample sample = w->monitorThread()->latestSample(0);
        emit w->monitorThread()->sampleReady(sample);
        QCOMPARE(order, QStringList({"touch", "sample"}));
        QCOMPARE(int(w->sampleStream()->touchMask()), 1);
    }

    void valid_pushesStatusWhileVisible() {
        MwHarness h(Offline("TK2C", 4, 3));
        QVERIFY2(h.start(), qPrintable(h.error()));
        MainWindow* w = h.window();
        // A status frame from the board: SBF 0 and 2 of channel 2 flagged.
        const QByteArray frame(
            "\x02"
            "CE0050\x03");
        h.storeReceived(frame);
        w->session()->takeReceivedBytes();
        QCOMPARE(w->sbfStatus(2), 0x05);
        QVERIFY(QMetaObject::invokeMethod(w, "showSbfStatus"));
        QVERIFY(w->monitoringDialog()->column(1, 2)->ui->label_OFFSET_PER->styleSheet().isEmpty());

        w->ui->pushButton_Dlg->click();
        QVERIFY(QMetaObject::invokeMethod(w, "showSbfStatus"));
        QVERIFY(w->monitoringDialog()->column(0, 2)->ui->label_OFFSET_PER->styleSheet().isEmpty());
        QVERIFY(w->monitoringDialog()->column(1, 2)->ui->label_OFFSET_PER->styleSheet().contains("rgb(255, 0, 0)"));
        QVERIFY(w->monitoringDialog()->column(2, 2)->ui->label_OFFSET_PER->styleSheet().isEmpty());
    }

    void sense_togglesFlagTextAndColours() {
        MwHarness h(Offline("TK2C", 4));
        QVERIFY2(h.start(), qPrintable(h.error()));
        MainWindow* w = h.window();
        QCOMPARE(w->ui->pushButton_Sense->text(), QString("Sense"));
        for (bool on : {true, false, true}) {
            QVERIFY(QMetaObject::invokeMethod(w, "onSenseToggled", Q_ARG(bool, on)));
            QCOMPARE(h.window()->session()->sensing(), on);
            QCOMPARE(w->ui->pushButton_Sense->text(), QString(on ? "Stop" : "Sense"));
            const QString colour = on ? "color: black" : "color: grey";
            for (int i = 0; i < 4; ++i) {
                QCOMPARE(w->channelIndicators[i]->ui->label_RIN_CNT->styleSheet(), colour);
                QCOMPARE(w->channelIndicators[i]->ui->label_SIN_CNT->styleSheet(), colour);
                QCOMPARE(w->channelIndicators[i]->ui->label_DIFF_PER->styleSheet(), colour);
            }
        }
    }

    void dlg_besideWindow_thenNoMoveWhileOpen() {
        MwHarness h(Offline("TK2C", 4));
        QVERIFY2(h.start(), qPrintable(h.error()));
        MainWindow* w = h.window();
        MonitoringDialog* d = w->monitoringDialog();
        QVERIFY(!d->isVisible());
        w->move(40, 30);
        w->ui->pushButton_Dlg->click();
        QVERIFY(d->isVisible());
        QCOMPARE(d->pos(), QPoint(w->pos().x() + w->size().width() + 10, w->pos().y()));

        d->move(5, 5);
        w->ui->pushButton_Dlg->click();
        QCOMPARE(d->pos(), QPoint(5, 5));

        // Closed and opened again: back beside the window.
        d->hide();
        w->ui->pushButton_Dlg->click();
        QCOMPARE(d->pos(), QPoint(w->pos().x() + w->size().width() + 10, w->pos().y()));
    }
};

QTEST_MAIN(tst_Display)
#include "tst_display.moc"
