// Slots whose behaviour arrives with later work. Each moves, with its body,
// into the file named beside it.
#include "mainwindow/unit_mainwindow.h"

void MainWindow::pushButton_TEST_Clecked() {}               // mw_i2c.cpp
void MainWindow::comboBox_COM_activated(QString) {}         // mw_connection.cpp
void MainWindow::pushButton_COM_Search_Clecked() {}         // mw_connection.cpp
void MainWindow::pushButton_Setting_OK_Clecked() {}         // mw_i2c.cpp
void MainWindow::pushButton_Setting_SearchI2C_Clecked() {}  // mw_i2c.cpp
void MainWindow::pushButton_Reset_Clecked() {}              // mw_registers.cpp
void MainWindow::pushButton_Read_Clecked() {}               // mw_registers.cpp
void MainWindow::pushButton_Sense_Toggled(bool) {}          // mw_display.cpp
void MainWindow::pushButton_Load_Clecked() {}               // mw_regfiles.cpp
void MainWindow::pushButton_Save_Clecked() {}               // mw_regfiles.cpp
void MainWindow::pushButton_Dlg_Clecked() {}                // mw_display.cpp
void MainWindow::UART_Connection() {}                       // mw_connection.cpp
void MainWindow::UART_Disconnection() {}                    // mw_connection.cpp
void MainWindow::Update_UART_RxEdit_Slot() {}               // mw_debugview.cpp
void MainWindow::UART_ERR_slots(int) {}                     // mw_connection.cpp
void MainWindow::I2C_Connection_Slot() {}                   // mw_connection.cpp
void MainWindow::I2C_Disconnection_Slot() {}                // mw_connection.cpp
void MainWindow::UpdateTouch_Slot(int) {}                   // mw_display.cpp
void MainWindow::Update_MON_Slot() {}                       // mw_display.cpp
void MainWindow::Update_Valid_Slot() {}                     // mw_display.cpp
