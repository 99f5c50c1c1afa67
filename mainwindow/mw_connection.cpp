// Placeholder bodies, replaced as this group of slots is built.
#include "mainwindow/unit_mainwindow.h"

void MainWindow::comboBox_COM_activated(QString) {}
void MainWindow::pushButton_COM_Search_Clecked() {}
void MainWindow::UART_Connection() {}
void MainWindow::UART_Disconnection() {}
void MainWindow::UART_ERR_slots(int) {}
void MainWindow::I2C_Connection_Slot() {}
void MainWindow::I2C_Disconnection_Slot() {}
