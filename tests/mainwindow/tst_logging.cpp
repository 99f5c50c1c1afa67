// Logging and replay in the main window against the simulated board: what
// the log holds is what the monitoring dialog showed, and replaying it puts
// the same values back into the dialog and the lamps.
#include <QApplication>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QtTest>

#include "app/limits.h"
#include "data/LogPlayer.h"
#include "data/LogReader.h"
#include "data/LogRecorder.h"
#include "data/SampleStream.h"
#include "mainwindow/MainWindow.h"
#include "sim/SimPtyHost.h"
#include "support/mw_harness.h"
#include "ui_ChannelIndicator.h"
#include "ui_MainWindow.h"
#include "ui_ReplayBar.h"
#include "ui_SbfColumn.h"
#include "views/ChannelIndicator.h"
#include "views/MonitoringDialog.h"
#include "views/ReplayBar.h"
#include "views/SbfColumn.h"
#include "workers/BoardSession.h"

namespace {

// Answers the next file dialog from a timer with a typed path (cancels for an
// empty one) and notes what it proposed.
class FileDialogDriver : public QObject {
public:
    explicit FileDialogDriver(const QString& answer) : m_answer(answer) {
        connect(&m_timer, &QTimer::timeout, this, [this] {
            auto* dlg = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
            if (dlg == nullptr || !dlg->isVisible()) return;
            m_timer.stop();
            const QStringList selected = dlg->selectedFiles();
            proposed = selected.isEmpty() ? QString() : selected.first();
            filters = dlg->nameFilters();
            auto* edit = dlg->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
            if (m_answer.isEmpty() || edit == nullptr) {
                dlg->reject();
                return;
            }
            edit->setText(m_answer);
            static_cast<QDialog*>(dlg)->accept();
        });
        m_timer.start(20);
    }
    QString proposed;
    QStringList filters;

private:
    QTimer m_timer;
    QString m_answer;
};

// "channel,sbf,ref,sense,diff,offset" as a dialog column or a log row shows it.
QString RowText(int ch, int sbf, const QString& ref, const QString& sense, const QString& diff, const QString& off) {
    return QStringLiteral("%1,%2,%3,%4,%5,%6").arg(ch).arg(sbf).arg(ref, sense, diff, off);
}

QString ColumnText(MonitoringDialog* d, int ch, int sbf) {
    const SbfColumn* c = d->column(sbf, ch);
    return c ? RowText(ch, sbf, c->ui->label_RIN_CNT->text(), c->ui->label_SIN_CNT->text(),
                       c->ui->label_DIFF_PER->text(), c->ui->label_OFFSET_PER->text())
             : QString();
}

QString SampleText(const MonitorSample& s, int sbf) {
    return RowText(s.channel, sbf, QString::number(s.ref[sbf]), QString::number(s.sense[sbf]),
                   QString::number(s.diff[sbf]), QString::number(s.offset[sbf]));
}

}  // namespace

class tst_logging : public QObject {
    Q_OBJECT
private slots:
    void logFromTheBoard_holdsWhatTheDialogShowed_andReplaysIntoIt() {
        MwHarness h;
        QVERIFY2(h.start(), qPrintable(h.error()));
        MainWindow* w = h.window();
        w->ui->pushButton_Dlg->click();
        const QString path = h.filePath(QStringLiteral("run.csv"));

        {
            FileDialogDriver dlg(path);
            w->ui->actionLogging->trigger();
            QVERIFY(QFileInfo(dlg.proposed).fileName().startsWith(QStringLiteral("tkeval-")));
            QCOMPARE(QFileInfo(dlg.proposed).absolutePath(), QFileInfo(h.dir()).canonicalFilePath());
            QCOMPARE(dlg.filters, QStringList{QStringLiteral("logs (*.csv)")});
        }
        QVERIFY(w->logRecorder()->isRecording());
        QCOMPARE(w->ui->actionLogging->text(), QStringLiteral("Stop logging"));

        // What the dialog shows right after each publication reached it.
        QStringList shown;
        connect(w->sampleStream(), &SampleStream::sampleAdded, w, [&](const MonitorSample& s) {
            for (int k = 0; k < s.sbfCount; ++k) shown << ColumnText(w->monitoringDialog(), s.channel, k);
        });
        w->ui->pushButton_Sense->click();
        QTRY_VERIFY2_WITH_TIMEOUT(shown.size() >= 4 * 8,
                                  qPrintable(QStringLiteral("%1 %2 %3 %4")
                                                 .arg(shown.size())
                                                 .arg(h.window()->session()->sensing())
                                                 .arg(w->sampleStream()->sampleCount())
                                                 .arg(w->ui->pushButton_Sense->isEnabled())),
                                  40000);
        h.sim()->touch(2);
        QTRY_COMPARE_WITH_TIMEOUT(int(w->sampleStream()->touchMask()), 0x4, 10000);
        w->logRecorder()->addMark(QStringLiteral("pressed, then \"reset\""));
        w->ui->pushButton_Sense->click();
        // Reset writes its register through the shared chip operation: both
        // writes must reach the log all the same.
        w->ui->pushButton_Reset->click();
        QVERIFY(h.settle());
        const QStringList dialogRows = shown;
        w->ui->actionLogging->trigger();
        QVERIFY(!w->logRecorder()->isRecording());
        QVERIFY(!w->ui->actionLogging->isChecked());

        LogReader r;
        QVERIFY2(r.open(path), qPrintable(r.error()));
        QCOMPARE(r.header().channels, 8);
        QCOMPARE(r.header().port, h.simPath());
        QVERIFY(r.header().firmware.startsWith('v'));
        QStringList logged;
        QStringList notes;
        int touches = 0;
        QStringList writes;
        LogRow row;
        while (r.next(&row)) {
            switch (row.kind) {
                case LogRowKind::Sample:
                    logged << RowText(row.channel, row.sbf, QString::number(row.ref), QString::number(row.sense),
                                      QString::number(row.diff), QString::number(row.offset));
                    break;
                case LogRowKind::Touch:
                    touches += row.touch == 0x4;
                    break;
                case LogRowKind::Write:
                    writes << QString::asprintf("%02X=%02X", row.reg, row.value);
                    break;
                case LogRowKind::Mark:
                    notes << row.note;
                    break;
            }
        }
        QVERIFY(r.problems().isEmpty());
        QCOMPARE(logged, dialogRows);
        QCOMPARE(touches, 1);
        QCOMPARE(writes.size(), 2);  // the reset bit set, then the register put back
        for (const QString& note : writes) QVERIFY2(note.startsWith(QStringLiteral("0B=")), qPrintable(note));
        QVERIFY(notes.contains(QStringLiteral("pressed, then \"reset\"")));
        QVERIFY(notes.contains(QStringLiteral("monitoring on")));

        // Replay: the port must go first; the engineer agrees.
        MonitorSample last[kMaxChannels];
        {
            LogReader again;
            QVERIFY(again.open(path));
            LogEvent e;
            while (again.nextEvent(&e))
                if (e.kind == LogRowKind::Sample) last[e.sample.channel] = e.sample;
        }
        w->monitoringDialog()->column(0, 0)->ui->label_SIN_CNT->setText(QStringLiteral("stale"));
        {
            MessageBoxCatcher boxes;
            boxes.setAnswer(QMessageBox::Yes);
            FileDialogDriver dlg(path);
            w->ui->actionReplay->trigger();
            QCOMPARE(boxes.count(), 1);
        }
        QVERIFY(!h.window()->link()->isLive());
        LogPlayer* player = w->logPlayer();
        QVERIFY(player);
        QVERIFY(w->windowTitle().startsWith(QStringLiteral("Replay: run.csv")));
        player->setSpeed(LogPlayer::kAsFastAsPossible);
        QTRY_VERIFY_WITH_TIMEOUT(player->atEnd(), 20000);
        for (int ch = 0; ch < 8; ++ch) {
            if (last[ch].sbfCount == 0) continue;
            for (int k = 0; k < last[ch].sbfCount; ++k)
                QCOMPARE(ColumnText(w->monitoringDialog(), ch, k), SampleText(last[ch], k));
        }
        QCOMPARE(int(w->sampleStream()->touchMask()), 0x4);
        QVERIFY(w->channelIndicators[2]->ui->label_SIN_ICON->isEnabled());  // drawn green, not greyed
        QCOMPARE(w->channelIndicators[2]->ui->label_SIN_ICON->pixmap().toImage(),
                 QPixmap(ChannelIndicator::TouchedImagePath(w->session()->family())).toImage());

        // Stopping returns to the plain disconnected window.
        auto* bar = w->findChild<ReplayBar*>();
        QVERIFY(bar);
        bar->ui->pushButton_Stop->click();
        QVERIFY(!w->logPlayer());
        QVERIFY(!w->windowTitle().startsWith(QStringLiteral("Replay")));
        QCOMPARE(w->sampleStream()->source(), SampleStream::Source::Live);
        QCOMPARE(int(w->sampleStream()->touchMask()), 0);
    }

    void replay_refusesAFileThatIsNoLog() {
        MwOptions o;
        o.startSim = false;
        o.connect = false;
        MwHarness h(o);
        QVERIFY2(h.start(), qPrintable(h.error()));
        QVERIFY(h.writeFile(QStringLiteral("regs.csv"), "w0A3F\nw0B01\n"));
        MessageBoxCatcher boxes;
        FileDialogDriver dlg(h.filePath(QStringLiteral("regs.csv")));
        h.window()->ui->actionReplay->trigger();
        QTRY_COMPARE(boxes.count(), 1);
        QVERIFY2(boxes.last().contains(QStringLiteral("regs.csv")) && boxes.last().contains(QStringLiteral("line 1")),
                 qPrintable(boxes.last()));
        QVERIFY(!h.window()->logPlayer());
    }
};

QTEST_MAIN(tst_logging)
#include "tst_logging.moc"
