#include <qcustomplot.h>

#include <QAction>
#include <QImage>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QtTest>

#include "app/config.h"
#include "app/globals.h"
#include "data/SampleStream.h"
#include "mainwindow/MainWindow.h"
#include "platform/ini.h"
#include "sim/SimPtyHost.h"
#include "support/mw_harness.h"
#include "ui_ChannelIndicator.h"
#include "ui_MainWindow.h"
#include "ui_RegisterCell.h"
#include "ui_SbfColumn.h"
#include "views/MonitoringDialog.h"
#include "views/RegisterCell.h"
#include "views/SbfColumn.h"
#include "views/SignalsWindow.h"
#include "workers/ChipFamily.h"

// The Signals window against the simulated board: what the stream carries is
// what the monitoring dialog shows, the graphs follow it and the threshold
// follows the register, and the window outlives a pulled board and goes
// quietly with the tool.
class tst_SignalsWindow : public QObject {
    Q_OBJECT

    static constexpr int kWaitMs = 15000;

    static QCPGraph* Graph(QCustomPlot* plot, const QString& name) {
        for (int i = 0; i < plot->graphCount(); ++i)
            if (plot->graph(i)->name() == name) return plot->graph(i);
        return nullptr;
    }

    static SignalsWindow* Open(MainWindow* w) {
        w->ui->actionSignals->trigger();
        return w->signalsWindow();
    }

    static void StartSensing(MainWindow* w) {
        if (!w->ui->pushButton_Sense->isChecked()) w->ui->pushButton_Sense->click();
    }

private slots:
    // Every sample on the stream shows in the dialog with the same values at
    // the moment it is announced, and the newest one ends up in the graphs.
    void streamMatchesDialog_andGraphsFollow() {
        MwHarness h;
        QVERIFY2(h.start(), qPrintable(h.error()));
        MainWindow* w = h.window();
        w->ui->pushButton_Dlg->click();
        SignalsWindow* sw = Open(w);
        QVERIFY(sw && sw->isVisible());
        QCOMPARE(sw->windowTitle(), QStringLiteral("Signals - TK2C"));
        sw->setSbfChoice(-1);
        QVERIFY(h.sim()->touch(2));

        int checked = 0;
        QStringList mismatches;
        QSet<int> channels;
        auto conn = connect(w->sampleStream(), &SampleStream::sampleAdded, this, [&](const MonitorSample& s) {
            QCOMPARE(s.sbfCount, 4);
            for (int k = 0; k < s.sbfCount; ++k) {
                const SbfColumn* col = w->monitoringDialog()->column(k, s.channel);
                const QString want =
                    QStringLiteral("%1/%2/%3/%4").arg(s.ref[k]).arg(s.sense[k]).arg(s.diff[k]).arg(s.offset[k]);
                const QString shown = col->ui->label_RIN_CNT->text() + '/' + col->ui->label_SIN_CNT->text() + '/' +
                                      col->ui->label_DIFF_PER->text() + '/' + col->ui->label_OFFSET_PER->text();
                if (want != shown)
                    mismatches
                        << QStringLiteral("SIN%1 SBF%2: %3 vs %4").arg(s.channel + 1).arg(k + 1).arg(want, shown);
            }
            channels.insert(s.channel);
            ++checked;
        });
        StartSensing(w);
        QTRY_VERIFY_WITH_TIMEOUT(channels.size() == 8 && checked >= 16, kWaitMs);
        disconnect(conn);
        QVERIFY2(mismatches.isEmpty(), qPrintable(mismatches.join('\n')));

        // The held key's diff is in the graph, and its interval is shaded.
        QCPGraph* diff = Graph(sw->diffPlot(), QStringLiteral("SIN3 SBF4 diff"));
        QVERIFY(diff);
        QVERIFY(Graph(sw->countsPlot(), QStringLiteral("SIN8 SBF1 ref")));
        QVERIFY(Graph(sw->countsPlot(), QStringLiteral("SIN8 SBF1 sense")));
        const SampleHistory& hist = w->sampleStream()->history();
        QTRY_VERIFY_WITH_TIMEOUT(!diff->data()->isEmpty() &&
                                     (diff->data()->constEnd() - 1)->value == hist.latest(2)->diff[3] &&
                                     hist.latest(2)->diff[3] == SimChip::kDefaultLevel,
                                 kWaitMs);
        QCPGraph* shade = Graph(sw->diffPlot(), QStringLiteral("SIN3 touch"));
        QVERIFY(shade && shade->data()->size() > 2);

        // Paused, the graphs stand still while the history grows; resumed,
        // they catch up.
        sw->setPaused(true);
        QTest::qWait(2 * SignalsWindow::kRedrawIntervalMs);
        const int frozen = diff->data()->size();
        const quint64 before = hist.appended(2);
        QTRY_VERIFY_WITH_TIMEOUT(hist.appended(2) > before + 1, kWaitMs);
        QCOMPARE(diff->data()->size(), frozen);
        sw->setPaused(false);
        QTRY_VERIFY_WITH_TIMEOUT(diff->data()->size() > frozen, kWaitMs);

        // Unchosen channels have no graphs.
        sw->setChannelChosen(2, false);
        QVERIFY(!Graph(sw->diffPlot(), QStringLiteral("SIN3 SBF4 diff")));
        QVERIFY(!Graph(sw->diffPlot(), QStringLiteral("SIN3 threshold")));
        QVERIFY(Graph(sw->diffPlot(), QStringLiteral("SIN4 threshold")));
    }

    // A value typed into the sensitivity register's cell moves the line.
    void thresholdFollowsRegisterWrite() {
        MwHarness h;
        QVERIFY2(h.start(), qPrintable(h.error()));
        MainWindow* w = h.window();
        SignalsWindow* sw = Open(w);
        const int reg = ChipFamily_SensitivityRegister(g_DeviceType.load(), 4);
        QVERIFY(g_RegCells[reg]);
        QCPGraph* line = Graph(sw->diffPlot(), QStringLiteral("SIN5 threshold"));
        QVERIFY(line);
        QTRY_COMPARE_WITH_TIMEOUT(line->data()->at(0)->value, double(g_RegMirror[reg].load()), kWaitMs);

        for (int value : {0x2A, 0x07}) {
            QLineEdit* edit = g_RegCells[reg]->ui->lineEdit_data;
            edit->setText(QString::asprintf("%02X", value));
            QTest::keyClick(edit, Qt::Key_Return);
            QTRY_VERIFY_WITH_TIMEOUT(h.sim()->wasWritten(uint8_t(reg), uint8_t(value)), 5000);
            QTRY_COMPARE_WITH_TIMEOUT(line->data()->at(0)->value, double(value), kWaitMs);
            QCOMPARE(line->data()->at(1)->value, double(value));
            QCOMPARE(sw->thresholdShown(4), value);
        }
    }

    // Pulled and plugged in again: the window stays, keeps what it drew,
    // and goes on after the gap.
    void survivesBoardPulledAndBack() {
        MwHarness h;
        QVERIFY2(h.start(), qPrintable(h.error()));
        MainWindow* w = h.window();
        QPointer<SignalsWindow> sw = Open(w);
        StartSensing(w);
        const SampleHistory& hist = w->sampleStream()->history();
        QTRY_VERIFY_WITH_TIMEOUT(hist.size(0) >= 1, kWaitMs);
        const qint64 beforeMs = hist.latest(0)->tMs;

        MessageBoxCatcher boxes;
        h.sim()->hangup();
        QTRY_COMPARE_WITH_TIMEOUT(g_UART_Connected.load(), 0, 5000);
        QTRY_COMPARE_WITH_TIMEOUT(boxes.count(), 1, 5000);
        QVERIFY(sw && sw->isVisible());
        QVERIFY(hist.size(0) >= 1);

        SimPtyHost board("TK2C", 8, 4);
        std::string why;
        QVERIFY2(board.start(std::string(), &why), why.c_str());
        const QString path = QString::fromStdString(board.slavePath());
        g_CmdLinePorts = QStringList{path};
        h.choosePort(path);
        QVERIFY(h.waitForChip(8000));
        StartSensing(w);
        const quint64 seen = hist.appended(0);
        QTRY_VERIFY_WITH_TIMEOUT(hist.appended(0) > seen, kWaitMs);
        QVERIFY(hist.latest(0)->tMs > beforeMs);
        QVERIFY(hist.at(0, 0).tMs <= beforeMs);
        const quint64 redraws = sw->redrawCount();
        QTRY_VERIFY_WITH_TIMEOUT(sw->redrawCount() > redraws, kWaitMs);
        h.choosePort(QStringLiteral("NONE"));
        board.stop();
    }

    // Closing the tool with the window open ends both and remembers where
    // the window was; reopened, it draws the history it had.
    void closesWithTheTool_keepsGeometryAndHistory() {
        MwHarness h;
        QVERIFY2(h.start(), qPrintable(h.error()));
        MainWindow* w = h.window();
        QPointer<SignalsWindow> sw = Open(w);
        sw->setGeometry(120, 80, 900, 700);
        StartSensing(w);
        QTRY_VERIFY_WITH_TIMEOUT(w->sampleStream()->history().size(1) >= 1, kWaitMs);

        sw->close();
        QVERIFY(!Ini_GetString(h.filePath("config.ini"), "PLOT", "SIGNALS_GEOMETRY", QString()).isEmpty());
        const quint64 redraws = sw->redrawCount();
        QTest::qWait(3 * SignalsWindow::kRedrawIntervalMs);
        QCOMPARE(sw->redrawCount(), redraws);  // hidden: nothing drawn
        QCOMPARE(Open(w), sw.data());
        QCPGraph* diff = Graph(sw->diffPlot(), QStringLiteral("SIN2 SBF1 diff"));
        QVERIFY(diff && !diff->data()->isEmpty());

        QVERIFY(w->close());
        QVERIFY(!sw->isVisible());
        h.tearDown();
        QVERIFY(sw.isNull());
    }

    void saveImage() {
        MwHarness h;
        QVERIFY2(h.start(), qPrintable(h.error()));
        SignalsWindow* sw = Open(h.window());
        QString error;
        QVERIFY2(sw->saveImage(h.filePath("graphs.png"), &error), qPrintable(error));
        QImage image(h.filePath("graphs.png"));
        QVERIFY(!image.isNull() && image.width() > 100);
        QVERIFY(!sw->saveImage(h.filePath("no/such/folder/graphs.png"), &error));
        QVERIFY2(error.contains("no/such/folder"), qPrintable(error));
    }
};

QTEST_MAIN(tst_SignalsWindow)
#include "tst_signals_window.moc"
