// Placeholder bodies, replaced as this group of slots is built.
#include "mainwindow/unit_mainwindow.h"

void MainWindow::pushButton_Reset_Clecked() {}
void MainWindow::pushButton_Read_Clecked() {}
