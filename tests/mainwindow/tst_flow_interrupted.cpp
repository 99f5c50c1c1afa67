// Every flow of the main window that talks to the board (Save does not),
// cut off while the board owes it a reply: by the engineer closing the
// window, or by the board being pulled. The sensitivity and SNR dialogs'
// suites do the same to their procedures. Either way the window stays responsive, every thread it started
// ends when it closes, and a pulled board is reported once.
#include <QtTest>

#include "link/ExchangeQueue.h"
#include "link/ReceiveThread.h"
#include "mainwindow/MainWindow.h"
#include "sim/SimPtyHost.h"
#include "support/file_dialogs.h"
#include "support/mw_harness.h"
#include "ui_MainWindow.h"
#include "ui_RegisterCell.h"
#include "views/RegisterCell.h"
#include "workers/BoardSession.h"
#include "workers/ChipPollThread.h"
#include "workers/MonitorThread.h"

namespace {

const QString kInvalidPort = QStringLiteral("\nThe port number is invalid.     ");

// Starts the named flow as the engineer would; the file dialogs it opens
// are answered by answerer.
void StartFlow(MwHarness& h, const QString& flow, std::unique_ptr<FileDialogAnswerer>& answerer) {
    Ui::MainWindow* ui = h.window()->ui.get();
    if (flow == "read") {
        ui->pushButton_Read->click();
    } else if (flow == "write") {
        RegisterCell* cell = h.window()->registerCell(0x10);
        QVERIFY(cell != nullptr);
        cell->ui->lineEdit_data->setText(QStringLiteral("5A"));
        QTest::keyClick(cell->ui->lineEdit_data, Qt::Key_Return);
    } else if (flow == "reset") {
        ui->pushButton_Reset->click();
    } else if (flow == "load") {
        QVERIFY(h.writeFile(QStringLiteral("set.sf"), "w1011\nw1122\nw1233\nw1344\n"));
        answerer = std::make_unique<FileDialogAnswerer>(h.filePath(QStringLiteral("set.sf")),
                                                        FileDialogAnswerer::NextDialogOnly);
        ui->pushButton_Load->click();
    } else if (flow == "search") {
        ui->pushButton_Setting_SearchI2C->click();
    } else if (flow == "test") {
        ui->pushButton_TEST->click();
    } else {
        QFAIL(qPrintable(flow));
    }
}

}  // namespace

class tst_FlowInterrupted : public QObject {
    Q_OBJECT

private slots:
    void flowCutOff_data() {
        QTest::addColumn<QString>("flow");
        QTest::addColumn<bool>("pull");
        for (const char* flow : {"read", "write", "reset", "load", "search", "test"}) {
            QTest::addRow("%s, window closed", flow) << QString::fromLatin1(flow) << false;
            QTest::addRow("%s, board pulled", flow) << QString::fromLatin1(flow) << true;
        }
    }

    void flowCutOff() {
        QFETCH(QString, flow);
        QFETCH(bool, pull);
        MwHarness h;
        QVERIFY2(h.start(), qPrintable(h.error()));
        MainWindow* w = h.window();
        BoardSession* session = w->session();
        QThread* threads[] = {w->monitorThread(), w->chipPollThread(), w->link()->receiver()};
        MessageBoxCatcher boxes;

        // At the line's own speed the flow's first command is still on its
        // way when the board falls silent (a flow with a file dialog has
        // posted its first exchange when the click returns).
        h.sim()->setPacing(true);
        std::unique_ptr<FileDialogAnswerer> answerer;
        StartFlow(h, flow, answerer);
        h.sim()->setSilent(true);
        QTRY_VERIFY2_WITH_TIMEOUT(session->exchanges().pending() > 0, qPrintable(h.describe()), 10000);

        if (!pull) {
            w->close();
            QVERIFY(!w->isVisible());
            for (QThread* t : threads) QVERIFY(t->isFinished());
            return;
        }

        h.sim()->hangup();
        // The flow ends (its remaining exchanges find no port), the window
        // shows the board gone, and says so once.
        QTRY_VERIFY2_WITH_TIMEOUT(session->exchanges().pending() == 0 && !session->link().isLive(),
                                  qPrintable(h.describe()), 20000);
        QTRY_VERIFY_WITH_TIMEOUT(boxes.texts().contains(h.simPath() + kInvalidPort), 5000);
        QVERIFY(!session->chipPresent());
        QVERIFY(!w->ui->pushButton_Read->isEnabled() && !w->ui->pushButton_Reset->isEnabled());
        QCOMPARE(w->ui->comboBox_COM->currentText(), QString("NONE"));
        QCOMPARE(boxes.texts().count(h.simPath() + kInvalidPort), 1);

        // Still the engineer's: a port search and a close go through.
        w->ui->pushButton_COM_Search->click();
        w->close();
        for (QThread* t : threads) QVERIFY(t->isFinished());
    }
};

QTEST_MAIN(tst_FlowInterrupted)
#include "tst_flow_interrupted.moc"
