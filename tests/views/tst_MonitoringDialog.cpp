#include <QCheckBox>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>
#include <QtTest>
#include <memory>

#include "app/limits.h"
#include "ui_ChannelIndicator.h"
#include "ui_MonitoringDialog.h"
#include "ui_SbfColumn.h"
#include "ui_SbfPanel.h"
#include "views/MonitoringDialog.h"
#include "views/SbfColumn.h"
#include "views/SbfPanel.h"
#include "workers/BoardSession.h"

namespace {
const QString kTitleTouched = QStringLiteral("color: rgb(255, 255, 255);\n background-color: rgb(0, 255, 0);");
const QString kTitleIdle = QStringLiteral("color: rgb(255, 255, 255);\n background-color: rgb(0, 85, 0);");
const QString kDiffMarked = QStringLiteral("color: rgb(255, 0, 0);");
const QString kOffsetInvalid = QStringLiteral("color: rgb(255, 0, 0);\n background-color: rgb(0, 0, 0);");

void SetCounts(BoardSession& session, int sbfs, int channels) {
    BoardConfig config = session.config();
    config.sbfs = sbfs;
    config.channels = channels;
    session.setConfig(config);
}

// Four SBFs of one channel, distinct per SBF so a mixed-up index shows.
struct Values {
    uint16_t ref[kMaxSbf];
    uint16_t sen[kMaxSbf];
    int32_t diff[kMaxSbf];
    int32_t offset[kMaxSbf];
};
Values MakeValues(int base) {
    Values v{};
    for (int s = 0; s < kMaxSbf; ++s) {
        v.ref[s] = uint16_t(base + 1000 + s);
        v.sen[s] = uint16_t(base + 2000 + s);
        v.diff[s] = base + 30 + s;
        v.offset[s] = -(base + 40 + s);
    }
    return v;
}
}  // namespace

class tst_MonitoringDialog : public QObject {
    Q_OBJECT

private slots:
    // A fresh board per test: its monitored channels start empty.
    void init() { m_Session = std::make_unique<BoardSession>(); }

    // one channel column
    void column_panel0_checkBoxDrivesOwnMaskBit();
    void column_otherPanel_hasNoCheckBoxAndLeavesMask();
    void column_channel15_usesTopBit();

    // panel and dialog construction
    void construction_twoSbfsEightChannels();
    void construction_sixteenChannelsFillColumnArray();
    void construction_countsAboveLimitsAreClamped();
    void construction_zeroCounts_emptyPanelsAndInertButtons();

    // selection buttons
    void buttons_clearAllThenSelectAll();

    // updates
    void updateChannel_valuesUnscaledInEveryPanel();
    void updateChannel_onlyLastChannelIsRed();
    void updateChannel_sameChannelTwice_staysRed();
    void updateTouch_mask0005_fourChannels();
    void updateSbfStatus_status05_threeSbfs();
    void updates_outOfRangeChannel_ignored();
    void updates_countsRaisedAfterConstruction_stayInsideBuiltColumns();

private:
    std::unique_ptr<BoardSession> m_Session;
};

void tst_MonitoringDialog::column_panel0_checkBoxDrivesOwnMaskBit() {
    SetCounts(*m_Session, 1, 8);
    m_Session->setMonitoredChannels(0x0101);
    SbfColumn col(nullptr, 3, 0, m_Session.get());
    QVERIFY(col.CheckBox_MON_En);
    QVERIFY(!col.CheckBox_MON_En->isChecked());
    QCOMPARE(m_Session->monitoredChannels(), uint16_t(0x0101));

    col.CheckBox_MON_En->setChecked(true);
    QCOMPARE(m_Session->monitoredChannels(), uint16_t(0x0109));
    col.CheckBox_MON_En->setChecked(false);
    QCOMPARE(m_Session->monitoredChannels(), uint16_t(0x0101));

    auto* grid = col.ui->frame_checkbox->findChild<QLayout*>(QStringLiteral("GridLayout_CheckBox"));
    QVERIFY(grid);
    QCOMPARE(grid->indexOf(col.CheckBox_MON_En), 0);
}

void tst_MonitoringDialog::column_otherPanel_hasNoCheckBoxAndLeavesMask() {
    SetCounts(*m_Session, 2, 8);
    m_Session->setMonitoredChannels(0x0101);
    SbfColumn col(nullptr, 3, 1, m_Session.get());
    QVERIFY(!col.CheckBox_MON_En);
    QVERIFY(!col.findChild<QCheckBox*>());
    QCOMPARE(m_Session->monitoredChannels(), uint16_t(0x0101));
}

void tst_MonitoringDialog::column_channel15_usesTopBit() {
    SetCounts(*m_Session, 1, 16);
    m_Session->setMonitoredChannels(0x8000);
    SbfColumn col(nullptr, 15, 0, m_Session.get());
    QVERIFY(col.CheckBox_MON_En->isChecked());
    col.CheckBox_MON_En->setChecked(false);
    QCOMPARE(m_Session->monitoredChannels(), uint16_t(0));
}

void tst_MonitoringDialog::construction_twoSbfsEightChannels() {
    SetCounts(*m_Session, 2, 8);
    // Built late (on first use), the boxes show the mask as it stands and
    // leave it alone.
    m_Session->setMonitoredChannels(0x00A5);
    MonitoringDialog dlg(nullptr, m_Session.get());
    QCOMPARE(dlg.windowTitle(), QStringLiteral(" - Monitoring"));
    QCOMPARE(dlg.ui->pushButton_enable->text(), QStringLiteral("전체 선택"));
    QCOMPARE(dlg.ui->pushButton_disable->text(), QStringLiteral("전체 해제"));
    QCOMPARE(dlg.ui->frame_count->layout()->objectName(), QStringLiteral("VBoxLayout"));
    QCOMPARE(dlg.sbfCount(), 2);
    QVERIFY(!dlg.widget_SBF[2]);

    for (int s = 0; s < 2; ++s) {
        SbfPanel* panel = dlg.widget_SBF[s];
        QVERIFY(panel);
        QCOMPARE(panel->ui->label_SBF->text(), QString::asprintf("- SBF %d -", s + 1));
        QCOMPARE(panel->ui->frame_sense->layout()->objectName(), QStringLiteral("HBoxLayout_SENSE"));
        QCOMPARE(panel->channelCount(), 8);
        QVERIFY(!panel->widget_sense[8]);
        for (int c = 0; c < 8; ++c) {
            SbfColumn* col = panel->widget_sense[c];
            QVERIFY(col);
            QCOMPARE(col->ui->label_SIN_TITLE->text(), QString::asprintf("SIN %d", c + 1));
            QCOMPARE(col->CheckBox_MON_En != nullptr, s == 0);
            if (s == 0) QCOMPARE(col->CheckBox_MON_En->isChecked(), ((0xA5 >> c) & 1) != 0);
        }
    }
    QCOMPARE(m_Session->monitoredChannels(), uint16_t(0x00A5));
    QCOMPARE(dlg.layout()->sizeConstraint(), QLayout::SetFixedSize);
}

void tst_MonitoringDialog::construction_sixteenChannelsFillColumnArray() {
    SetCounts(*m_Session, 1, 16);
    MonitoringDialog dlg(nullptr, m_Session.get());
    for (int c = 0; c < kMaxChannels; ++c) QVERIFY(dlg.widget_SBF[0]->widget_sense[c]);
}

void tst_MonitoringDialog::construction_countsAboveLimitsAreClamped() {
    SetCounts(*m_Session, 7, 20);
    MonitoringDialog dlg(nullptr, m_Session.get());
    QCOMPARE(dlg.sbfCount(), kMaxSbf);
    for (int s = 0; s < kMaxSbf; ++s) QCOMPARE(dlg.widget_SBF[s]->channelCount(), kMaxChannels);
    // Every channel the panels could be asked about lands safely.
    const Values v = MakeValues(0);
    dlg.Update_Channel(19, v.sen, v.diff, v.offset);
    dlg.Update_Touch(-1);
}

void tst_MonitoringDialog::construction_zeroCounts_emptyPanelsAndInertButtons() {
    SetCounts(*m_Session, 1, 0);
    MonitoringDialog noChannels(nullptr, m_Session.get());
    QCOMPARE(noChannels.widget_SBF[0]->channelCount(), 0);
    QVERIFY(!noChannels.widget_SBF[0]->findChild<SbfColumn*>());

    SetCounts(*m_Session, 0, 8);
    MonitoringDialog noPanels(nullptr, m_Session.get());
    QCOMPARE(m_Session->monitoredChannels(), uint16_t(0));
    m_Session->setMonitoredChannels(0x0005);
    noPanels.ui->pushButton_disable->click();
    noPanels.ui->pushButton_enable->click();
    QCOMPARE(m_Session->monitoredChannels(), uint16_t(0x0005));
}

void tst_MonitoringDialog::buttons_clearAllThenSelectAll() {
    SetCounts(*m_Session, 2, 8);
    MonitoringDialog dlg(nullptr, m_Session.get());
    m_Session->setChannelMonitored(15, true);  // a bit the dialog does not own

    dlg.ui->pushButton_disable->click();
    QCOMPARE(m_Session->monitoredChannels(), uint16_t(0x8000));
    for (int c = 0; c < 8; ++c) QVERIFY(!dlg.widget_SBF[0]->widget_sense[c]->CheckBox_MON_En->isChecked());

    dlg.ui->pushButton_enable->click();
    QCOMPARE(m_Session->monitoredChannels(), uint16_t(0x80FF));
    for (int c = 0; c < 8; ++c) QVERIFY(dlg.widget_SBF[0]->widget_sense[c]->CheckBox_MON_En->isChecked());
}

void tst_MonitoringDialog::updateChannel_valuesUnscaledInEveryPanel() {
    SetCounts(*m_Session, 3, 4);
    MonitoringDialog dlg(nullptr, m_Session.get());
    const Values v = MakeValues(0);
    dlg.Update_RefCnt(2, v.ref);
    dlg.Update_Channel(2, v.sen, v.diff, v.offset);
    for (int s = 0; s < 3; ++s) {
        SbfColumn* col = dlg.widget_SBF[s]->widget_sense[2];
        QCOMPARE(col->ui->label_RIN_CNT->text(), QString::number(1000 + s));
        QCOMPARE(col->ui->label_SIN_CNT->text(), QString::number(2000 + s));
        QCOMPARE(col->ui->label_DIFF_PER->text(), QString::number(30 + s));
        QCOMPARE(col->ui->label_OFFSET_PER->text(), QString::number(-(40 + s)));
        // Neighbours keep their designer text.
        QCOMPARE(dlg.widget_SBF[s]->widget_sense[1]->ui->label_SIN_CNT->text(), QStringLiteral("0000"));
    }
}

void tst_MonitoringDialog::updateChannel_onlyLastChannelIsRed() {
    SetCounts(*m_Session, 2, 8);
    MonitoringDialog dlg(nullptr, m_Session.get());
    const Values v = MakeValues(0);
    dlg.Update_Channel(3, v.sen, v.diff, v.offset);
    dlg.Update_Channel(5, v.sen, v.diff, v.offset);
    QCOMPARE(dlg.lastMarkedChannel(), 5);
    for (int s = 0; s < 2; ++s)
        for (int c = 0; c < 8; ++c)
            QCOMPARE(dlg.widget_SBF[s]->widget_sense[c]->ui->label_DIFF_PER->styleSheet(),
                     c == 5 ? kDiffMarked : QString());
}

void tst_MonitoringDialog::updateChannel_sameChannelTwice_staysRed() {
    SetCounts(*m_Session, 1, 4);
    MonitoringDialog dlg(nullptr, m_Session.get());
    const Values v = MakeValues(0);
    dlg.Update_Channel(0, v.sen, v.diff, v.offset);
    dlg.Update_Channel(0, v.sen, v.diff, v.offset);
    QCOMPARE(dlg.widget_SBF[0]->widget_sense[0]->ui->label_DIFF_PER->styleSheet(), kDiffMarked);
}

void tst_MonitoringDialog::updateTouch_mask0005_fourChannels() {
    SetCounts(*m_Session, 3, 4);
    MonitoringDialog dlg(nullptr, m_Session.get());
    dlg.Update_Touch(0x0005);
    for (int s = 0; s < 3; ++s)
        for (int c = 0; c < 4; ++c)
            QCOMPARE(dlg.widget_SBF[s]->widget_sense[c]->ui->label_SIN_TITLE->styleSheet(),
                     (c == 0 || c == 2) ? kTitleTouched : kTitleIdle);

    // Every title is rewritten on every call: a released key goes dark again.
    dlg.Update_Touch(0);
    for (int s = 0; s < 3; ++s)
        for (int c = 0; c < 4; ++c)
            QCOMPARE(dlg.widget_SBF[s]->widget_sense[c]->ui->label_SIN_TITLE->styleSheet(), kTitleIdle);
}

void tst_MonitoringDialog::updateSbfStatus_status05_threeSbfs() {
    SetCounts(*m_Session, 3, 4);
    MonitoringDialog dlg(nullptr, m_Session.get());
    dlg.Update_SbfStatus(1, 0x05);
    QCOMPARE(dlg.widget_SBF[0]->widget_sense[1]->ui->label_OFFSET_PER->styleSheet(), QString());
    QCOMPARE(dlg.widget_SBF[1]->widget_sense[1]->ui->label_OFFSET_PER->styleSheet(), kOffsetInvalid);
    QCOMPARE(dlg.widget_SBF[2]->widget_sense[1]->ui->label_OFFSET_PER->styleSheet(), QString());
    // Other channels are untouched.
    QCOMPARE(dlg.widget_SBF[1]->widget_sense[0]->ui->label_OFFSET_PER->styleSheet(), QString());

    dlg.Update_SbfStatus(1, 0x0F);
    QCOMPARE(dlg.widget_SBF[1]->widget_sense[1]->ui->label_OFFSET_PER->styleSheet(), QString());
}

void tst_MonitoringDialog::updates_outOfRangeChannel_ignored() {
    SetCounts(*m_Session, 2, 4);
    MonitoringDialog dlg(nullptr, m_Session.get());
    const Values v = MakeValues(0);
    dlg.Update_Channel(1, v.sen, v.diff, v.offset);

    const Values w = MakeValues(500);
    dlg.Update_RefCnt(4, w.ref);
    dlg.Update_Channel(4, w.sen, w.diff, w.offset);
    dlg.Update_Channel(255, w.sen, w.diff, w.offset);
    dlg.Update_SbfStatus(200, 0);
    dlg.Update_Channel(2, nullptr, w.diff, w.offset);
    dlg.Update_RefCnt(2, nullptr);

    // The red mark stays where the last valid update put it.
    QCOMPARE(dlg.lastMarkedChannel(), 1);
    for (int s = 0; s < 2; ++s) {
        QCOMPARE(dlg.widget_SBF[s]->widget_sense[1]->ui->label_DIFF_PER->styleSheet(), kDiffMarked);
        QCOMPARE(dlg.widget_SBF[s]->widget_sense[1]->ui->label_SIN_CNT->text(), QString::number(2000 + s));
        QCOMPARE(dlg.widget_SBF[s]->widget_sense[2]->ui->label_SIN_CNT->text(), QStringLiteral("0000"));
        QCOMPARE(dlg.widget_SBF[s]->widget_sense[3]->ui->label_OFFSET_PER->styleSheet(), QString());
    }
}

void tst_MonitoringDialog::updates_countsRaisedAfterConstruction_stayInsideBuiltColumns() {
    SetCounts(*m_Session, 1, 2);
    MonitoringDialog dlg(nullptr, m_Session.get());
    SetCounts(*m_Session, 4, 16);
    const Values v = MakeValues(0);
    dlg.Update_Touch(0xFFFF);
    dlg.Update_Channel(9, v.sen, v.diff, v.offset);
    dlg.Update_SbfStatus(9, 0);
    dlg.ui->pushButton_disable->click();
    QCOMPARE(m_Session->monitoredChannels(), uint16_t(0));
    QCOMPARE(dlg.widget_SBF[0]->widget_sense[1]->ui->label_SIN_TITLE->styleSheet(), kTitleTouched);
}

QTEST_MAIN(tst_MonitoringDialog)
#include "tst_MonitoringDialog.moc"
