#include "mainwindow/screenshot_tour.h"

#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QMenu>
#include <QPushButton>
#include <QTimer>
#include <cstdio>
#include <functional>
#include <vector>

#include "app/limits.h"
#include "app/regfile.h"
#include "autosen/SensitivityDialog.h"
#include "data/RegisterImage.h"
#include "mainwindow/MainWindow.h"
#include "tuning/SnrProcedure.h"
#include "ui_ChannelIndicator.h"
#include "ui_MainWindow.h"
#include "ui_SensitivityDialog.h"
#include "ui_SnrDialog.h"
#include "views/ChannelIndicator.h"
#include "views/MonitoringDialog.h"
#include "views/RegisterCell.h"
#include "views/SignalsWindow.h"
#include "views/SnrDialog.h"
#include "workers/BoardSession.h"

namespace {

struct TourStep {
    const char* file;                   // PNG name, without the extension
    std::function<void()> act;          // puts the window on screen
    std::function<bool()> ready;        // the picture is worth taking
    std::function<QWidget*()> subject;  // what to grab
    int settleMs;                       // after ready: let values move and paint
};

constexpr int kPollMs = 100;
constexpr int kReadyTimeoutMs = 30000;

SensitivityDialog* AutoSenDialog(MainWindow* w) {
    return w->channelIndicators[0] ? w->channelIndicators[0]->findChild<SensitivityDialog*>() : nullptr;
}

SnrDialog* TourSnrDialog(MainWindow* w) { return w->findChild<SnrDialog*>(); }

// Two keys and few samples: a short test to show under way.
void StartShortSnrTest(SnrDialog* d) {
    for (QCheckBox* box : d->ui->widget_Channels->findChildren<QCheckBox*>())
        box->setChecked(box->objectName() == QStringLiteral("checkBox_SIN1") ||
                        box->objectName() == QStringLiteral("checkBox_SIN2"));
    d->ui->spinBox_Samples->setValue(8);
    d->ui->pushButton_Start->click();
}

std::vector<TourStep> Steps(MainWindow* w) {
    const auto chipReady = [w] { return w->session()->chipPresent() && w->ui->pushButton_Read->isEnabled(); };
    const auto nothing = [] {};
    std::vector<TourStep> steps;
    steps.push_back({"main-window", nothing, chipReady, [w] { return w; }, 1500});
    steps.push_back({"register-table", [w] { w->ui->tabWidget->setCurrentWidget(w->ui->tab_reg); }, chipReady,
                     [w] { return w->ui->tabWidget; }, 300});
    steps.push_back({"monitoring",
                     [w] {
                         if (!w->ui->pushButton_Sense->isChecked()) w->ui->pushButton_Sense->click();
                     },
                     [w] { return w->session()->sensing(); }, [w] { return w; }, 3000});
    steps.push_back({"monitoring-dialog", [w] { w->ui->pushButton_Dlg->click(); },
                     [w] { return w->monitoringDialog()->isVisible(); }, [w] { return w->monitoringDialog(); }, 3000});
    steps.push_back({"sensitivity-dialog",
                     [w] {
                         w->monitoringDialog()->close();
                         if (w->channelIndicators[0]) w->channelIndicators[0]->ui->pushButton_Sensitivity->click();
                     },
                     // The proposal comes once the simulated key has been held.
                     [w] {
                         const SensitivityDialog* d = AutoSenDialog(w);
                         return d && d->state() == SensitivityDialog::STA_AWAIT_WRITE;
                     },
                     [w] { return static_cast<QWidget*>(AutoSenDialog(w)); }, 300});
    steps.push_back({"debug-view",
                     [w] {
                         if (SensitivityDialog* d = AutoSenDialog(w)) d->ui->pushButton_Cancel->click();
                         if (w->ui->tabWidget->indexOf(w->ui->tab_debug) < 0) return;
                         w->ui->checkBox_show->setChecked(true);
                         w->ui->tabWidget->setCurrentWidget(w->ui->tab_debug);
                     },
                     [w] { return w->ui->tabWidget->currentWidget() == w->ui->tab_debug; }, [w] { return w; }, 2000});
    steps.push_back({"register-compare",
                     [w] {
                         // A file that differs from the chip in three registers.
                         const QString path = QDir(w->session()->workDir()).filePath(QStringLiteral("compare.sf"));
                         QByteArray text;
                         for (int a = 0; a < 256; ++a) {
                             if (w->registerCell(a) == nullptr) continue;
                             int v = w->registerImage()->value(a);
                             if (a == 0x20 || a == 0x22 || a == 0x25) v = (v + 3) & 0xFF;
                             text += RegFile_FormatLine(a, QByteArray::number(v, 16).rightJustified(2, '0'));
                         }
                         QString why;
                         if (RegFile_Save(path, text, &why)) w->Compare_WithFile(path);
                         w->ui->tabWidget->setCurrentWidget(w->ui->tab_reg);
                     },
                     [w] { return w->ui->actionClearComparison->isEnabled(); }, [w] { return w; }, 300});
    steps.push_back({"tools-menu",
                     [w] {
                         w->Clear_Comparison();
                         w->ui->tabWidget->setCurrentWidget(w->ui->tab_reg);
                         w->ui->menuTools->popup(w->mapToGlobal(QPoint(40, 40)));
                     },
                     [w] { return w->ui->menuTools->isVisible(); }, [w] { return w->ui->menuTools; }, 300});
    steps.push_back({"signals-window",
                     [w] {
                         w->ui->menuTools->hide();
                         w->Show_SignalsWindow();
                         if (w->signalsWindow()) w->signalsWindow()->setSpanSeconds(30);
                     },
                     [w] { return w->signalsWindow() && w->signalsWindow()->isVisible(); },
                     [w] { return static_cast<QWidget*>(w->signalsWindow()); }, 4000});
    steps.push_back({"snr-dialog",
                     [w] {
                         if (w->signalsWindow()) w->signalsWindow()->close();
                         w->ui->actionSnr->trigger();
                         if (SnrDialog* d = TourSnrDialog(w)) StartShortSnrTest(d);
                     },
                     // Mid-test, between two of the autoplay's touches: the board never
                     // rests long enough for the whole test to finish within the tour.
                     [w] {
                         const SnrDialog* d = TourSnrDialog(w);
                         return d && d->procedure()->phase() == SnrProcedure::Phase::HandsOff &&
                                d->ui->progressBar->value() > 0 &&
                                d->ui->label_Prompt->text() == QStringLiteral("Hands off");
                     },
                     [w] { return static_cast<QWidget*>(TourSnrDialog(w)); }, 0});
    return steps;
}

class Tour : public QObject {
public:
    Tour(MainWindow* w, const QString& dir) : QObject(w), m_Window(w), m_Dir(dir), m_Steps(Steps(w)) {
        QDir().mkpath(dir);
        m_Timer.setInterval(kPollMs);
        connect(&m_Timer, &QTimer::timeout, this, &Tour::Tick);
        m_Timer.start();
    }

private:
    void Tick() {
        if (m_At >= m_Steps.size()) {
            m_Timer.stop();
            m_Window->close();
            return;
        }
        TourStep& step = m_Steps[m_At];
        if (!m_Acted) {
            step.act();
            m_Acted = true;
            m_WaitedMs = 0;
            m_ReadyForMs = -1;
            return;
        }
        m_WaitedMs += kPollMs;
        if (m_ReadyForMs < 0 && step.ready()) m_ReadyForMs = 0;
        if (m_ReadyForMs >= 0) m_ReadyForMs += kPollMs;
        const bool timedOut = m_WaitedMs > kReadyTimeoutMs;
        if (!timedOut && (m_ReadyForMs < 0 || m_ReadyForMs < step.settleMs)) return;

        QWidget* subject = step.subject();
        const QString file = QDir(m_Dir).filePath(QString::fromLatin1(step.file) + QStringLiteral(".png"));
        if (timedOut || !subject) {
            std::fprintf(stderr, "screenshot %s: the window did not get ready; skipped\n", step.file);
        } else if (subject->grab().save(file)) {
            std::printf("screenshot: %s\n", qPrintable(file));
        } else {
            std::fprintf(stderr, "screenshot %s: could not write %s\n", step.file, qPrintable(file));
        }
        std::fflush(stdout);
        ++m_At;
        m_Acted = false;
    }

    MainWindow* m_Window;
    QString m_Dir;
    std::vector<TourStep> m_Steps;
    QTimer m_Timer;
    size_t m_At = 0;
    bool m_Acted = false;
    int m_WaitedMs = 0;
    int m_ReadyForMs = -1;
};

}  // namespace

void Screenshot_Tour(MainWindow* window, const QString& dir) { new Tour(window, dir); }
