// Start-up yardstick for the command-line program: Qt Core only, none of the
// tool; prints one line and ends, as "tkeval-cli --version" does.
#include <QCoreApplication>
#include <cstdio>

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    std::puts("minimal 1");
    return 0;
}
