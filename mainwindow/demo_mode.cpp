#include "mainwindow/demo_mode.h"

#include <QFile>
#include <QTimer>

#include "app/globals.h"
#include "mainwindow/MainWindow.h"
#include "views/ProductionWindow.h"

#include <memory>

namespace {

// Opens the Signals window now ("1") or once the named file exists, so that a
// script can take the main window's picture first.
void OpenSignalsWhenAsked(MainWindow* window, const QString& trigger) {
    if (trigger == QLatin1String("1")) {
        window->Show_SignalsWindow();
        return;
    }
    auto* timer = new QTimer(window);
    timer->setInterval(200);
    QObject::connect(timer, &QTimer::timeout, window, [window, timer, trigger] {
        if (!QFile::exists(trigger)) return;
        timer->stop();
        timer->deleteLater();
        window->Show_SignalsWindow();
    });
    timer->start();
}

// Runs the production window as a fixture would: a serial per trigger file.
void RunProductionWhenAsked(MainWindow* window, const QString& dir) {
    window->actionProductionTest->trigger();
    auto* production = window->findChild<ProductionWindow*>();
    if (!production || !production->setLimitsFile(dir + QStringLiteral("/limits.json"))) return;
    auto next = std::make_shared<int>(1);
    QObject::connect(production, &ProductionWindow::runRecorded, production, [dir, next] {
        QFile done(QStringLiteral("%1/done-%2").arg(dir).arg(*next));
        done.open(QIODevice::WriteOnly);
        ++*next;
    });
    auto* timer = new QTimer(production);
    timer->setInterval(200);
    QObject::connect(timer, &QTimer::timeout, production, [production, dir, next] {
        if (production->running() || !QFile::exists(QStringLiteral("%1/run-%2").arg(dir).arg(*next))) return;
        if (QFile::exists(QStringLiteral("%1/done-%2").arg(dir).arg(*next))) return;
        production->setSerial(QStringLiteral("DEMO-%1").arg(*next, 4, 10, QLatin1Char('0')));
        production->startTest();
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
        if (g_I2C_Connected.load() == 0 || !window->pushButton_Sense->isEnabled()) return;
        timer->stop();
        timer->deleteLater();
        const QString production = qEnvironmentVariable("TKEVAL_DEMO_PRODUCTION");
        if (!production.isEmpty()) {
            RunProductionWhenAsked(window, production);
            return;
        }
        if (!window->pushButton_Sense->isChecked()) window->pushButton_Sense->click();
        window->pushButton_Dlg->click();
        if (!signalsTrigger.isEmpty()) OpenSignalsWhenAsked(window, signalsTrigger);
    });
    timer->start();
}
