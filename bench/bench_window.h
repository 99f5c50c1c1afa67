// The tool's window as the benchmark children run it: started as on the
// command line with --port, and switched to monitoring all 8 channels as
// soon as the chip answers (the tool has no outside switch for monitoring).
#pragma once

#include <QApplication>
#include <QPushButton>
#include <QTimer>
#include <functional>

#include "mainwindow/MainWindow.h"
#include "mainwindow/startup.h"
#include "ui_MainWindow.h"
#include "workers/BoardSession.h"

namespace bench {

// Runs the window's event loop; monitoring(w) runs once Sense is pressed.
inline int RunMonitoringTool(int argc, char** argv, const std::function<void(MainWindow*)>& monitoring = {}) {
    Startup_InitResources();
    QApplication app(argc, argv);
    Startup_InstallFontSubstitutes();
    auto* const w = new MainWindow();
    w->setCommandLinePorts(Parse_PortArgs(QApplication::arguments()));
    w->show();
    QTimer::singleShot(0, w, [w] { w->Connect_FirstCmdLinePort(); });
    auto* poll = new QTimer(w);
    QObject::connect(poll, &QTimer::timeout, w, [w, poll, monitoring] {
        if (!w->session()->chipPresent() || !w->ui->pushButton_Sense->isEnabled()) return;
        poll->stop();
        w->session()->setMonitoredChannels(0xFF);  // all boxes of the monitoring selection ticked
        w->ui->pushButton_Sense->setChecked(true);
        if (monitoring) monitoring(w);
    });
    poll->start(50);
    return app.exec();
}

}  // namespace bench
