#include <QLabel>
#include <QPointer>
#include <QPushButton>
#include <QSignalSpy>
#include <QtTest>

#include "app/limits.h"
#include "autosen/SensitivityDialog.h"
#include "mainwindow/MainWindow.h"
#include "sim/SimPtyHost.h"
#include "support/mw_harness.h"
#include "tuning/MonitorNarrowing.h"
#include "ui_ChannelIndicator.h"
#include "ui_MainWindow.h"
#include "ui_RegisterCell.h"
#include "ui_SensitivityDialog.h"
#include "ui_SnrDialog.h"
#include "views/ChannelIndicator.h"
#include "views/RegisterCell.h"
#include "workers/BoardSession.h"
#include "workers/MonitorThread.h"

// The dialog driven through its buttons against the simulated board, with the
// main window and its worker threads doing the monitoring as in the program.
namespace {

constexpr int kRunMs = 12000;           // a whole sampling window plus margin for a loaded machine
constexpr uint8_t kChipDefault = 0x10;  // the simulated chip's sensitivity registers at reset
constexpr uint8_t kControlDefault = 0x04;
// Family 0 holds bit 5 of 0x3A set while its sensitivity is measured.
constexpr uint8_t kControlReg = 0x3A;
constexpr uint8_t kControlBit = 0x20;

const QString kHoldTouch = QStringLiteral(
    "터치를 정상적으로 유지하시기 바랍니다.<p>본 감도는 대략적인 값으로 메뉴얼로 재 검토 하시기를 권장합니다.");
const QString kAskWrite = QStringLiteral("<p>데이터를 레지스터에 Write 하시겠습니까?");
const QString kTooFew = QStringLiteral(
    "변화율이 적습니다. 터치 상태를 확인 하시기 바랍니다.<p>본 상태가 계속 반복 될 경우에는 업체에 문의 하시기 "
    "바랍니다.<p>다시 진행 하시겠습니까?");
const QString kAbort = QStringLiteral("작업이 비 정상적으로 마무리 중입니다...<p>통신상태를 확인하시기 바랍니다.");

uint8_t ChipReg(MwHarness& h, uint8_t reg) {
    uint8_t v = 0;
    h.sim()->withBoard([&](SimBoard& b, uint32_t) { v = b.chip().peek(reg); });
    return v;
}

SensitivityDialog* ClickSen(MwHarness& h, int ch) {
    ChannelIndicator* sin = h.window()->channelIndicators[ch];
    if (sin == nullptr) return nullptr;
    QTest::mouseClick(sin->ui->pushButton_Sensitivity, Qt::LeftButton);
    const QList<SensitivityDialog*> dialogs = sin->findChildren<SensitivityDialog*>();
    return dialogs.isEmpty() ? nullptr : dialogs.last();
}

// Monitoring as the engineer left it before pressing SEN; the run must narrow
// it and put it back.
void SetMonitoringBefore(MwHarness& h, uint16_t mask, bool sense) {
    h.window()->session()->setMonitoredChannels(mask);
    h.window()->onSenseToggled(sense);
}

}  // namespace

class tst_SensitivityDialog : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { Q_INIT_RESOURCE(resources); }

    void proposal_okWritesRegister_data();
    void proposal_okWritesRegister();
    void cancelWhileSampling_restoresRegisters_data();
    void cancelWhileSampling_restoresRegisters();
    void diffOfTen_notAccepted_retryKeepsFirstSavedValues();
    void exchangeFailure_abortsRestoresAndCloses_data();
    void exchangeFailure_abortsRestoresAndCloses();
    void windowClosedMidRun_cancelsAndRestores_data();
    void windowClosedMidRun_cancelsAndRestores();
    void secondRun_refusedWhileOneIsActive();
    void senseButton_followsTheRun();
};

void tst_SensitivityDialog::proposal_okWritesRegister_data() {
    QTest::addColumn<QString>("margin");
    QTest::addColumn<int>("byte");
    QTest::newRow("steady 50, default margin") << "0.6" << 0x1E;
    QTest::newRow("margin does not parse") << "abc" << 0x0;
    QTest::newRow("mean x margin 100 is capped") << "2" << 0x3F;
}

void tst_SensitivityDialog::proposal_okWritesRegister() {
    QFETCH(QString, margin);
    QFETCH(int, byte);
    MwOptions o;
    o.margin = margin;
    MwHarness h(o);
    QVERIFY2(h.start(), qPrintable(h.error()));
    const int ch = 1;
    const uint8_t reg = 0x20 + ch;
    SetMonitoringBefore(h, 0x0005, false);
    h.sim()->setLevel(ch, 50);
    h.sim()->touch(ch);

    QPointer<SensitivityDialog> dlg = ClickSen(h, ch);
    QVERIFY(dlg);
    QCOMPARE(dlg->windowTitle(), QStringLiteral("SENSITIVITY - SIN2"));
    QTRY_COMPARE_WITH_TIMEOUT(dlg->ui->label_msg->text(), QString::asprintf("SENSITIVITY : 0x%X", byte) + kAskWrite,
                              kRunMs);
    // During the run the channel alone is monitored, sensing is on and the
    // chip holds the run value.
    QCOMPARE(h.window()->session()->monitoredChannels(), uint16_t(1u << ch));
    QVERIFY(h.window()->session()->sensing());
    QCOMPARE(ChipReg(h, reg), kAutoSenRunValue);

    QTest::mouseClick(dlg->ui->pushButton_OK, Qt::LeftButton);
    QTRY_VERIFY_WITH_TIMEOUT(dlg.isNull(), 5000);
    // Every path hands the monitoring back, or the next SEN would be refused.
    QVERIFY(!h.window()->monitorNarrowing()->held());
    QCOMPARE(h.sim()->log()->writesTo(reg), (std::vector<uint8_t>{kAutoSenRunValue, uint8_t(byte)}));
    QCOMPARE(h.window()->registerCell(reg)->ui->lineEdit_data->text(), QString::asprintf("%02X", byte));
    QCOMPARE(h.window()->session()->monitoredChannels(), uint16_t(0x0005));
    QVERIFY(!h.window()->session()->sensing());
    QCOMPARE(h.window()->ui->pushButton_Sense->text(), QStringLiteral("Sense"));
}

void tst_SensitivityDialog::cancelWhileSampling_restoresRegisters_data() {
    QTest::addColumn<QString>("model");
    QTest::addColumn<int>("base");
    QTest::newRow("family 4") << "TK2C" << 0x20;
    QTest::newRow("family 2") << "TK2A" << 0x10;
    QTest::newRow("family 0 (model not in the table)") << "XX00" << 0x40;
}

void tst_SensitivityDialog::cancelWhileSampling_restoresRegisters() {
    QFETCH(QString, model);
    QFETCH(int, base);
    MwOptions o;
    o.model = model.toStdString();
    o.channels = 4;
    MwHarness h(o);
    QVERIFY2(h.start(), qPrintable(h.error()));
    const int ch = 2;
    const uint8_t reg = uint8_t(base + ch);
    const bool family0 = base == 0x40;
    SetMonitoringBefore(h, 0x0009, true);

    // Nobody touches, so sampling waits its five seconds for a first sample.
    QPointer<SensitivityDialog> dlg = ClickSen(h, ch);
    QVERIFY(dlg);
    QTRY_COMPARE_WITH_TIMEOUT(dlg->state(), int(SensitivityDialog::STA_SAMPLE), 10000);
    QCOMPARE(dlg->ui->label_msg->text(), kHoldTouch);
    QCOMPARE(ChipReg(h, reg), kAutoSenRunValue);
    if (family0) QCOMPARE(ChipReg(h, kControlReg), uint8_t(kControlDefault | kControlBit));

    QTest::mouseClick(dlg->ui->pushButton_Cancel, Qt::LeftButton);
    QTRY_VERIFY_WITH_TIMEOUT(dlg.isNull(), 5000);
    // Every path hands the monitoring back, or the next SEN would be refused.
    QVERIFY(!h.window()->monitorNarrowing()->held());
    QCOMPARE(ChipReg(h, reg), kChipDefault);
    if (family0) QCOMPARE(ChipReg(h, kControlReg), kControlDefault);
    QCOMPARE(h.window()->session()->monitoredChannels(), uint16_t(0x0009));
    QVERIFY(h.window()->session()->sensing());
    QCOMPARE(h.window()->ui->pushButton_Sense->text(), QStringLiteral("Stop"));
    if (h.window()->registerCell(reg) != nullptr)
        QCOMPARE(h.window()->registerCell(reg)->ui->lineEdit_data->text(), QStringLiteral("10"));
}

void tst_SensitivityDialog::diffOfTen_notAccepted_retryKeepsFirstSavedValues() {
    MwOptions o;
    o.model = "XX00";  // family 0: the control register must come back as well
    o.channels = 4;
    MwHarness h(o);
    QVERIFY2(h.start(), qPrintable(h.error()));
    const int ch = 0;
    const uint8_t reg = 0x40 + ch;
    SetMonitoringBefore(h, 0x0006, true);
    h.sim()->setLevel(ch, 10);
    h.sim()->touch(ch);

    QPointer<SensitivityDialog> dlg = ClickSen(h, ch);
    QVERIFY(dlg);
    QTRY_VERIFY_WITH_TIMEOUT(h.window()->monitorThread()->latestSample(ch).diff[2] == 10, 10000);
    QTRY_COMPARE_WITH_TIMEOUT(dlg->ui->label_msg->text(), kTooFew, kRunMs);
    QCOMPARE(dlg->procedure()->samples(), 0);

    // 11 is just enough; the retry prepares again while chip and mask hold
    // the run's own values.
    h.sim()->setLevel(ch, 11);
    QTest::mouseClick(dlg->ui->pushButton_OK, Qt::LeftButton);
    QTRY_COMPARE_WITH_TIMEOUT(dlg->ui->label_msg->text(), QStringLiteral("SENSITIVITY : 0x6") + kAskWrite, kRunMs);
    QVERIFY(dlg->procedure()->samples() >= kAutoSenMinSamples);
    QCOMPARE(h.sim()->log()->writesTo(reg).size(), size_t(2));  // 0x05 by each preparation

    QTest::mouseClick(dlg->ui->pushButton_Cancel, Qt::LeftButton);
    QTRY_VERIFY_WITH_TIMEOUT(dlg.isNull(), 5000);
    // Every path hands the monitoring back, or the next SEN would be refused.
    QVERIFY(!h.window()->monitorNarrowing()->held());
    QCOMPARE(ChipReg(h, reg), kChipDefault);
    QCOMPARE(ChipReg(h, kControlReg), kControlDefault);
    QCOMPARE(h.window()->session()->monitoredChannels(), uint16_t(0x0006));
    QVERIFY(h.window()->session()->sensing());
}

void tst_SensitivityDialog::exchangeFailure_abortsRestoresAndCloses_data() {
    QTest::addColumn<bool>("connected");
    QTest::newRow("no port") << false;
    QTest::newRow("board stops answering") << true;
}

void tst_SensitivityDialog::exchangeFailure_abortsRestoresAndCloses() {
    QFETCH(bool, connected);
    MwOptions o;
    o.connect = connected;
    o.startSim = connected;
    MwHarness h(o);
    MessageBoxCatcher boxes;  // a lost chip may be reported by the main window
    QVERIFY2(h.start(), qPrintable(h.error()));
    SetMonitoringBefore(h, 0x00F0, false);
    if (connected) h.sim()->setSilent(true);

    // Without a chip the key row is disabled, so the dialog is opened the way
    // the indicator opens it.
    QPointer<SensitivityDialog> dlg;
    if (connected) {
        dlg = ClickSen(h, 4);
    } else {
        h.window()->openSensitivityDialog(4);
        dlg = h.window()->channelIndicators[4]->findChild<SensitivityDialog*>();
    }
    QVERIFY(dlg);
    QTRY_COMPARE_WITH_TIMEOUT(dlg->ui->label_msg->text(), kAbort, 10000);
    QVERIFY(dlg->ui->label_msg->styleSheet().contains(QStringLiteral("color:red;")));
    QVERIFY(!dlg->ui->pushButton_OK->isVisible());
    QVERIFY(!dlg->ui->pushButton_Cancel->isVisible());
    QCOMPARE(h.window()->session()->monitoredChannels(), uint16_t(0x00F0));
    QVERIFY(!h.window()->session()->sensing());
    QVERIFY(!dlg->ownsRun());
    QTRY_VERIFY_WITH_TIMEOUT(dlg.isNull(), 9000);
    // Every path hands the monitoring back, or the next SEN would be refused.
    QVERIFY(!h.window()->monitorNarrowing()->held());
    if (connected) QVERIFY(h.sim()->log()->writesTo(0x24).empty());
}

void tst_SensitivityDialog::windowClosedMidRun_cancelsAndRestores_data() {
    QTest::addColumn<bool>("touched");
    QTest::addColumn<bool>("escape");
    QTest::newRow("Escape while sampling") << false << true;
    QTest::newRow("frame close while the proposal waits") << true << false;
}

void tst_SensitivityDialog::windowClosedMidRun_cancelsAndRestores() {
    QFETCH(bool, touched);
    QFETCH(bool, escape);
    MwHarness h;
    QVERIFY2(h.start(), qPrintable(h.error()));
    const int ch = 5;
    SetMonitoringBefore(h, 0x0003, false);
    if (touched) {
        h.sim()->setLevel(ch, 40);
        h.sim()->touch(ch);
    }

    QPointer<SensitivityDialog> dlg = ClickSen(h, ch);
    QVERIFY(dlg);
    if (touched)
        QTRY_VERIFY2_WITH_TIMEOUT(dlg->ui->label_msg->text().startsWith(QStringLiteral("SENSITIVITY : 0x18")),
                                  qPrintable(dlg->ui->label_msg->text()), kRunMs);
    else
        QTRY_COMPARE_WITH_TIMEOUT(dlg->state(), int(SensitivityDialog::STA_SAMPLE), 10000);

    if (escape)
        QTest::keyClick(dlg.data(), Qt::Key_Escape);
    else
        dlg->close();
    QTRY_VERIFY_WITH_TIMEOUT(dlg.isNull(), 5000);
    // Every path hands the monitoring back, or the next SEN would be refused.
    QVERIFY(!h.window()->monitorNarrowing()->held());
    QCOMPARE(ChipReg(h, 0x20 + ch), kChipDefault);
    QCOMPARE(h.window()->session()->monitoredChannels(), uint16_t(0x0003));
    QVERIFY(!h.window()->session()->sensing());
    QCOMPARE(h.window()->channelIndicators[ch]->findChildren<SensitivityDialog*>().size(), 0);
}

void tst_SensitivityDialog::secondRun_refusedWhileOneIsActive() {
    MwHarness h;
    QVERIFY2(h.start(), qPrintable(h.error()));
    SetMonitoringBefore(h, 0x0081, false);

    QPointer<SensitivityDialog> first = ClickSen(h, 0);
    QVERIFY(first);
    QTRY_COMPARE_WITH_TIMEOUT(first->state(), int(SensitivityDialog::STA_SAMPLE), 10000);

    QPointer<SensitivityDialog> second = ClickSen(h, 6);
    QVERIFY(second);
    QTRY_VERIFY_WITH_TIMEOUT(second->ui->label_msg->text().contains(QStringLiteral("SIN1")), 10000);
    QVERIFY(second->ui->label_msg->text().startsWith(QStringLiteral("Another sensitivity run")));
    QVERIFY(!second->ui->pushButton_OK->isVisible());
    QVERIFY(!second->ownsRun());
    QVERIFY(first->ownsRun());
    QCOMPARE(h.window()->session()->monitoredChannels(), uint16_t(0x0001));
    QVERIFY(h.sim()->log()->writesTo(0x26).empty());

    // Nothing to restore for the refused one: it closes at once.
    QTest::keyClick(second.data(), Qt::Key_Escape);
    QTRY_VERIFY(second.isNull());
    QCOMPARE(first->state(), int(SensitivityDialog::STA_SAMPLE));

    QTest::mouseClick(first->ui->pushButton_Cancel, Qt::LeftButton);
    QTRY_VERIFY_WITH_TIMEOUT(first.isNull(), 5000);
    QCOMPARE(h.window()->session()->monitoredChannels(), uint16_t(0x0081));
    QCOMPARE(ChipReg(h, 0x20), kChipDefault);
    QVERIFY(h.sim()->log()->writesTo(0x26).empty());
}

// The run switches sensing on and back without a click; the button must show
// it, so that a click does what the button says.
void tst_SensitivityDialog::senseButton_followsTheRun() {
    MwHarness h;
    QVERIFY2(h.start(), qPrintable(h.error()));
    QPushButton* sense = h.window()->ui->pushButton_Sense;
    SetMonitoringBefore(h, 0x0001, false);
    QSignalSpy toggles(sense, &QPushButton::toggled);

    QPointer<SensitivityDialog> dlg = ClickSen(h, 3);
    QVERIFY(dlg);
    QTRY_COMPARE_WITH_TIMEOUT(dlg->state(), int(SensitivityDialog::STA_SAMPLE), 10000);
    QVERIFY(h.window()->session()->sensing());
    QVERIFY(sense->isChecked());
    QCOMPARE(sense->text(), QStringLiteral("Stop"));
    QCOMPARE(toggles.count(), 0);  // set quietly, the slot ran once

    // "Stop" stops.
    QTest::mouseClick(sense, Qt::LeftButton);
    QVERIFY(!h.window()->session()->sensing());
    QVERIFY(!sense->isChecked());
    QCOMPARE(sense->text(), QStringLiteral("Sense"));

    // Sensing on again, then the cancelled run puts back "off" as it found it.
    QTest::mouseClick(sense, Qt::LeftButton);
    QVERIFY(h.window()->session()->sensing());
    QTest::mouseClick(dlg->ui->pushButton_Cancel, Qt::LeftButton);
    QTRY_VERIFY_WITH_TIMEOUT(dlg.isNull(), 5000);
    // Every path hands the monitoring back, or the next SEN would be refused.
    QVERIFY(!h.window()->monitorNarrowing()->held());
    QVERIFY(!h.window()->session()->sensing());
    QVERIFY(!sense->isChecked());
    QCOMPARE(sense->text(), QStringLiteral("Sense"));
}

QTEST_MAIN(tst_SensitivityDialog)

#include "tst_SensitivityDialog.moc"
