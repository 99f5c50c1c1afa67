// Placeholder bodies, replaced as this group of slots is built.
#include "mainwindow/unit_mainwindow.h"

void MainWindow::pushButton_TEST_Clecked() {}
void MainWindow::pushButton_Setting_OK_Clecked() {}
void MainWindow::pushButton_Setting_SearchI2C_Clecked() {}
