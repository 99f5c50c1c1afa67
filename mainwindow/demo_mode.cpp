#include "mainwindow/demo_mode.h"

#include <QTimer>

#include "app/globals.h"
#include "mainwindow/unit_mainwindow.h"

void Demo_MonitorWhenReady(MainWindow* window) {
    auto* timer = new QTimer(window);
    timer->setInterval(100);
    QObject::connect(timer, &QTimer::timeout, window, [window, timer] {
        // The chip widgets come alive only after the polling thread has seen
        // the chip and the table has been read.
        if (g_I2C_Connected.load() == 0 || !window->pushButton_Sense->isEnabled()) return;
        timer->stop();
        timer->deleteLater();
        if (!window->pushButton_Sense->isChecked()) window->pushButton_Sense->click();
        window->pushButton_Dlg->click();
    });
    timer->start();
}
