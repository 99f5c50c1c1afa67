// Placeholder bodies, replaced as this group of slots is built.
#include "mainwindow/unit_mainwindow.h"

void MainWindow::Update_UART_RxEdit_Slot() {}
