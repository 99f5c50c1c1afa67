#include <qcustomplot.h>

#include <QAction>
#include <QClipboard>
#include <QGuiApplication>
#include <QImage>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QtTest>

#include "app/config.h"
#include "app/limits.h"
#include "data/RegisterImage.h"
#include "data/SampleStream.h"
#include "data/SpanStats.h"
#include "mainwindow/MainWindow.h"
#include "platform/ini.h"
#include "sim/SimPtyHost.h"
#include "support/mw_harness.h"
#include "tuning/SnrMath.h"
#include "ui_ChannelIndicator.h"
#include "ui_MainWindow.h"
#include "ui_RegisterCell.h"
#include "ui_SbfColumn.h"
#include "views/MonitoringDialog.h"
#include "views/RegisterCell.h"
#include "views/SbfColumn.h"
#include "views/SignalsWindow.h"
#include "views/TouchShading.h"
#include "views/TraceRaster.h"
#include "workers/BoardSession.h"
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

    // The runs of drawn points between line breaks, as their key ranges.
    static QVector<QPair<double, double>> Pieces(const QCPGraph* g) {
        QVector<QPair<double, double>> pieces;
        bool open = false;
        for (auto it = g->data()->constBegin(); it != g->data()->constEnd(); ++it) {
            if (std::isnan(it->value)) {
                open = false;
                continue;
            }
            if (!open) pieces.append({it->key, it->key});
            open = true;
            pieces.last().second = it->key;
        }
        return pieces;
    }

    static MonitorSample At(int ch, qint64 tMs, int diff) {
        MonitorSample s;
        s.channel = ch;
        s.tMs = tMs;
        s.sbfCount = 2;
        for (int k = 0; k < 2; ++k) {
            s.diff[k] = diff + k;
            s.ref[k] = 9000;
            s.sense[k] = uint16_t(9000 + diff + k);
        }
        return s;
    }

    // A window of its own on a replayed stream, in a working folder of its
    // own (the window keeps its place in config.ini).
    struct Standalone {
        QTemporaryDir dir;
        QString oldCwd = QDir::currentPath();
        SampleStream stream;
        RegisterImage image;
        std::unique_ptr<SignalsWindow> window;
        Standalone() {
            QDir::setCurrent(dir.path());
            stream.restart(SampleStream::Source::Replay);
            BoardConfig config;
            config.workDir = dir.path();
            config.device = QStringLiteral("TK2C");
            config.channels = 4;
            config.sbfs = 2;
            window.reset(new SignalsWindow(&stream, &image, config));
            window->resize(1000, 760);
        }
        ~Standalone() {
            window.reset();
            QDir::setCurrent(oldCwd);
        }
        // Shows it and waits for a redraw of what is in the history now.
        bool drawn() {
            if (!window->isVisible()) window->show();
            const quint64 before = window->redrawCount();
            window->follow();
            return window->redrawCount() > before;
        }
        // The statistics row of a channel and SBF (1-based, as shown).
        QStringList row(int sin, int sbf) const {
            for (const QString& line : window->statisticsText().split('\n'))
                if (line.startsWith(QStringLiteral("SIN %1\t%2\t").arg(sin).arg(sbf))) return line.split('\t');
            return {};
        }
    };

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
        QTRY_VERIFY2_WITH_TIMEOUT(channels.size() == 8 && checked >= 16, qPrintable(h.describe()), kWaitMs);
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
        const TouchShading* shading = sw->diffPlot()->findChild<TouchShading*>();
        QVERIFY(shading && !shading->intervals(2).isEmpty());
        QVERIFY(shading->intervals(3).isEmpty());

        // Paused, the graphs stand still while the history grows; resumed,
        // they catch up.
        sw->setPaused(true);
        QTest::qWait(2 * SignalsWindow::kRedrawIntervalMs);
        const int frozen = diff->data()->size();
        const quint64 before = hist.appended(2);
        QTRY_VERIFY2_WITH_TIMEOUT(hist.appended(2) > before + 1, qPrintable(h.describe()), kWaitMs);
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
        const int reg = ChipFamily_SensitivityRegister(w->session()->family(), 4);
        QVERIFY(h.window()->registerCell(reg));
        QCPGraph* line = Graph(sw->diffPlot(), QStringLiteral("SIN5 threshold"));
        QVERIFY(line);
        QTRY_COMPARE_WITH_TIMEOUT(line->data()->at(0)->value, double(h.window()->registerImage()->value(reg)), kWaitMs);

        for (int value : {0x2A, 0x07}) {
            QLineEdit* edit = h.window()->registerCell(reg)->ui->lineEdit_data;
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
        QTRY_VERIFY2_WITH_TIMEOUT(hist.size(0) >= 1, qPrintable(h.describe()), kWaitMs);
        const qint64 beforeMs = hist.latest(0)->tMs;

        MessageBoxCatcher boxes;
        h.sim()->hangup();
        QTRY_VERIFY_WITH_TIMEOUT(!h.window()->link()->isLive(), 5000);
        QTRY_COMPARE_WITH_TIMEOUT(boxes.count(), 1, 5000);
        QVERIFY(sw && sw->isVisible());
        QVERIFY(hist.size(0) >= 1);

        SimPtyHost board("TK2C", 8, 4);
        std::string why;
        QVERIFY2(board.start(std::string(), &why), why.c_str());
        const QString path = QString::fromStdString(board.slavePath());
        w->setCommandLinePorts({path});
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
        QTRY_VERIFY2_WITH_TIMEOUT(w->sampleStream()->history().size(1) >= 1, qPrintable(h.describe()), kWaitMs);

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

    // On the real board: a channel narrowed away for a while shorter than a
    // gap, and back, draws as two lines, not one joined across the pause.
    void narrowedAwayAndBack_twoLines() {
        MwHarness h;
        QVERIFY2(h.start(), qPrintable(h.error()));
        MainWindow* w = h.window();
        SignalsWindow* sw = Open(w);
        StartSensing(w);
        const SampleHistory& hist = w->sampleStream()->history();
        QTRY_VERIFY2_WITH_TIMEOUT(hist.size(2) >= 2, qPrintable(h.describe()), kWaitMs);
        const uint16_t all = h.window()->session()->monitoredChannels();
        h.window()->session()->setMonitoredChannels(0x0001);
        const quint64 atNarrowing = hist.appended(2);
        QTRY_VERIFY_WITH_TIMEOUT(w->sampleStream()->monitoredChannels() == 0x0001, kWaitMs);
        QTest::qWait(2000);  // a pause, not a gap: other channels are read meanwhile
        QVERIFY(hist.appended(2) <= atNarrowing + 1);
        h.window()->session()->setMonitoredChannels(all);
        QTRY_VERIFY2_WITH_TIMEOUT(hist.appended(2) >= atNarrowing + 3, qPrintable(h.describe()), kWaitMs);

        QCPGraph* diff = Graph(sw->diffPlot(), QStringLiteral("SIN3 SBF1 diff"));
        QVERIFY(diff);
        QTRY_COMPARE_WITH_TIMEOUT((diff->data()->constEnd() - 1)->key, hist.latest(2)->tMs / 1000.0, kWaitMs);
        const auto pieces = Pieces(diff);
        QCOMPARE(pieces.size(), 2);
        QVERIFY(pieces[1].first - pieces[0].second >= 1.5);
    }

    // Pieces from the history reach the graph; a replay's jump breaks it too,
    // and a jump back does not draw the line backwards.
    void piecesAndJumpsInTheGraph() {
        Standalone s;
        s.stream.setMonitoredChannels(0x3);
        for (qint64 t = 0; t < 3000; t += 500) s.stream.publish(At(1, t, 5));
        s.stream.setMonitoredChannels(0x1);
        for (qint64 t = 3000; t < 8000; t += 100) s.stream.publish(At(0, t, 1));
        s.stream.setMonitoredChannels(0x3);
        for (qint64 t = 8000; t < 10000; t += 500) s.stream.publish(At(1, t, 5));
        QVERIFY(s.drawn());
        QCPGraph* diff = Graph(s.window->diffPlot(), QStringLiteral("SIN2 SBF1 diff"));
        QVERIFY(diff);
        auto pieces = Pieces(diff);
        QCOMPARE(pieces.size(), 2);
        QCOMPARE(pieces[0].second, 2.5);
        QCOMPARE(pieces[1].first, 8.0);
        QCOMPARE(Pieces(Graph(s.window->diffPlot(), QStringLiteral("SIN1 SBF1 diff"))).size(), 1);

        // Drawn on as it arrives (appended, not filled afresh), then a jump back.
        for (qint64 t = 10000; t < 12000; t += 500) s.stream.publish(At(1, t, 5));
        QTRY_COMPARE_WITH_TIMEOUT((diff->data()->constEnd() - 1)->key, 11.5, kWaitMs);
        s.stream.jumpTo(4000);
        for (qint64 t = 4000; t < 6000; t += 500) s.stream.publish(At(1, t, 5));
        QTRY_COMPARE_WITH_TIMEOUT(diff->data()->size(), 18 + 2, kWaitMs);  // points and two breaks
        pieces = Pieces(diff);
        QCOMPARE(pieces.size(), 3);
        QVERIFY(pieces[2].first >= pieces[1].second);
        double last = -1;
        for (auto it = diff->data()->constBegin(); it != diff->data()->constEnd(); ++it) {
            QVERIFY(it->key >= last);
            last = it->key;
        }
    }

    // Markers while the samples in view are few; none, and the lines thinned
    // to the pixels, once they are many.
    void markersWhenSparse_thinnedWhenDense() {
        Standalone s;
        s.window->setChannelChosen(1, false);
        s.window->setChannelChosen(2, false);
        s.window->setChannelChosen(3, false);
        s.window->setSbfChoice(0);
        for (qint64 t = 0; t < 20000; t += 1000) s.stream.publish(At(0, t, int(t % 7)));
        QVERIFY(s.drawn());
        QCPGraph* diff = Graph(s.window->diffPlot(), QStringLiteral("SIN1 SBF1 diff"));
        QCPGraph* sense = Graph(s.window->countsPlot(), QStringLiteral("SIN1 SBF1 sense"));
        QCOMPARE(diff->scatterStyle().shape(), QCPScatterStyle::ssDisc);
        QCOMPARE(sense->scatterStyle().shape(), QCPScatterStyle::ssDisc);
        QCOMPARE(diff->data()->size(), 20);

        for (qint64 t = 20000; t < 30000; t += 2) s.stream.publish(At(0, t, int(t % 97)));
        QVERIFY(s.drawn());
        QCOMPARE(diff->scatterStyle().shape(), QCPScatterStyle::ssNone);
        const int pixels = s.window->diffPlot()->axisRect()->width();
        QVERIFY2(diff->data()->size() <= 2 * pixels + 4, qPrintable(QString::number(diff->data()->size())));
        QCOMPARE(s.window->diffPlot()->yAxis->range().upper > 96, true);  // the spikes survived
    }

    // Drawing on as samples come (the newest column thinned again each time,
    // what scrolled out dropped) ends with what filling afresh draws.
    void appendingDrawsWhatFillingDraws() {
        Standalone s;
        for (int c = 1; c < 4; ++c) s.window->setChannelChosen(c, false);
        s.window->setSbfChoice(0);
        s.window->setSpanSeconds(10);
        s.stream.setMonitoredChannels(0x1);
        qint64 t = 0;
        auto feed = [&](int ms) {
            for (const qint64 end = t + ms; t < end; t += 2) s.stream.publish(At(0, t, int((t * 7919) % 101) - 50));
        };
        feed(12000);
        QVERIFY(s.drawn());
        for (int round = 0; round < 12; ++round) {
            feed(317);
            if (round == 5) {  // monitoring off and on again
                s.stream.setMonitoredChannels(0);
                s.stream.setMonitoredChannels(0x1);
            }
            const quint64 before = s.window->redrawCount();
            QTRY_VERIFY_WITH_TIMEOUT(s.window->redrawCount() > before, kWaitMs);
        }
        QCPGraph* diff = Graph(s.window->diffPlot(), QStringLiteral("SIN1 SBF1 diff"));
        QCOMPARE(diff->scatterStyle().shape(), QCPScatterStyle::ssNone);
        const double from = s.window->diffPlot()->xAxis->range().lower + 0.05;
        auto points = [&] {
            QStringList out;
            for (auto it = diff->data()->findBegin(from, false); it != diff->data()->constEnd(); ++it)
                out << QStringLiteral("%1:%2").arg(it->key).arg(it->value);
            return out;
        };
        const QStringList appended = points();
        QVERIFY(appended.size() > 100);
        QVERIFY(appended.join(' ').contains(QStringLiteral("nan")));
        QVERIFY(s.drawn());
        QCOMPARE(appended, points());
    }

    // The lines kept between replots, moved and drawn on as samples come
    // (with a break and a touch among them), end as the same pixels as
    // lines drawn afresh; the two time plots keep their pixel columns in line.
    void keptLinesDrawWhatAFreshDrawDraws() {
        Standalone s;
        s.window->setSbfChoice(-1);
        s.window->setSpanSeconds(10);
        s.stream.setMonitoredChannels(0xf);
        qint64 t = 0;
        auto feed = [&](int ms) {
            for (const qint64 end = t + ms; t < end; t += 2) {
                const int ch = int(t / 2 % 4);
                s.stream.publish(At(ch, t, int((t * 7919 + ch * 31) % 101) - 50));
            }
        };
        feed(12000);
        QVERIFY(s.drawn());
        QCustomPlot* plots[] = {s.window->diffPlot(), s.window->countsPlot()};
        QCOMPARE(plots[0]->axisRect()->left(), plots[1]->axisRect()->left());
        QCOMPARE(plots[0]->axisRect()->width(), plots[1]->axisRect()->width());
        quint64 partial[2];
        for (int i = 0; i < 2; ++i) {
            plots[i]->replot();
            partial[i] = plots[i]->findChild<TraceRaster*>()->partialDraws();
        }
        for (int round = 0; round < 10; ++round) {
            feed(round == 4 ? 9 : 263);
            if (round == 3) s.stream.publishTouch({t, t, 0x2});
            if (round == 6) {  // monitoring off and on again: a break
                s.stream.setMonitoredChannels(0);
                s.stream.setMonitoredChannels(0xf);
                s.stream.publishTouch({t, t, 0x0});
            }
            const quint64 before = s.window->redrawCount();
            QTRY_VERIFY_WITH_TIMEOUT(s.window->redrawCount() > before, kWaitMs);
            for (QCustomPlot* plot : plots) plot->replot();
        }
        for (int i = 0; i < 2; ++i) {
            TraceRaster* lines = plots[i]->findChild<TraceRaster*>();
            QVERIFY(lines->partialDraws() >= partial[i] + 8);
            const QImage kept = plots[i]->toPixmap().toImage();
            lines->invalidate();
            const QImage fresh = plots[i]->toPixmap().toImage();
            QCOMPARE(kept.size(), fresh.size());
            int differ = 0;
            for (int y = 0; y < kept.height(); ++y)
                for (int x = 0; x < kept.width(); ++x) differ += kept.pixel(x, y) != fresh.pixel(x, y);
            QVERIFY2(differ == 0, qPrintable(QStringLiteral("%1 pixels differ").arg(differ)));
        }
    }

    // The strip's figures are the SNR test's arithmetic on the samples in
    // view, split by the channel's own touches.
    void statisticsAreTheSnrArithmetic() {
        Standalone s;
        s.window->setSbfChoice(-1);
        s.window->setSpanSeconds(30);
        QVector<int32_t> untouched, touched;
        for (qint64 t = 0; t < 20000; t += 250) {
            const bool held = t >= 8000 && t < 12000;
            if (t == 8000) s.stream.publishTouch({t, t, 0x4});
            if (t == 12000) s.stream.publishTouch({t, t, 0x0});
            const int diff = held ? 40 + int(t / 250 % 5) : int((t / 250 * 7) % 5) - 2;
            s.stream.publish(At(2, t, diff));
            // SBF 2 carries diff + 1; samples next to the touch count in neither.
            const bool near = (t >= 8000 - SpanStats::kTouchGuardMs && t < 8000 + SpanStats::kTouchGuardMs) ||
                              (t >= 12000 && t < 12000 + SpanStats::kTouchGuardMs);
            if (!near) (held ? touched : untouched).append(diff + 1);
        }
        s.stream.publish(At(3, 500, 3));
        s.image.store(ChipFamily_SensitivityRegister(0, 2), 0x21);
        QVERIFY(s.drawn());
        const SnrResult want = Snr_Evaluate(2, 1, untouched, touched, kSnrDefaultMin, 1.0f, 0x21);
        const QStringList row = s.row(3, 2);
        QCOMPARE(row.size(), 9);
        QCOMPARE(row[2].toInt(), 80);
        QCOMPARE(untouched.size() + touched.size(), 77);
        QCOMPARE(row[3], Snr_FormatNumber(want.meanUntouched));
        QCOMPARE(row[4], Snr_FormatNumber(want.noisePeakToPeak));
        QCOMPARE(row[5], Snr_FormatNumber(want.noiseRms));
        QCOMPARE(row[6], Snr_FormatNumber(want.meanTouched));
        QCOMPARE(row[7], Snr_FormatNumber(want.snr));
        QCOMPARE(row[8], QStringLiteral("33"));
        // Without touches in view: no touched mean, no SNR.
        const QStringList quiet = s.row(4, 1);
        QCOMPARE(quiet.size(), 9);
        QCOMPARE(quiet[2], QStringLiteral("1"));
        QCOMPARE(quiet[4], QStringLiteral("0"));
        QVERIFY(quiet[6].isEmpty() && quiet[7].isEmpty());

        s.window->findChild<QPushButton*>(QStringLiteral("pushButton_CopyStats"))->click();
        QCOMPARE(QGuiApplication::clipboard()->text(), s.window->statisticsText());
        QVERIFY(s.window->statisticsText().startsWith(QStringLiteral("channel\tSBF\tsamples\t")));
    }

    // The strip covers what is in view: the span, a zoom, and a paused view
    // that stays as it was while samples keep coming.
    void statisticsFollowTheView() {
        Standalone s;
        s.window->setSbfChoice(0);
        for (qint64 t = 0; t <= 60000; t += 1000) s.stream.publish(At(0, t, 1));
        s.window->setSpanSeconds(10);
        QVERIFY(s.drawn());
        QCOMPARE(s.row(1, 1).value(2), QStringLiteral("11"));  // 50..60 s, ends included
        s.window->setSpanSeconds(30);
        QVERIFY(s.drawn());
        QCOMPARE(s.row(1, 1).value(2), QStringLiteral("31"));

        s.window->setPaused(true);
        for (qint64 t = 61000; t <= 65000; t += 1000) s.stream.publish(At(0, t, 1));
        QTest::qWait(3 * SignalsWindow::kRedrawIntervalMs);
        QCOMPARE(s.row(1, 1).value(2), QStringLiteral("31"));
        s.window->setPaused(false);
        QTRY_COMPARE_WITH_TIMEOUT(s.row(1, 1).value(2), QStringLiteral("31"), kWaitMs);  // 35..65 s
        QTRY_COMPARE_WITH_TIMEOUT(
            (Graph(s.window->diffPlot(), QStringLiteral("SIN1 SBF1 diff"))->data()->constEnd() - 1)->key, 65.0,
            kWaitMs);

        // Zoomed in by hand to 20..24.5 s.
        QCustomPlot* plot = s.window->diffPlot();
        QWheelEvent wheel(QPointF(plot->axisRect()->center()), plot->mapToGlobal(plot->axisRect()->center()), QPoint(),
                          QPoint(0, 120), Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase, false);
        QCoreApplication::sendEvent(plot, &wheel);
        plot->xAxis->setRange(20.0, 24.5);
        QTRY_COMPARE_WITH_TIMEOUT(s.row(1, 1).value(2), QStringLiteral("5"), kWaitMs);
        QVERIFY(!s.window->isFollowing());
    }

    // Pointing into a shaded interval names its channel, start and length.
    void hoverNamesTheTouch() {
        Standalone s;
        s.stream.publishTouch({3000, 3000, 0x2});
        s.stream.publishTouch({4500, 4500, 0x0});
        for (qint64 t = 0; t <= 10000; t += 500) s.stream.publish(At(1, t, t >= 3000 && t < 4500 ? 50 : 0));
        s.window->setSpanSeconds(10);
        QVERIFY(s.drawn());
        QCustomPlot* plot = s.window->diffPlot();
        plot->replot();
        auto hover = [&](double x) {
            const QPoint pos(int(plot->xAxis->coordToPixel(x)), plot->axisRect()->top() + 5);
            QTest::mouseMove(plot, pos);
            return s.window->findChild<QLabel*>(QStringLiteral("label_Hover"))->text();
        };
        QTRY_VERIFY_WITH_TIMEOUT(hover(3.8).contains(QStringLiteral("SIN 2 touched from 3.00 s for 1.50 s")), kWaitMs);
        QVERIFY(!hover(6.0).contains(QStringLiteral("touched")));
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
