#include <QCheckBox>
#include <QLineEdit>
#include <QMessageBox>
#include <QPointer>
#include <QtTest>

#include "app/limits.h"
#include "autosen/SensitivityDialog.h"
#include "mainwindow/MainWindow.h"
#include "sim/SimPtyHost.h"
#include "support/file_dialogs.h"
#include "support/mw_harness.h"
#include "support/slowdown.h"
#include "tuning/MonitorNarrowing.h"
#include "tuning/SnrProcedure.h"
#include "tuning/SnrReport.h"
#include "ui_ChannelIndicator.h"
#include "ui_MainWindow.h"
#include "ui_RegisterCell.h"
#include "ui_SensitivityDialog.h"
#include "ui_SnrDialog.h"
#include "views/ChannelIndicator.h"
#include "views/RegisterCell.h"
#include "views/SnrDialog.h"
#include "workers/BoardSession.h"

// The guided test through its window against the simulated board, whose
// noise and touch level are known.
namespace {

using Phase = SnrProcedure::Phase;
// A collection of 30 samples on a loaded machine, with room; a busy run
// under AddressSanitizer once needed 32 s for one.
constexpr int kPhaseMs = 30000 * kSanitizedSlowdown;

SnrDialog* OpenDialog(MwHarness& h) {
    h.window()->ui->actionSnr->trigger();
    return h.window()->findChild<SnrDialog*>();
}

void Choose(SnrDialog* dlg, QVector<int> channels) {
    for (QCheckBox* box : dlg->ui->widget_Channels->findChildren<QCheckBox*>()) {
        const int c = box->text().mid(4).toInt() - 1;
        box->setChecked(channels.contains(c));
    }
}

bool PhaseIs(SnrDialog* dlg, Phase phase, int channel = -1) {
    return dlg->procedure()->phase() == phase && (channel < 0 || dlg->procedure()->currentChannel() == channel);
}

uint8_t ChipReg(MwHarness& h, uint8_t reg) {
    uint8_t v = 0;
    h.sim()->withBoard([&](SimBoard& b, uint32_t) { v = b.chip().peek(reg); });
    return v;
}

// Where the procedure stands, for a failed wait: phase, channel, status line.
QByteArray Where(SnrDialog* dlg) {
    const SnrProcedure* p = dlg->procedure();
    return (SnrProcedure::PhaseName(p->phase()) + QStringLiteral(", SIN %1, ").arg(p->currentChannel() + 1) +
            dlg->ui->label_Status->text())
        .toLocal8Bit();
}

}  // namespace

class tst_SnrDialog : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { Q_INIT_RESOURCE(resources); }

    void guidedRun_reportsImpliedSnr_savesAndApplies();
    void endsEarly_restoresMaskAndSense_data();
    void endsEarly_restoresMaskAndSense();
    void oneNarrowingProcedureAtATime_data();
    void oneNarrowingProcedureAtATime();
};

void tst_SnrDialog::guidedRun_reportsImpliedSnr_savesAndApplies() {
    MwOptions o;
    o.extraConfig = "[SNR]\nSAMPLES=30\n";
    MwHarness h(o);
    QVERIFY2(h.start(), qPrintable(h.error()));
    // The board's noise is uniform in -A..A on every diff it reports, so 30
    // untouched samples span 2A (less than 2A - 1 has a chance near 1e-4), and
    // the signal is the touch level give or take the two means' error (each
    // with a standard deviation of sqrt(A(A+1)/3)/sqrt(30) = 0.37 here).
    const int A = 3;
    const int level[] = {0, 60, 90};
    const double signalTolerance = 2.5;
    h.sim()->setNoise(A, 20240601);
    // At the line's own speed, so that a stalled window cannot lose the touch
    // frame to a lapped receive ring.
    h.sim()->setPacing(true);
    h.sim()->setLevel(1, level[1]);
    h.sim()->setLevel(2, level[2]);
    h.window()->session()->setMonitoredChannels(0x00F0);
    h.window()->onSenseToggled(false);

    QPointer<SnrDialog> dlg = OpenDialog(h);
    QVERIFY(dlg);
    QCOMPARE(dlg->ui->spinBox_Samples->value(), 30);
    Choose(dlg, {1, 2});
    dlg->ui->pushButton_Start->click();
    // The sensitivity registers are read first, off the window's thread.
    QVERIFY(dlg->procedure()->starting());
    QVERIFY(!dlg->ui->pushButton_Start->isEnabled());
    QTRY_VERIFY2_WITH_TIMEOUT(PhaseIs(dlg, Phase::HandsOff), Where(dlg).constData(), 5000);
    QCOMPARE(h.window()->session()->monitoredChannels(), uint16_t(0x0006));
    QVERIFY(h.window()->session()->sensing());
    for (int ch : {1, 2}) {
        QTRY_VERIFY2_WITH_TIMEOUT(PhaseIs(dlg, Phase::AwaitTouch, ch), Where(dlg).constData(), kPhaseMs);
        QCOMPARE(dlg->ui->label_Prompt->text(), QStringLiteral("Touch SIN %1 and hold").arg(ch + 1));
        QCOMPARE(h.window()->session()->monitoredChannels(), uint16_t(1u << ch));
        h.sim()->touch(ch);
        QTRY_VERIFY2_WITH_TIMEOUT(PhaseIs(dlg, Phase::AwaitRelease, ch), Where(dlg).constData(), kPhaseMs);
        QCOMPARE(dlg->ui->label_Prompt->text(), QStringLiteral("Release SIN %1").arg(ch + 1));
        h.sim()->release(ch);
    }
    QTRY_VERIFY2_WITH_TIMEOUT(PhaseIs(dlg, Phase::Done), Where(dlg).constData(), 5000);
    QCOMPARE(h.window()->session()->monitoredChannels(), uint16_t(0x00F0));
    QVERIFY(!h.window()->session()->sensing());

    const QVector<SnrResult> results = dlg->results();
    QCOMPARE(results.size(), 2);
    for (const SnrResult& r : results) {
        const int lv = level[r.channel];
        QCOMPARE(r.samplesUntouched, 30);
        QCOMPARE(r.samplesTouched, 30);
        QVERIFY2(r.noisePeakToPeak >= 2 * A - 1 && r.noisePeakToPeak <= 2 * A,
                 qPrintable(QString::number(r.noisePeakToPeak)));
        QVERIFY2(qAbs(r.signal - lv) <= signalTolerance, qPrintable(QString::number(r.signal)));
        QVERIFY(r.snr >= (lv - signalTolerance) / (2 * A) && r.snr <= (lv + signalTolerance) / (2 * A - 1));
        QVERIFY(r.pass);
        QCOMPARE(r.sensitivityNow, 0x10);
        QVERIFY(r.recommended > 0x10 && r.recommended < 0x3F);
    }
    QCOMPARE(dlg->ui->tableWidget_Results->rowCount(), 2);

    // The report, through the Save button and its file dialog.
    const QString path = h.filePath(QStringLiteral("snr.csv"));
    {
        FileDialogAnswerer answer(path);
        dlg->ui->pushButton_Save->click();
        QCOMPARE(answer.answered(), 1);
    }
    const QList<QByteArray> lines = h.readFile(QStringLiteral("snr.csv")).split('\n');
    QCOMPARE(lines.size(), 6);
    QCOMPARE(lines[0], QByteArray("# tkeval snr 1"));
    QVERIFY2(lines[1].contains(" device=TK2C firmware=v3.") && lines[1].contains(" i2c=0xB0 margin=0.6"),
             lines[1].constData());
    QCOMPARE(lines[2], QByteArray(kSnrReportHeader));
    for (int i = 0; i < 2; ++i) {
        const QList<QByteArray> f = lines[3 + i].split(',');
        QCOMPARE(f.size(), 15);
        QCOMPARE(f[0].toInt(), results[i].channel + 1);
        QCOMPARE(f[1], QByteArray("3"));
        QCOMPARE(QString::fromLatin1(f[8]), Snr_FormatNumber(results[i].snr));
        QCOMPARE(f[10], QByteArray("yes"));
        QCOMPARE(f[13].toInt(), results[i].recommended);
    }

    // Apply writes both registers and reads them back.
    MessageBoxCatcher boxes;
    boxes.setAnswer(QMessageBox::Yes);
    h.sim()->clearLog();
    dlg->ui->pushButton_Apply->click();
    QTRY_VERIFY2_WITH_TIMEOUT(dlg->ui->label_Status->text().startsWith(QStringLiteral("Written and read back")),
                              qPrintable(dlg->ui->label_Status->text() + boxes.texts().join('|')), 10000);
    for (const SnrResult& r : results) {
        const uint8_t reg = uint8_t(0x20 + r.channel);
        QCOMPARE(int(ChipReg(h, reg)), r.recommended);
        QCOMPARE(h.sim()->log()->writesTo(reg), (std::vector<uint8_t>{uint8_t(r.recommended)}));
        QCOMPARE(h.window()->registerCell(reg)->ui->lineEdit_data->text(), QString::asprintf("%02X", r.recommended));
    }
}

void tst_SnrDialog::endsEarly_restoresMaskAndSense_data() {
    QTest::addColumn<QString>("how");
    QTest::newRow("board pulled") << "pull";
    QTest::newRow("dialog closed") << "close";
    QTest::newRow("main window closed") << "window";
}

void tst_SnrDialog::endsEarly_restoresMaskAndSense() {
    QFETCH(QString, how);
    MwHarness h;
    QVERIFY2(h.start(), qPrintable(h.error()));
    h.window()->session()->setMonitoredChannels(0x0030);
    h.window()->onSenseToggled(false);
    QPointer<SnrDialog> dlg = OpenDialog(h);
    QVERIFY(dlg);
    dlg->ui->pushButton_Start->click();
    QTRY_VERIFY_WITH_TIMEOUT(dlg->procedure()->collected() > 0, kPhaseMs);
    QCOMPARE(h.window()->session()->monitoredChannels(),
             uint16_t(0x0030));  // SIN 5 and 6 were monitored: tested by default
    QVERIFY(h.window()->session()->sensing());
    MessageBoxCatcher boxes;

    if (how == "pull") {
        h.sim()->hangup();
        QTRY_VERIFY_WITH_TIMEOUT(PhaseIs(dlg, Phase::Failed), 10000);
        QVERIFY(!dlg->ui->label_Status->text().isEmpty());
        QVERIFY(dlg->ui->pushButton_Start->isEnabled());
    } else if (how == "close") {
        dlg->close();
        QTRY_VERIFY(dlg.isNull());
    } else {
        h.window()->close();
    }
    QCOMPARE(h.window()->session()->monitoredChannels(), uint16_t(0x0030));
    QVERIFY(!h.window()->session()->sensing());
    QVERIFY(!h.window()->monitorNarrowing()->held());
}

void tst_SnrDialog::oneNarrowingProcedureAtATime_data() {
    QTest::addColumn<bool>("snrFirst");
    QTest::newRow("sensitivity run while the SNR test runs") << true;
    QTest::newRow("SNR test while a sensitivity run runs") << false;
}

void tst_SnrDialog::oneNarrowingProcedureAtATime() {
    QFETCH(bool, snrFirst);
    MwHarness h;
    QVERIFY2(h.start(), qPrintable(h.error()));
    h.window()->session()->setMonitoredChannels(0x0003);
    QPointer<SnrDialog> dlg = OpenDialog(h);
    QVERIFY(dlg);
    ChannelIndicator* sin = h.window()->channelIndicators[0];
    QPointer<SensitivityDialog> sen;

    if (snrFirst) {
        dlg->ui->pushButton_Start->click();
        QTRY_VERIFY2_WITH_TIMEOUT(PhaseIs(dlg, Phase::HandsOff), Where(dlg).constData(), 5000);
        sin->ui->pushButton_Sensitivity->click();
        sen = sin->findChild<SensitivityDialog*>();
        QVERIFY(sen);
        QTRY_VERIFY(sen->ui->label_msg->text().startsWith(QStringLiteral("The SNR test is in progress")));
        QVERIFY(!sen->ownsRun());
        QVERIFY(PhaseIs(dlg, Phase::HandsOff));
        QCOMPARE(h.window()->session()->monitoredChannels(), uint16_t(0x0003));
        dlg->ui->pushButton_Cancel->click();
        QVERIFY(PhaseIs(dlg, Phase::Cancelled));
    } else {
        sin->ui->pushButton_Sensitivity->click();
        sen = sin->findChild<SensitivityDialog*>();
        QVERIFY(sen);
        QTRY_VERIFY_WITH_TIMEOUT(sen->state() == SensitivityDialog::STA_SAMPLE, 5000);
        dlg->ui->pushButton_Start->click();
        QVERIFY(PhaseIs(dlg, Phase::Idle));
        QVERIFY2(dlg->ui->label_Status->text().contains(QStringLiteral("sensitivity run of SIN1")),
                 qPrintable(dlg->ui->label_Status->text()));
        QCOMPARE(h.window()->session()->monitoredChannels(), uint16_t(0x0001));
        sen->ui->pushButton_Cancel->click();
        QTRY_VERIFY_WITH_TIMEOUT(sen.isNull() || !sen->isVisible(), 5000);
        QCOMPARE(h.window()->session()->monitoredChannels(), uint16_t(0x0003));
        // Free again: the test starts.
        dlg->ui->pushButton_Start->click();
        QTRY_VERIFY2_WITH_TIMEOUT(PhaseIs(dlg, Phase::HandsOff), Where(dlg).constData(), 5000);
        dlg->ui->pushButton_Cancel->click();
    }
    QCOMPARE(h.window()->session()->monitoredChannels(), uint16_t(0x0003));
}

QTEST_MAIN(tst_SnrDialog)
#include "tst_SnrDialog.moc"
