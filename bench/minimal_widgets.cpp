// The yardstick for start-up figures: the least a Qt Widgets program does to
// put a main window on screen. Prints "shown" at the first turn of the event
// loop after show(), exactly where the tool does under TKEVAL_EXIT_WHEN_SHOWN.
#include <QApplication>
#include <QLabel>
#include <QMainWindow>
#include <QTimer>
#include <cstdio>

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QMainWindow window;
    window.setCentralWidget(new QLabel(QStringLiteral("minimal")));
    window.show();
    QTimer::singleShot(0, &window, [&] {
        std::fputs("shown\n", stdout);
        std::fflush(stdout);
        window.close();
    });
    return app.exec();
}
