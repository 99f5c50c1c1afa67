// Placeholder bodies, replaced as this group of slots is built.
#include "mainwindow/unit_mainwindow.h"

void MainWindow::pushButton_Sense_Toggled(bool) {}
void MainWindow::pushButton_Dlg_Clecked() {}
void MainWindow::UpdateTouch_Slot(int) {}
void MainWindow::Update_MON_Slot() {}
void MainWindow::Update_Valid_Slot() {}
