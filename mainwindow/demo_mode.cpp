#include "mainwindow/demo_mode.h"

#include <QCheckBox>
#include <QFile>
#include <QPointer>
#include <QTimer>
#include <memory>

#include "app/limits.h"
#include "mainwindow/MainWindow.h"
#include "ui_MainWindow.h"
#include "views/MonitoringDialog.h"
#include "views/ProductionWindow.h"
#include "views/SbfColumn.h"
#include "workers/BoardSession.h"

namespace {

// Takes SIN 3 out of monitoring for a few seconds, through its box in the
// monitoring dialog as an engineer would, so that the graphs show a channel
// that was not read as a gap in its line.
void PauseOneChannel(MainWindow* window) {
    SbfColumn* column = window->monitoringDialog()->column(0, 2);
    if (column == nullptr || column->CheckBox_MON_En == nullptr) return;
    QPointer<QCheckBox> box = column->CheckBox_MON_En;
    QTimer::singleShot(3000, window, [box] {
        if (box) box->setChecked(false);
    });
    QTimer::singleShot(7000, window, [box] {
        if (box) box->setChecked(true);
    });
}

void ShowSignals(MainWindow* window) {
    window->Show_SignalsWindow();
    PauseOneChannel(window);
}

// Opens the Signals window now ("1") or once the named file exists, so that a
// script can take the main window's picture first.
void OpenSignalsWhenAsked(MainWindow* window, const QString& trigger) {
    if (trigger == QLatin1String("1")) {
        ShowSignals(window);
        return;
    }
    auto* timer = new QTimer(window);
    timer->setInterval(200);
    QObject::connect(timer, &QTimer::timeout, window, [window, timer, trigger] {
        if (!QFile::exists(trigger)) return;
        timer->stop();
        timer->deleteLater();
        ShowSignals(window);
    });
    timer->start();
}

// Runs the production window as a fixture would: a serial per trigger file.
void RunProductionWhenAsked(MainWindow* window, const QString& dir) {
    window->ui->actionProductionTest->trigger();
    auto* production = window->findChild<ProductionWindow*>();
    if (!production || !production->setLimitsFile(dir + QStringLiteral("/limits.json"))) return;
    // Runs started and runs recorded: a run's record is stored after its verdict shows.
    auto started = std::make_shared<int>(0);
    auto recorded = std::make_shared<int>(0);
    QObject::connect(production, &ProductionWindow::runRecorded, production, [dir, recorded] {
        QFile done(QStringLiteral("%1/done-%2").arg(dir).arg(++*recorded));
        done.open(QIODevice::WriteOnly);
    });
    auto* timer = new QTimer(production);
    timer->setInterval(200);
    QObject::connect(timer, &QTimer::timeout, production, [production, dir, started, recorded] {
        const int n = *started + 1;
        if (production->running() || *recorded < *started ||
            !QFile::exists(QStringLiteral("%1/run-%2").arg(dir).arg(n)))
            return;
        production->setSerial(QStringLiteral("DEMO-%1").arg(n, 4, 10, QLatin1Char('0')));
        if (production->startTest()) *started = n;
    });
    timer->start();
}

}  // namespace

void Demo_MonitorWhenReady(MainWindow* window) {
    const QString signalsTrigger = qEnvironmentVariable("TKEVAL_DEMO_SIGNALS");
    auto* timer = new QTimer(window);
    timer->setInterval(100);
    QObject::connect(timer, &QTimer::timeout, window, [window, timer, signalsTrigger] {
        // The chip widgets come alive only after the polling thread has seen
        // the chip and the table has been read.
        if (!window->session()->chipPresent() || !window->ui->pushButton_Sense->isEnabled()) return;
        timer->stop();
        timer->deleteLater();
        const QString production = qEnvironmentVariable("TKEVAL_DEMO_PRODUCTION");
        if (!production.isEmpty()) {
            RunProductionWhenAsked(window, production);
            return;
        }
        if (!window->ui->pushButton_Sense->isChecked()) window->ui->pushButton_Sense->click();
        window->ui->pushButton_Dlg->click();
        if (!signalsTrigger.isEmpty()) OpenSignalsWhenAsked(window, signalsTrigger);
    });
    timer->start();
}
