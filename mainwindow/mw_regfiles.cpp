// Placeholder bodies, replaced as this group of slots is built.
#include "mainwindow/unit_mainwindow.h"

void MainWindow::pushButton_Load_Clecked() {}
void MainWindow::pushButton_Save_Clecked() {}
