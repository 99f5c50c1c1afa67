// The board pulled out in the middle of each operation that talks to it.
// Whatever was running must wind down without hanging, the window must keep
// answering, the lamps must go grey with one warning, and plugging a board in
// again must work.
#include <QApplication>
#include <QFileDialog>
#include <QLineEdit>
#include <QtTest>

#include "autosen/SensitivityDialog.h"
#include "badinput/workdir_fixture.h"
#include "fault_fixture.h"
#include "ui_ChannelIndicator.h"
#include "ui_MainWindow.h"
#include "ui_SensitivityDialog.h"
#include "ui_SnrDialog.h"
#include "views/RegisterCell.h"
#include "workers/BoardSession.h"

using namespace faults;

namespace {

// Pulls the board from a timer once cond holds, so that the pull lands
// while the window's exchanges are under way.
class PullWhen : public QObject {
public:
    PullWhen(SimPtyHost* sim, std::function<bool()> cond) : m_sim(sim), m_cond(std::move(cond)) {
        connect(&m_timer, &QTimer::timeout, this, [this] {
            if (m_sim->hungUp() || !m_cond()) return;
            m_timer.stop();
            m_sim->hangup();
        });
        m_timer.start(2);
    }
    bool pulled() const { return m_sim->hungUp(); }

private:
    SimPtyHost* m_sim;
    std::function<bool()> m_cond;
    QTimer m_timer;
};

}  // namespace

class tst_BoardPulled : public QObject {
    Q_OBJECT

private slots:
    void duringTableRead() {
        MwOptions o;
        o.hintAddrs.clear();
        for (int a = 0; a < 0x100; ++a) o.hintAddrs << a;
        MwHarness h(o);
        QVERIFY2(h.start(), qPrintable(h.error()));
        MainWindow* w = h.window();
        h.sim()->setPacing(true);  // a table of 32 runs then takes a good while
        h.sim()->clearLog();
        MessageBoxCatcher boxes;
        Heartbeat beat;
        PullWhen pull(h.sim(), [&] { return h.sim()->log()->count('R') >= 3; });

        w->ui->pushButton_Read->click();

        QTRY_VERIFY_WITH_TIMEOUT(pull.pulled(), 10000);
        QVERIFY(h.settle());
        QVERIFY(beat.beats() > 0);
        VerifyOneWarning(boxes, h.simPath());
        VerifyDisconnected(w);
        QVERIFY(WindowAnswers());
        VerifyReconnect(h);
    }

    void duringMonitoring() {
        MwHarness h;
        QVERIFY2(h.start(), qPrintable(h.error()));
        MainWindow* w = h.window();
        h.window()->session()->setMonitoredChannels(0x00FF);
        w->ui->pushButton_Sense->setChecked(true);
        w->ui->pushButton_Dlg->click();  // the monitoring dialog takes updates too
        QTRY_VERIFY_WITH_TIMEOUT(h.sim()->selectionEverWritten(2), 8000);
        MessageBoxCatcher boxes;

        h.sim()->hangup();

        VerifyOneWarning(boxes, h.simPath());
        VerifyDisconnected(w);
        QVERIFY(WindowAnswers());
        VerifyReconnect(h);
    }

    void duringAutomaticSensitivity() {
        MwHarness h;
        QVERIFY2(h.start(), qPrintable(h.error()));
        MainWindow* w = h.window();
        const uint16_t maskBefore = 0x00F0;
        h.window()->session()->setMonitoredChannels(maskBefore);
        w->channelIndicators[0]->ui->pushButton_Sensitivity->click();
        QPointer<SensitivityDialog> dlg = w->channelIndicators[0]->findChild<SensitivityDialog*>();
        QVERIFY(dlg);
        QTRY_COMPARE_WITH_TIMEOUT(dlg->state(), int(SensitivityDialog::STA_SAMPLE), 5000);
        QTRY_VERIFY_WITH_TIMEOUT(dlg->ownsRun(), 5000);
        MessageBoxCatcher boxes;

        h.sim()->hangup();

        VerifyOneWarning(boxes, h.simPath());
        // The engineer gives up on the run and presses Cancel until the dialog
        // goes (a press in the tick that ends the sampling window is dropped
        // by design, and the dialog then asks whether to retry). The buttons
        // must still take the press although the key group has been disabled.
        QTimer cancel;
        QObject::connect(&cancel, &QTimer::timeout, [&dlg] {
            if (dlg && dlg->ui->pushButton_Cancel->isVisible()) dlg->ui->pushButton_Cancel->click();
        });
        cancel.start(150);
        QTRY_VERIFY_WITH_TIMEOUT(dlg.isNull() || !dlg->isVisible(), 15000);
        cancel.stop();
        QCOMPARE(h.window()->session()->monitoredChannels(), maskBefore);
        VerifyDisconnected(w);
        QVERIFY(WindowAnswers());
        VerifyReconnect(h);
    }

    void duringRegisterFileLoad() {
        MwHarness h;
        QVERIFY2(h.start(), qPrintable(h.error()));
        MainWindow* w = h.window();
        QByteArray file;
        for (int a = 0; a < 0x80; ++a) file += QString::asprintf("w%02X%02X\n", a, (a * 7) & 0xFF).toLatin1();
        QVERIFY(h.writeFile(QStringLiteral("many.sf"), file));
        h.sim()->setPacing(true);
        h.sim()->clearLog();
        MessageBoxCatcher boxes;
        Heartbeat beat;
        FileDialogAnswerer answer(h.filePath(QStringLiteral("many.sf")));
        PullWhen pull(h.sim(), [&] { return h.sim()->log()->count('W') >= 5; });

        w->ui->pushButton_Load->click();

        QTRY_VERIFY_WITH_TIMEOUT(pull.pulled(), 10000);
        QVERIFY(h.settle());
        QVERIFY(beat.beats() > 0);
        // The writes after the pull were not acknowledged; Load says so.
        QVERIFY2(w->ui->statusBar->currentMessage().contains(QStringLiteral("not acknowledged")),
                 qPrintable(w->ui->statusBar->currentMessage()));
        QVERIFY(h.sim()->log()->count('W') < 0x80);
        VerifyOneWarning(boxes, h.simPath());
        VerifyDisconnected(w);
        QVERIFY(WindowAnswers());
        VerifyReconnect(h);
    }

    void duringI2CSearch() {
        MwHarness h;
        QVERIFY2(h.start(), qPrintable(h.error()));
        MainWindow* w = h.window();
        // Every probe then waits out its time-out.
        h.sim()->setSilent(true);
        h.sim()->clearLog();
        MessageBoxCatcher boxes;
        Heartbeat beat;
        PullWhen pull(h.sim(), [&] { return h.payloads('R').contains("B20001"); });

        w->ui->pushButton_Setting_SearchI2C->click();

        QTRY_VERIFY_WITH_TIMEOUT(pull.pulled(), 10000);
        QVERIFY(h.settle());
        QVERIFY(beat.beats() > 0);
        // No candidate answered: the address and the field are as they were.
        QCOMPARE(w->session()->i2cAddress(), 0xB0);
        QCOMPARE(w->ui->lineEdit_I2C_ADDR->text(), QStringLiteral("B0"));
        VerifyOneWarning(boxes, h.simPath());
        VerifyDisconnected(w);
        QVERIFY(WindowAnswers());
        VerifyReconnect(h);
    }
};

QTEST_MAIN(tst_BoardPulled)
#include "tst_board_pulled.moc"
