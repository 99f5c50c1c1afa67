#include "mainwindow/demo_mode.h"

#include <QFile>
#include <QTimer>

#include "app/globals.h"
#include "mainwindow/MainWindow.h"
#include "ui_MainWindow.h"

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

}  // namespace

void Demo_MonitorWhenReady(MainWindow* window) {
    const QString signalsTrigger = qEnvironmentVariable("TKEVAL_DEMO_SIGNALS");
    auto* timer = new QTimer(window);
    timer->setInterval(100);
    QObject::connect(timer, &QTimer::timeout, window, [window, timer, signalsTrigger] {
        // The chip widgets come alive only after the polling thread has seen
        // the chip and the table has been read.
        if (g_I2C_Connected.load() == 0 || !window->ui->pushButton_Sense->isEnabled()) return;
        timer->stop();
        timer->deleteLater();
        if (!window->ui->pushButton_Sense->isChecked()) window->ui->pushButton_Sense->click();
        window->ui->pushButton_Dlg->click();
        if (!signalsTrigger.isEmpty()) OpenSignalsWhenAsked(window, signalsTrigger);
    });
    timer->start();
}
