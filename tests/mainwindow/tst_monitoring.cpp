#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QtTest>
#include <functional>

#include "app/limits.h"
#include "data/SampleStream.h"
#include "mainwindow/MainWindow.h"
#include "sim/SimPtyHost.h"
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

// Live touch and monitoring against the simulated board, from the board's
// event frames and the processing thread's publications to the lamps, the
// indicators and the monitoring dialog.
class tst_Monitoring : public QObject {
    Q_OBJECT

    static constexpr int kWaitMs = 15000;  // a full round of channels, with room for a busy machine

    static MwOptions Board(const char* model, int channels, int sbf) {
        MwOptions o;
        o.model = model;
        o.channels = channels;
        o.sbf = sbf;
        return o;
    }

    static SimSensing Intended(MwHarness& h, int ch, int sbf) {
        SimSensing v;
        h.sim()->withBoard([&](SimBoard& b, uint32_t) { v = b.chip().intended(ch, sbf); });
        return v;
    }

    static bool Lit(MainWindow* w, int ch) {
        return w->channelIndicators[ch]->ui->label_SIN_ICON->pixmap().toImage() ==
               QPixmap(ChannelIndicator::TouchedImagePath(w->session()->family())).toImage();
    }

    // The indicator of ch shows the simulator's values of the third SBF.
    static bool IndicatorMatches(MwHarness& h, int ch) {
        const SimSensing v = Intended(h, ch, 2);
        const ChannelIndicator* sin = h.window()->channelIndicators[ch];
        return sin->ui->label_RIN_CNT->text() == QString::number(v.ref) &&
               sin->ui->label_SIN_CNT->text() == QString::number(v.sense) &&
               sin->ui->label_DIFF_PER->text() == QString::number(v.diff);
    }

    static bool ColumnMatches(MwHarness& h, int sbf, int ch) {
        const SimSensing v = Intended(h, ch, sbf);
        const SbfColumn* col = h.window()->monitoringDialog()->column(sbf, ch);
        return col && col->ui->label_RIN_CNT->text() == QString::number(v.ref) &&
               col->ui->label_SIN_CNT->text() == QString::number(v.sense) &&
               col->ui->label_DIFF_PER->text() == QString::number(v.diff) &&
               col->ui->label_OFFSET_PER->text() == QString::number(v.offset);
    }

    // Accepted selection writes of channel ch (family 4: register 0x6F = ch).
    static int Selections(MwHarness& h, int ch) {
        int n = 0;
        for (uint8_t v : h.sim()->log()->writesTo(0x6F)) n += v == ch;
        return n;
    }

    static void ShowDialog(MainWindow* w) {
        w->ui->pushButton_Dlg->click();
        QVERIFY(w->monitoringDialog()->isVisible());
    }

    static void Uncheck(MainWindow* w, int ch) {
        QCheckBox* box = w->monitoringDialog()->column(0, ch)->CheckBox_MON_En;
        QVERIFY(box);
        box->setChecked(false);
        QCOMPARE((w->session()->monitoredChannels() >> ch) & 1, 0);
    }

private slots:
    void touch_lightsLampAndRegister_releaseTurnsItOff() {
        MwHarness h(Board("TK2C", 8, 4));
        QVERIFY2(h.start(), qPrintable(h.error()));
        MainWindow* w = h.window();
        QVERIFY(h.sim()->touch(3));
        QTRY_VERIFY_WITH_TIMEOUT(Lit(w, 3), 5000);
        for (int i = 0; i < 8; ++i) QCOMPARE(Lit(w, i), i == 3);
        QCOMPARE(h.window()->registerCell(0x02)->ui->lineEdit_data->text(), QString("08"));

        QVERIFY(h.sim()->touch(5));
        QTRY_VERIFY_WITH_TIMEOUT(Lit(w, 5), 5000);
        QVERIFY(Lit(w, 3));
        QVERIFY(h.sim()->release(3));
        QVERIFY(h.sim()->release(5));
        QTRY_VERIFY_WITH_TIMEOUT(!Lit(w, 3) && !Lit(w, 5), 5000);
        QCOMPARE(h.window()->registerCell(0x02)->ui->lineEdit_data->text(), QString("00"));
    }

    // A touch the stream missed (its origin restarted since) is caught up by
    // a read of the chip's touch registers.
    void touchRegisterRead_reachesTheSampleStream() {
        MwHarness h(Board("TK2C", 8, 4));
        QVERIFY2(h.start(), qPrintable(h.error()));
        MainWindow* w = h.window();
        QVERIFY(h.sim()->touch(3));
        QTRY_VERIFY_WITH_TIMEOUT(Lit(w, 3), 5000);
        w->sampleStream()->restart();
        QSignalSpy changes(w->sampleStream(), &SampleStream::touchChanged);
        w->ui->pushButton_Read->click();
        QTRY_VERIFY_WITH_TIMEOUT(!changes.isEmpty(), 10000);
        QCOMPARE(int(changes.last().at(0).value<TouchEvent>().mask), 0x08);
    }

    void sense_indicatorsAndDialogShowSimulatorValues_data() {
        QTest::addColumn<QString>("model");
        QTest::addColumn<int>("channels");
        QTest::newRow("family 4") << "TK2C" << 8;
        QTest::newRow("family 2") << "TK2A" << 4;
    }

    // The processing thread's publications reach the indicators (third SBF)
    // and the shown dialog (every SBF) with the simulator's values.
    void sense_indicatorsAndDialogShowSimulatorValues() {
        QFETCH(QString, model);
        QFETCH(int, channels);
        MwHarness h(Board(model.toLatin1().constData(), channels, 4));
        QVERIFY2(h.start(), qPrintable(h.error()));
        MainWindow* w = h.window();
        ShowDialog(w);
        // A held key, so that one diff is not zero.
        QVERIFY(h.sim()->touch(1));
        QTRY_VERIFY_WITH_TIMEOUT(Lit(w, 1), 5000);

        w->ui->pushButton_Sense->click();
        QCOMPARE(w->ui->pushButton_Sense->text(), QString("Stop"));
        QVERIFY(h.window()->session()->sensing());
        for (int c = 0; c < channels; ++c) {
            QTRY_VERIFY2_WITH_TIMEOUT(IndicatorMatches(h, c), qPrintable(QString("channel %1").arg(c)), kWaitMs);
            for (int s = 0; s < 4; ++s)
                QTRY_VERIFY2_WITH_TIMEOUT(ColumnMatches(h, s, c),
                                          qPrintable(QString("SBF %1 channel %2").arg(s).arg(c)), kWaitMs);
        }
        QCOMPARE(w->channelIndicators[1]->ui->label_DIFF_PER->text(), QString::number(SimChip::kDefaultLevel));
        // The touch frame reached the dialog's titles too.
        QVERIFY(w->monitoringDialog()->column(3, 1)->ui->label_SIN_TITLE->styleSheet().contains("rgb(0, 255, 0)"));

        w->ui->pushButton_Sense->click();
        QCOMPARE(w->ui->pushButton_Sense->text(), QString("Sense"));
        QCOMPARE(w->channelIndicators[0]->ui->label_RIN_CNT->styleSheet(), QString("color: grey"));
    }

    void dialog_clearedChannelIsNeverSelected() {
        MwHarness h(Board("TK2C", 8, 4));
        QVERIFY2(h.start(), qPrintable(h.error()));
        MainWindow* w = h.window();
        ShowDialog(w);
        Uncheck(w, 3);
        h.sim()->clearLog();
        w->ui->pushButton_Sense->click();

        // Two full rounds of the other channels.
        auto rounds = [&](const QList<int>& others, int n) {
            for (int c : others)
                if (Selections(h, c) < n) return false;
            return true;
        };
        QTRY_VERIFY_WITH_TIMEOUT(rounds({0, 1, 2, 4, 5, 6, 7}, 2), kWaitMs);
        QCOMPARE(Selections(h, 3), 0);
        QCOMPARE(w->channelIndicators[3]->ui->label_RIN_CNT->text(), QString("RIN"));

        // Cleared while sensing runs: once the cycle in progress is over, the
        // channel is not selected again.
        Uncheck(w, 5);
        QTRY_VERIFY_WITH_TIMEOUT(Selections(h, 4) >= 3, kWaitMs);
        h.sim()->clearLog();
        QTRY_VERIFY_WITH_TIMEOUT(rounds({0, 1, 2, 4, 6, 7}, 2), kWaitMs);
        QCOMPARE(Selections(h, 5), 0);
        QCOMPARE(Selections(h, 3), 0);
    }

    // Values written while the dialog was shown stay when it is hidden and
    // shown again; the next publication of a channel refreshes it.
    void dialog_reshown_keepsStaleValuesUntilNextUpdate() {
        MwHarness h(Board("TK2C", 4, 4));
        QVERIFY2(h.start(), qPrintable(h.error()));
        MainWindow* w = h.window();
        ShowDialog(w);
        w->ui->pushButton_Sense->click();
        QTRY_VERIFY_WITH_TIMEOUT(ColumnMatches(h, 2, 0), kWaitMs);
        const QString stale = w->monitoringDialog()->column(2, 0)->ui->label_DIFF_PER->text();
        QCOMPARE(stale, QString("0"));

        w->monitoringDialog()->hide();
        QVERIFY(h.sim()->touch(0));
        // The indicator follows; the hidden dialog does not.
        QTRY_VERIFY_WITH_TIMEOUT(IndicatorMatches(h, 0) && w->channelIndicators[0]->ui->label_DIFF_PER->text() != stale,
                                 kWaitMs);
        QCOMPARE(w->monitoringDialog()->column(2, 0)->ui->label_DIFF_PER->text(), stale);

        // Shown again: nothing has run between the click and this check.
        w->ui->pushButton_Dlg->click();
        QCOMPARE(w->monitoringDialog()->column(2, 0)->ui->label_DIFF_PER->text(), stale);
        QTRY_VERIFY_WITH_TIMEOUT(ColumnMatches(h, 2, 0), kWaitMs);
    }
};

QTEST_MAIN(tst_Monitoring)
#include "tst_monitoring.moc"
