#include <QGridLayout>
#include <QtTest>

#include "app/config.h"
#include "app/limits.h"
#include "link/ReceiveThread.h"
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
#include "workers/ChipPollThread.h"
#include "workers/MonitorThread.h"

namespace {

MwOptions Offline() {
    MwOptions o;
    o.startSim = false;
    o.connect = false;
    return o;
}

bool Shows(const QLabel* label, const char* path) {
    return label->pixmap().toImage() == QPixmap(QString::fromLatin1(path)).toImage();
}

QPoint CellPos(MainWindow* w, int addr) {
    auto* grid = qobject_cast<QGridLayout*>(w->ui->frame_reg->layout());
    int row = -1, col = -1, rs = 0, cs = 0;
    if (grid && w->registerCell(addr))
        grid->getItemPosition(grid->indexOf(w->registerCell(addr)), &row, &col, &rs, &cs);
    return QPoint(col, row);
}

int CellCount(const MainWindow* w) {
    int n = 0;
    for (int a = 0; a < 256; ++a) n += w->registerCell(a) != nullptr;
    return n;
}

}  // namespace

// The window as the constructor leaves it, from the files of the working
// directory, without a board.
class tst_MwConstruction : public QObject {
    Q_OBJECT

private slots:
    // Every channel is monitored from the start, before anyone opens the
    // monitoring dialog, which is built on first use and shows that mask.
    void monitorMask_everyChannelUntilChosen_data() {
        QTest::addColumn<int>("channels");
        QTest::addColumn<int>("sbf");
        QTest::addColumn<int>("mask");
        QTest::newRow("16 channels") << 16 << 4 << 0xFFFF;
        QTest::newRow("4 channels, 1 SBF") << 4 << 1 << 0x000F;
        QTest::newRow("no SBF: no boxes, no channel") << 8 << 0 << 0;
    }
    void monitorMask_everyChannelUntilChosen() {
        QFETCH(int, channels);
        QFETCH(int, sbf);
        QFETCH(int, mask);
        MwOptions o = Offline();
        o.channels = channels;
        o.sbf = sbf;
        MwHarness h(o);
        QVERIFY2(h.start(), qPrintable(h.error()));
        QCOMPARE(int(h.window()->session()->monitoredChannels()), mask);
        QVERIFY(h.window()->monitoringDialogIfBuilt() == nullptr);
        h.window()->ui->pushButton_Dlg->click();
        MonitoringDialog* d = h.window()->monitoringDialogIfBuilt();
        QVERIFY(d != nullptr && d->isVisible());
        for (int c = 0; c < channels && sbf > 0; ++c) QVERIFY(d->column(0, c)->CheckBox_MON_En->isChecked());
        QCOMPARE(int(h.window()->session()->monitoredChannels()), mask);
    }

    void channels_indicatorsAndRegisterGridWidth_data() {
        QTest::addColumn<int>("channels");
        QTest::addColumn<int>("gridColumns");
        QTest::newRow("none") << 0 << 8;
        QTest::newRow("four") << 4 << 4;
        QTest::newRow("twelve") << 12 << 8;
    }
    void channels_indicatorsAndRegisterGridWidth() {
        QFETCH(int, channels);
        QFETCH(int, gridColumns);
        MwOptions o = Offline();
        o.channels = channels;
        MwHarness h(o);
        QVERIFY2(h.start(), qPrintable(h.error()));
        MainWindow* w = h.window();

        auto* sinGrid = w->ui->frame_SIN->findChild<QGridLayout*>("QGridLayout_SIN");
        QVERIFY(sinGrid != nullptr);
        QCOMPARE(sinGrid->count(), channels);
        for (int i = 0; i < kSinSlots; ++i) {
            if (i >= channels) {
                QVERIFY(w->channelIndicators[i] == nullptr);
                continue;
            }
            QCOMPARE(w->channelIndicators[i]->ui->label_SIN_TITLE->text(), QString("SIN %1").arg(i + 1));
            int row, col, rs, cs;
            sinGrid->getItemPosition(sinGrid->indexOf(w->channelIndicators[i]), &row, &col, &rs, &cs);
            QCOMPARE(QPoint(col, row), QPoint(i, 0));
        }

        QCOMPARE(CellCount(h.window()), 64);
        QCOMPARE(w->ui->frame_reg->layout()->objectName(), QString("GLayout"));
        QCOMPARE(qobject_cast<QGridLayout*>(w->ui->frame_reg->layout())->columnCount(), gridColumns);
        QCOMPARE(CellPos(w, gridColumns), QPoint(0, 1));
        QCOMPARE(CellPos(w, 63), QPoint(63 % gridColumns, 63 / gridColumns));
    }

    void hint_gapsToolTipsAndLimits() {
        MwOptions o = Offline();
        o.channels = 12;
        QByteArray hint = "[zero]\n[one]\n[two]\n[three]\n[four]\n[]\n[six]\nno bracket here\n";
        // A long line is one line: the register after it keeps its address.
        hint += "[" + QByteArray(300, 'x') + "]\n[nine]\n";
        for (int n = 10; n < 300; ++n) hint += "[r" + QByteArray::number(n) + "]\n";
        o.hintText = hint;
        MwHarness h(o);
        QVERIFY2(h.start(), qPrintable(h.error()));
        MainWindow* w = h.window();

        QVERIFY(h.window()->registerCell(5) == nullptr);
        QVERIFY(h.window()->registerCell(7) == nullptr);
        QCOMPARE(h.window()->registerCell(6)->ui->label_Addr->toolTip(), QString("six"));
        QCOMPARE(h.window()->registerCell(6)->ui->label_Addr->text(), QString("06H"));
        QCOMPARE(CellPos(w, 6), CellPos(w, 4) + QPoint(1, 0));
        QCOMPARE(h.window()->registerCell(8)->ui->label_Addr->toolTip(), QString(300, 'x'));
        QCOMPARE(h.window()->registerCell(9)->ui->label_Addr->toolTip(), QString("nine"));
        QCOMPARE(h.window()->registerCell(255)->ui->label_Addr->toolTip(), QString("r255"));
        // Lines 256 to 299 are not registers.
        QCOMPARE(CellCount(h.window()), 256 - 2);
        QCOMPARE(w->ui->frame_reg->findChildren<RegisterCell*>().size(), 256 - 2);
    }

    void hint_missing_noCells() {
        MwOptions o = Offline();
        o.writeHint = false;
        MwHarness h(o);
        QVERIFY2(h.start(), qPrintable(h.error()));
        QCOMPARE(CellCount(h.window()), 0);
    }

    void debugMarker_showsDebugTabAndTest_data() {
        QTest::addColumn<bool>("marker");
        QTest::newRow("DEBUG.txt") << true;
        QTest::newRow("no marker") << false;
    }
    void debugMarker_showsDebugTabAndTest() {
        QFETCH(bool, marker);
        MwOptions o = Offline();
        o.debugFile = marker;
        MwHarness h(o);
        QVERIFY2(h.start(), qPrintable(h.error()));
        MainWindow* w = h.window();
        QCOMPARE(w->ui->tabWidget->count(), marker ? 2 : 1);
        QCOMPARE(w->ui->tabWidget->tabText(0), QString("Reg"));
        if (marker) QCOMPARE(w->ui->tabWidget->tabText(1), QString("Debug"));
        QCOMPARE(w->ui->pushButton_TEST->isVisible(), marker);
    }

    void startState_disconnectedWithThreadsRunning() {
        MwHarness h(Offline());
        QVERIFY2(h.start(), qPrintable(h.error()));
        MainWindow* w = h.window();
        QVERIFY(Shows(w->ui->label_UART_Status, ":/NV_EV_Kit/Resources/grey_circle.png"));
        QVERIFY(Shows(w->ui->label_I2C_Status, ":/NV_EV_Kit/Resources/grey_circle.png"));
        for (QWidget* chip :
             {static_cast<QWidget*>(w->ui->groupBox_Key), static_cast<QWidget*>(w->ui->frame_reg),
              static_cast<QWidget*>(w->ui->pushButton_Reset), static_cast<QWidget*>(w->ui->pushButton_Read),
              static_cast<QWidget*>(w->ui->pushButton_Sense)})
            QVERIFY2(!chip->isEnabled(), qPrintable(chip->objectName()));
        QVERIFY(w->ui->groupBox_Config->isEnabled());
        QCOMPARE(w->ui->comboBox_COM->currentText(), QString("NONE"));
        QCOMPARE(w->ui->comboBox_COM->itemText(0), QString("NONE"));
        QVERIFY(!h.window()->link()->isLive());
        QVERIFY(!h.window()->session()->chipPresent());
        QVERIFY(w->monitoringDialogIfBuilt() == nullptr);  // built on first use
        QVERIFY(h.window()->link()->receiver()->isRunning() && h.window()->link()->receiver()->parent() == nullptr);
        QVERIFY(w->chipPollThread() && w->chipPollThread()->isRunning() && w->chipPollThread()->parent() == nullptr);
        QVERIFY(w->monitorThread() && w->monitorThread()->isRunning() && w->monitorThread()->parent() == nullptr);
    }

    void portList_extraAndCommandLinePathsOnce() {
        MwOptions o = Offline();
        o.extraConfig = "[PORT]\nEXTRA=/dev/ttyX1; /dev/ttyX2 ;/dev/ttyX1\n";
        MwHarness h(o);
        QVERIFY2(h.start(), qPrintable(h.error()));
        h.window()->setCommandLinePorts({"/dev/ttyX2", "/dev/ttyX3"});
        h.window()->ui->pushButton_COM_Search->click();
        QStringList items;
        for (int i = 0; i < h.window()->ui->comboBox_COM->count(); ++i)
            items << h.window()->ui->comboBox_COM->itemText(i);
        QCOMPARE(items.first(), QString("NONE"));
        QCOMPARE(items.mid(items.size() - 3), QStringList({"/dev/ttyX1", "/dev/ttyX2", "/dev/ttyX3"}));
        QCOMPARE(h.window()->ui->comboBox_COM->currentIndex(), 0);
    }

    // The address field admits hexadecimal digits and editing keys only;
    // Return and Enter take the address into use.
    void addressKeys_filteredAndReturnApplies_data() {
        QTest::addColumn<int>("key");
        QTest::newRow("Return") << int(Qt::Key_Return);
        QTest::newRow("Enter") << int(Qt::Key_Enter);
    }
    void addressKeys_filteredAndReturnApplies() {
        QFETCH(int, key);
        MwHarness h(Offline());
        QVERIFY2(h.start(), qPrintable(h.error()));
        QLineEdit* field = h.window()->ui->lineEdit_I2C_ADDR;
        field->clear();
        QTest::keyClicks(field, "b");
        QTest::keyClick(field, Qt::Key_Left);  // swallowed: the cursor stays at the end
        QTest::keyClick(field, Qt::Key_Tab);
        QTest::keyClicks(field, "x4");
        QCOMPARE(field->text(), QString("b4"));
        QTest::keyClick(field, Qt::Key(key));
        QCOMPARE(field->text(), QString("B4"));
        QCOMPARE(h.window()->session()->i2cAddress(), 0xB4);
        QVERIFY(h.readFile("config.ini").contains("[I2C]\nI2C_ADDR=B4\n"));
    }
};

QTEST_MAIN(tst_MwConstruction)
#include "tst_mw_construction.moc"
