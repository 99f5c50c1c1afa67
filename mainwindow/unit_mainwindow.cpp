#include "mainwindow/unit_mainwindow.h"

#include <QCloseEvent>
#include <QKeyEvent>
#include <QLayout>
#include <QStatusBar>

#include "app/config.h"
#include "app/globals.h"
#include "app/log.h"
#include "app/startup.h"

MainWindow* g_MainWindow = nullptr;
unit_widget_reg* g_RegCells[256] = {};

MainWindow::MainWindow(QWidget* parent, Qt::WindowFlags flags) : QMainWindow(parent, flags) {
    // The form loads its icon and lamps from the embedded images.
    Startup_InitResources();
    setupUi(this);

    lineEdit_I2C_ADDR->installEventFilter(this);

    WorkDir_CaptureA();
    Log_Write("START", "========================================", __FILE__, __LINE__, 0);
    WorkDir_Capture();

    QStringList messages;
    const QString device = Config_ReadSystem(&messages);
    setWindowTitle(Window_Title(device));
    Config_ReadI2C();
    lineEdit_I2C_ADDR->setText(Hex2(g_I2C_Addr.load()));
    Config_ReadUser();

    // The window keeps the size its content asks for; it is laid out for a
    // fixed set of channels and registers, not for stretching.
    adjustSize();
    layout()->setSizeConstraint(QLayout::SetFixedSize);

    m_ConfigMessage = messages.join(QStringLiteral("; "));
    if (!m_ConfigMessage.isEmpty())
        // The form's member, not QMainWindow::statusBar(), which shares the name.
        Ui::NV_EV_KitClass::statusBar->showMessage(m_ConfigMessage);
}

MainWindow::~MainWindow() = default;

bool MainWindow::eventFilter(QObject* watched, QEvent* event) {
    if (watched != lineEdit_I2C_ADDR || event->type() != QEvent::KeyPress)
        return QMainWindow::eventFilter(watched, event);

    const int key = static_cast<QKeyEvent*>(event)->key();
    const bool hexDigit = (key >= Qt::Key_0 && key <= Qt::Key_9) || (key >= Qt::Key_A && key <= Qt::Key_F);
    if (hexDigit || key == Qt::Key_Backspace || key == Qt::Key_Delete) return false;
    if (key == Qt::Key_Return || key == Qt::Key_Enter) {
        pushButton_Setting_OK_Clecked();
        return false;
    }
    return true;
}

void MainWindow::closeEvent(QCloseEvent* event) {
    // The worker threads are stopped here, in the order processing, polling,
    // receive, once they exist.
    event->accept();
}
