#include "mainwindow/startup.h"

#include <QApplication>
#include <QFont>
#include <QRect>
#include <QScreen>
#include <QStyle>
#include <QTimer>
#include <cstdio>

#include "app/config.h"
#include "app/userdir.h"
#include "mainwindow/MainWindow.h"
#include "mainwindow/demo_mode.h"
#include "mainwindow/screenshot_tour.h"
#include "platform/instance_marker.h"
#include "ui_MainWindow.h"

// Q_INIT_RESOURCE must be used outside any namespace.
static void Init_Resources_Once() { Q_INIT_RESOURCE(resources); }

void Startup_InitResources() {
    static const bool s_done = [] {
        Init_Resources_Once();
        return true;
    }();
    (void)s_done;
}

void Startup_InstallFontSubstitutes() {
    QFont::insertSubstitution(QStringLiteral("Arial"), QStringLiteral("Liberation Sans"));
    QFont::insertSubstitution(QStringLiteral("Gulim"), QStringLiteral("NanumGothic"));
}

int Startup_Main(int argc, char* argv[]) {
    Startup_InitResources();

    // Marks the first instance only; a second copy starts all the same.
    InstanceMarker_Take(InstanceMarker_Name(QString::fromLocal8Bit(argc > 0 && argv[0] ? argv[0] : "")));

    QApplication app(argc, argv);
    Startup_InstallFontSubstitutes();
    // The desktop menu starts us in the home folder, which holds no system.ini.
    QGuiApplication::setDesktopFileName(QStringLiteral("tkeval"));
    const QString workDirNote = UserDir_EnterAtStart(QCoreApplication::applicationDirPath());

    // Lives until the process ends; never deleted here.
    auto* window = new MainWindow();
    window->setCommandLinePorts(Parse_PortArgs(QApplication::arguments()));
    window->Show_StartNote(workDirNote);

    const QScreen* screen = QGuiApplication::primaryScreen();
    if (screen != nullptr) {
        window->setGeometry(
            QStyle::alignedRect(Qt::LeftToRight, Qt::AlignCenter, window->size(), screen->availableGeometry()));
    }
    window->show();
    // For start-up timing: the first turn of the event loop comes once the
    // window has been shown. Closing it the usual way stops the threads in order.
    if (qEnvironmentVariableIsSet("TKEVAL_EXIT_WHEN_SHOWN")) {
        QTimer::singleShot(0, window, [window] {
            std::fputs("shown\n", stdout);
            std::fflush(stdout);
            window->close();
        });
    }
    // After the window is on screen, so that its warnings have a parent to sit on.
    QTimer::singleShot(0, window, [window] { window->Connect_FirstCmdLinePort(); });
    if (qEnvironmentVariableIsSet("TKEVAL_DEMO_MONITOR")) Demo_MonitorWhenReady(window);
    if (qEnvironmentVariableIsSet("TKEVAL_SCREENSHOTS"))
        Screenshot_Tour(window, qEnvironmentVariable("TKEVAL_SCREENSHOTS"));
    return app.exec();
}
