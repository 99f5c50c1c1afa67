#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QStatusBar>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTextEdit>
#include <QtTest>

#include "app/limits.h"
#include "mainwindow/MainWindow.h"
#include "ui_MainWindow.h"
#include "workers/BoardSession.h"

// The main window right after construction, each case in a fresh working
// directory with its own INI files.
class tst_MainWindowStart : public QObject {
    Q_OBJECT

    QString m_oldCwd;
    std::unique_ptr<QTemporaryDir> m_dir;

    void Put(const char* name, const QByteArray& content) {
        QFile f(m_dir->filePath(QString::fromLatin1(name)));
        QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
        f.write(content);
    }

private slots:
    void initTestCase() { m_oldCwd = QDir::currentPath(); }
    void init() {
        m_dir = std::make_unique<QTemporaryDir>();
        QVERIFY(QDir::setCurrent(m_dir->path()));
    }
    void cleanup() {
        QDir::setCurrent(m_oldCwd);
        m_dir.reset();
    }

    void configuredStart_titleAddressAndLog() {
        Put("system.ini", "[SYSTEM]\nDEVICE=TK2C\nSIZEOFCHANNEL=8\nSIZEOFSBF=4\n");
        Put("config.ini", "[I2C]\nI2C_ADDR=b2\n[AutoSen]\nMARGIN=0.6\n");
        Put("Log.txt", "left from the run before\n");
        MainWindow w;
        QCOMPARE(w.windowTitle(), QString("Vantix(TM) Eval. Tool v5.10 - TK2C"));
        QCOMPARE(w.session()->family(), 4);
        QCOMPARE(w.ui->lineEdit_I2C_ADDR->text(), QString("B2"));
        QCOMPARE(w.session()->workDir(), QDir::currentPath());
        QVERIFY(w.m_ConfigMessage.isEmpty());

        QFile log(m_dir->filePath("Log.txt"));
        QVERIFY(log.open(QIODevice::ReadOnly));
        const QByteArray text = log.readAll();
        QCOMPARE(text.count('\n'), 1);
        const QList<QByteArray> fields = text.trimmed().split('\t');
        QCOMPARE(fields.size(), 6);
        QCOMPARE(fields[1], QByteArray("START"));
        QCOMPARE(fields[2], QByteArray(40, '='));
        QCOMPARE(fields[3], QByteArray());
        QVERIFY(fields[4].contains("MainWindow"));
        QVERIFY(fields[5].toInt() > 0);
    }

    void noIniFiles_defaultsShown() {
        MainWindow w;
        QCOMPARE(w.windowTitle(), QString("Vantix(TM) Eval. Tool v5.10 - No Info"));
        QCOMPARE(w.ui->lineEdit_I2C_ADDR->text(), QString("B0"));
        QCOMPARE(w.session()->family(), 0);
    }

    void clampedCounts_shownInStatusBar() {
        Put("system.ini", "[SYSTEM]\nDEVICE=TK2C\nSIZEOFCHANNEL=17\nSIZEOFSBF=5\n");
        MainWindow w;
        QCOMPARE(w.session()->channelCount(), 16);
        QCOMPARE(w.session()->sbfCount(), 4);
        const QString shown = w.ui->statusBar->currentMessage();
        QVERIFY2(shown.contains("SIZEOFCHANNEL = 17") && shown.contains("SIZEOFSBF = 5"), qPrintable(shown));
    }

    void form_namesTextsAndProperties() {
        MainWindow w;
        QCOMPARE(w.objectName(), QString("MainWindow"));
        const std::pair<const char*, const char*> buttons[] = {
            {"pushButton_COM_Search", "COM"}, {"pushButton_TEST", "TEST"},   {"pushButton_Setting_SearchI2C", "Search"},
            {"pushButton_Setting_OK", "OK"},  {"pushButton_Reset", "Reset"}, {"pushButton_Read", "Read"},
            {"pushButton_Sense", "Sense"},    {"pushButton_Dlg", "Dlg"},     {"pushButton_Load", "Load File"},
            {"pushButton_Save", "Save File"}, {"pushButton_clear", "Clear"}};
        for (const auto& [name, text] : buttons) {
            auto* b = w.findChild<QPushButton*>(name);
            QVERIFY2(b != nullptr, name);
            QCOMPARE(b->text(), QString(text));
            // Only Sense latches.
            QCOMPARE(b->isCheckable(), qstrcmp(name, "pushButton_Sense") == 0);
        }
        const std::pair<const char*, const char*> labels[] = {{"label_USB_Status_text", " UART"},
                                                              {"label_USB_Status_text_2", "I2C"},
                                                              {"label_2", "I2C ADDR"},
                                                              {"label", "hex"}};
        for (const auto& [name, text] : labels) {
            auto* l = w.findChild<QLabel*>(name);
            QVERIFY2(l != nullptr, name);
            QCOMPARE(l->text(), QString(text));
        }
        QCOMPARE(w.ui->groupBox_Config->title(), QString(" Setting "));
        QCOMPARE(w.ui->groupBox_Key->title(), QString("  Touch "));
        QCOMPARE(w.ui->checkBox_show->text(), QString("show uart data"));
        for (const char* name : {"comboBox_COM", "label_logo", "label_UART_Status", "label_I2C_Status", "frame_SIN",
                                 "frame_reg", "tab_reg", "tab_debug", "textEdit_debug", "lineEdit_File", "widge_title",
                                 "gridLayout_11", "gridLayout_10", "gridLayout_2", "gridLayout_3", "gridLayout_7"})
            QVERIFY2(w.findChild<QObject*>(name) != nullptr, name);

        QCOMPARE(w.ui->tabWidget->currentIndex(), 0);
        QCOMPARE(w.ui->tabWidget->tabText(0), QString("Reg"));
        QCOMPARE(w.ui->tabWidget->focusPolicy(), Qt::NoFocus);
        QVERIFY(w.ui->lineEdit_File->isReadOnly());
        QCOMPARE(w.ui->lineEdit_I2C_ADDR->size(), QSize(160, 20));
        QCOMPARE(w.font().family(), QString("Arial"));
        QCOMPARE(w.ui->pushButton_Read->font().pointSize(), 9);
        QCOMPARE(w.ui->lineEdit_File->font().pointSize(), 8);

        // The embedded images are there: lamps, logo and window icon.
        QVERIFY(!w.ui->label_UART_Status->pixmap().isNull());
        QVERIFY(!w.ui->label_I2C_Status->pixmap().isNull());
        QCOMPARE(w.ui->label_I2C_Status->pixmap().size(), QSize(24, 24));
        QVERIFY(!w.ui->label_logo->pixmap().isNull());
        QVERIFY(!w.windowIcon().isNull());
    }

    void window_keepsItsComputedSize() {
        MainWindow w;
        w.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        QCOMPARE(w.minimumSize(), w.maximumSize());
    }

    void clear_emptiesOnlyTheDebugView() {
        MainWindow w;
        w.ui->textEdit_debug->setPlainText("02 43 54");
        w.ui->lineEdit_File->setText("/tmp/a.sf");
        w.ui->pushButton_clear->click();
        QVERIFY(w.ui->textEdit_debug->toPlainText().isEmpty());
        QCOMPARE(w.ui->lineEdit_File->text(), QString("/tmp/a.sf"));
    }

    void addressField_takesHexDigitsOnly() {
        MainWindow w;
        w.ui->lineEdit_I2C_ADDR->clear();
        QTest::keyClicks(w.ui->lineEdit_I2C_ADDR, "5g-Z a");
        QCOMPARE(w.ui->lineEdit_I2C_ADDR->text(), QString("5a"));
        QTest::keyClick(w.ui->lineEdit_I2C_ADDR, Qt::Key_Backspace);
        QTest::keyClick(w.ui->lineEdit_I2C_ADDR, Qt::Key_Tab);
        QCOMPARE(w.ui->lineEdit_I2C_ADDR->text(), QString("5"));
    }
};

QTEST_MAIN(tst_MainWindowStart)
#include "tst_mainwindow_start.moc"
