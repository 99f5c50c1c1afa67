#include <QtTest>

#include "app/config.h"
#include "app/limits.h"
#include "link/ReceiveThread.h"
#include "mainwindow/MainWindow.h"
#include "sim/SimPtyHost.h"
#include "support/mw_harness.h"
#include "ui_MainWindow.h"
#include "ui_RegisterCell.h"
#include "views/RegisterCell.h"
#include "workers/BoardSession.h"
#include "workers/ChipPollThread.h"
#include "workers/MonitorThread.h"

namespace {

const char kGreen[] = ":/NV_EV_Kit/Resources/green_circle.png";
const char kGrey[] = ":/NV_EV_Kit/Resources/grey_circle.png";
const QString kInvalidPort = QStringLiteral("\nThe port number is invalid.     ");

bool Shows(const QLabel* label, const char* path) {
    return label->pixmap().toImage() == QPixmap(QString::fromLatin1(path)).toImage();
}

QList<QWidget*> ChipWidgets(MainWindow* w) {
    return {w->ui->groupBox_Key, w->ui->frame_reg, w->ui->pushButton_Reset, w->ui->pushButton_Read,
            w->ui->pushButton_Sense};
}

bool ChipWidgetsEnabled(MainWindow* w, bool enabled) {
    for (QWidget* c : ChipWidgets(w))
        if (c->isEnabled() != enabled) return false;
    return true;
}

// Register reads of the table: everything but the one-register probes of 0x00.
QList<QByteArray> TableReads(const MwHarness& h) {
    QList<QByteArray> out;
    for (const QByteArray& p : h.payloads('R'))
        if (p.mid(2) != "0001") out << p;
    return out;
}

}  // namespace

// The engineer's connection to the board and the chip, end to end against the
// simulated board.
class tst_MwConnection : public QObject {
    Q_OBJECT

private slots:
    void connect_versionDeviceChipAndTableInRuns() {
        MwOptions o;
        o.debugFile = true;
        o.hintAddrs = {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 0x10, 0x11};
        for (int a = 0xF8; a <= 0xFF; ++a) o.hintAddrs << a;
        o.connect = false;
        MwHarness h(o);
        QVERIFY2(h.start(), qPrintable(h.error()));
        MainWindow* w = h.window();

        h.choosePort(h.simPath());
        // The chip widgets wait for the polling thread.
        QVERIFY(ChipWidgetsEnabled(w, false));
        // The port settles, then the firmware is asked for.
        QVERIFY(h.settle());
        QVERIFY(h.window()->link()->isLive());
        QVERIFY(Shows(w->ui->label_UART_Status, kGreen));
        QCOMPARE(w->ui->comboBox_COM->currentText(), h.simPath());
        QCOMPARE(w->ui->pushButton_TEST->text(), QString("v3.2"));
        QCOMPARE(h.payloads('V'), QList<QByteArray>{""});
        QCOMPARE(h.payloads('D'), QList<QByteArray>{"04"});

        QVERIFY(h.waitForChip(5000));
        QVERIFY(Shows(w->ui->label_I2C_Status, kGreen));
        QVERIFY(ChipWidgetsEnabled(w, true));
        QCOMPARE(TableReads(h), QList<QByteArray>({"B00008", "B00804", "B01002", "B0F808"}));
        uint8_t chip0B = 0;
        h.sim()->withBoard([&](SimBoard& b, uint32_t) { chip0B = b.chip().peek(0x0B); });
        QCOMPARE(h.window()->registerCell(0x0B)->ui->lineEdit_data->text(), QString::asprintf("%02X", chip0B));

        // The combo item of the open port again: closed and opened anew.
        h.sim()->clearLog();
        h.choosePort(h.simPath());
        QVERIFY(h.settle());
        QVERIFY(h.window()->link()->isLive());
        QCOMPARE(h.payloads('V').size(), 1);
    }

    void commandLinePort_connectsLikeAChoice() {
        MwOptions o;
        o.connect = false;
        MwHarness h(o);
        QVERIFY2(h.start(), qPrintable(h.error()));
        h.window()->Connect_FirstCmdLinePort();
        QVERIFY(h.settle());
        QCOMPARE(h.window()->ui->comboBox_COM->currentText(), h.simPath());
        QVERIFY(h.waitForChip(5000));
    }

    void firmwareOutOfRange_warnsAndPortStaysOpen_data() {
        QTest::addColumn<int>("version");
        QTest::addColumn<QString>("shown");
        QTest::newRow("29") << 29 << "v2.9";
        QTest::newRow("40") << 40 << "v4.0";
    }
    void firmwareOutOfRange_warnsAndPortStaysOpen() {
        QFETCH(int, version);
        QFETCH(QString, shown);
        MwOptions o;
        o.connect = false;
        MwHarness h(o);
        QVERIFY2(h.start(), qPrintable(h.error()));
        h.sim()->setVersion(version);
        MessageBoxCatcher boxes;
        h.choosePort(h.simPath());
        QTRY_COMPARE(boxes.count(), 1);
        QCOMPARE(boxes.titles().first(), QString("WARNING"));
        QCOMPARE(boxes.last(), "Firmware Version : " + shown + " \nThe firmware version is invalid.     ");
        QVERIFY(h.window()->link()->isLive());
        QVERIFY(Shows(h.window()->ui->label_UART_Status, kGreen));
        QVERIFY(h.payloads('D').isEmpty());
    }

    void unopenablePath_warnsAndStaysDisconnected() {
        MwOptions o;
        o.connect = false;
        MwHarness h(o);
        QVERIFY2(h.start(), qPrintable(h.error()));
        MessageBoxCatcher boxes;
        h.choosePort("/nonexistent/ttyNONE");
        QTRY_COMPARE(boxes.count(), 1);
        QCOMPARE(boxes.last(), "/nonexistent/ttyNONE" + kInvalidPort);
        QVERIFY(!h.window()->link()->isLive());
        QCOMPARE(h.window()->ui->comboBox_COM->currentIndex(), 0);
        QVERIFY(Shows(h.window()->ui->label_UART_Status, kGrey));
    }

    void none_disconnects() {
        MwHarness h;
        QVERIFY2(h.start(), qPrintable(h.error()));
        h.choosePort("NONE");
        QVERIFY(!h.window()->link()->isLive());
        QVERIFY(!h.window()->session()->chipPresent());
        QCOMPARE(h.window()->link()->receiver()->m_Port.load(), 0);
        QCOMPARE(h.window()->ui->comboBox_COM->currentText(), QString("NONE"));
        QVERIFY(ChipWidgetsEnabled(h.window(), false));
    }

    void addressChange_chipLostAtNextProbe() {
        MwHarness h;
        QVERIFY2(h.start(), qPrintable(h.error()));
        MainWindow* w = h.window();
        w->ui->lineEdit_I2C_ADDR->setText("B2");
        w->ui->pushButton_Setting_OK->click();
        QTRY_VERIFY_WITH_TIMEOUT(!h.window()->session()->chipPresent(), 5000);
        QVERIFY(Shows(w->ui->label_I2C_Status, kGrey));
        QVERIFY(Shows(w->ui->label_UART_Status, kGreen));
        QVERIFY(ChipWidgetsEnabled(w, false));
    }

    void boardPulled_bothGreyAndOneWarning() {
        MwHarness h;
        QVERIFY2(h.start(), qPrintable(h.error()));
        MainWindow* w = h.window();
        w->ui->pushButton_Sense->setChecked(true);
        MessageBoxCatcher boxes;
        h.sim()->hangup();
        QTRY_COMPARE_WITH_TIMEOUT(boxes.count(), 1, 5000);
        QCOMPARE(boxes.titles().first(), QString("WARNING"));
        QCOMPARE(boxes.last(), h.simPath() + kInvalidPort);
        QVERIFY(Shows(w->ui->label_UART_Status, kGrey));
        QVERIFY(Shows(w->ui->label_I2C_Status, kGrey));
        QVERIFY(ChipWidgetsEnabled(w, false));
        QVERIFY(!w->ui->pushButton_Sense->isChecked());
        QCOMPARE(w->ui->comboBox_COM->currentText(), QString("NONE"));
        // Past the next probe: still the one box.
        QTest::qWait(1500);
        QCOMPARE(boxes.count(), 1);
    }

    // A line failure that arrives while a table read waits for the board.
    void boardPulledDuringRead_oneWarningAndReadButtonStaysOff() {
        MwHarness h;
        QVERIFY2(h.start(), qPrintable(h.error()));
        MainWindow* w = h.window();
        h.sim()->setPacing(true);
        MessageBoxCatcher boxes;
        QTimer::singleShot(0, w, [&] { h.sim()->hangup(); });
        w->ui->pushButton_Read->click();
        QTRY_COMPARE_WITH_TIMEOUT(boxes.count(), 1, 5000);
        QVERIFY(!h.window()->link()->isLive());
        QVERIFY(!w->ui->pushButton_Read->isEnabled());
        QVERIFY(Shows(w->ui->label_UART_Status, kGrey));
        QTest::qWait(300);
        QCOMPARE(boxes.count(), 1);
    }

    // The chip reported lost while the table is being read.
    void chipLostDuringRead_buttonsFollowTheChip() {
        MwHarness h;
        QVERIFY2(h.start(), qPrintable(h.error()));
        MainWindow* w = h.window();
        h.sim()->setPacing(true);
        QTimer::singleShot(0, w, [&] { QMetaObject::invokeMethod(w, "onChipLost"); });
        w->ui->pushButton_Read->click();
        QVERIFY(h.settle());
        QVERIFY(!h.window()->session()->chipPresent());
        QVERIFY(ChipWidgetsEnabled(w, false));
    }

    // A probe's "chip found" still queued when the engineer has disconnected.
    void staleChipFound_afterDisconnect_ignored() {
        MwHarness h;
        QVERIFY2(h.start(), qPrintable(h.error()));
        MainWindow* w = h.window();
        h.choosePort("NONE");
        // As the queued signal is delivered on the GUI thread.
        emit w->chipPollThread()->chipFound();
        QVERIFY(!h.window()->session()->chipPresent());
        QVERIFY(ChipWidgetsEnabled(w, false));
        QVERIFY(Shows(w->ui->label_I2C_Status, kGrey));
    }

    void closeWithPortOpen_endsAllThreads() {
        MwHarness h;
        QVERIFY2(h.start(), qPrintable(h.error()));
        QThread* threads[] = {h.window()->monitorThread(), h.window()->chipPollThread(),
                              h.window()->link()->receiver()};
        h.window()->close();
        for (QThread* t : threads) QVERIFY(t->isFinished());
        QVERIFY(!h.window()->isVisible());
    }

    // Close while the GUI thread waits for a reply that never comes, holding
    // the board lock that the polling thread may be waiting for.
    void closeDuringExchange_closesWithoutHanging() {
        MwHarness h;
        QVERIFY2(h.start(), qPrintable(h.error()));
        MainWindow* w = h.window();
        QThread* threads[] = {h.window()->monitorThread(), h.window()->chipPollThread(),
                              h.window()->link()->receiver()};
        // Monitoring keeps the processing thread asking for the lock.
        h.window()->session()->setMonitoredChannels(0x0001);
        h.window()->session()->setSensing(true);
        h.sim()->setSilent(true);
        h.sim()->clearLog();
        QTimer::singleShot(60, w, [w] { w->close(); });
        w->ui->pushButton_Setting_SearchI2C->click();
        QTRY_VERIFY_WITH_TIMEOUT(!w->isVisible(), 5000);
        for (QThread* t : threads) QVERIFY(t->isFinished());
        // The search gave up instead of probing on.
        int searchProbes = 0;
        for (const QByteArray& p : h.payloads('R')) searchProbes += p != "B00001" && p.endsWith("0001");
        QVERIFY2(searchProbes < 7, QByteArray::number(searchProbes));
    }
};

QTEST_MAIN(tst_MwConnection)
#include "tst_mw_connection.moc"
