#include "app/startup.h"

#include <QApplication>
#include <QMainWindow>

// Placeholder until the main window lands; replaced by the real start-up.
int Startup_Main(int argc, char* argv[])
{
    QApplication app(argc, argv);
    QMainWindow w;
    w.show();
    return app.exec();
}
