#include "mainwindow/startup.h"

int main(int argc, char* argv[])
{
    return Startup_Main(argc, argv);
}
