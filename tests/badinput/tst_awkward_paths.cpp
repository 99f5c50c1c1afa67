// Working directories and register files in places an engineer's machine
// really has: names with spaces, non-ASCII names, and very long paths.
#include <QLineEdit>
#include <QStatusBar>
#include <QTabWidget>
#include <QtTest>

#include "app/limits.h"
#include "platform/ini.h"
#include "support/exchange_wait.h"
#include "ui_MainWindow.h"
#include "ui_RegisterCell.h"
#include "ui_SnrDialog.h"
#include "views/RegisterCell.h"
#include "workdir_fixture.h"
#include "workers/BoardSession.h"

namespace {

const QString kSpaces = QStringLiteral("eval board  with spaces ");
const QString kNonAscii = QString::fromUtf8("Prüfstand Ω 评估板 ✓");

// Three levels of about 120 characters each: well past the 256 bytes of the
// original directory buffer, within what Linux allows per name.
QString LongTail() {
    QString tail;
    for (int i = 0; i < 3; ++i) tail += QStringLiteral("/") + QString(110, QChar(u'a' + i)) + QString::number(i);
    return tail;
}

void AddPathRows() {
    QTest::addColumn<QString>("relative");
    QTest::newRow("spaces") << kSpaces;
    QTest::newRow("non-ASCII") << kNonAscii;
    QTest::newRow("long") << QStringLiteral("deep") + LongTail();
    QTest::newRow("all at once") << kNonAscii + QStringLiteral("/") + kSpaces + LongTail();
}

}  // namespace

class tst_AwkwardPaths : public QObject {
    Q_OBJECT

private slots:
    // Every file of the working directory is found there and written there.
    void workingDirectory_data() { AddPathRows(); }
    void workingDirectory() {
        QFETCH(QString, relative);
        QTemporaryDir base;
        WorkdirWindow wd(base.filePath(relative));
        QVERIFY(wd.write("system.ini", "[SYSTEM]\nDEVICE=TK2C\nSIZEOFCHANNEL=8\nSIZEOFSBF=4\n"));
        QVERIFY(wd.write("config.ini", "[I2C]\nI2C_ADDR=B4\n"));
        QVERIFY(wd.write("hint.txt", "[R0]\n\n[R2]\n"));
        QVERIFY(wd.write("DEBUG.txt", ""));
        MainWindow* w = wd.open();
        QVERIFY(w);

        QCOMPARE(w->session()->channelCount(), 8);
        QCOMPARE(w->session()->i2cAddress(), 0xB4);
        QVERIFY(w->registerCell(0) && !w->registerCell(1) && w->registerCell(2));
        QCOMPARE(w->ui->tabWidget->count(), 2);  // DEBUG.txt seen: the Debug tab stays
        QVERIFY(!wd.read("Log.txt").isEmpty());

        w->ui->lineEdit_I2C_ADDR->setText(QStringLiteral("B6"));
        w->ui->pushButton_Setting_OK->click();
        QCOMPARE(Ini_GetString(wd.file("config.ini"), "I2C", "I2C_ADDR", QString()), QStringLiteral("B6"));
    }

    // Save and Load of a register file whose path is awkward; config.ini
    // remembers the path exactly.
    void registerFile_data() { AddPathRows(); }
    void registerFile() {
        QFETCH(QString, relative);
        QTemporaryDir base;
        const QString dir = base.filePath(relative);
        QVERIFY(QDir().mkpath(dir));
        const QString path = QDir(dir).filePath(QStringLiteral("table ") + kNonAscii + QStringLiteral(".sf"));
        {
            WorkdirWindow wd;
            QVERIFY(wd.write("hint.txt", "[R0]\n[R1]\n"));
            MainWindow* w = wd.open();
            QVERIFY(w);
            w->registerCell(0)->ui->lineEdit_data->setText(QStringLiteral("3C"));
            w->registerCell(1)->ui->lineEdit_data->setText(QStringLiteral("A5"));
            {
                FileDialogAnswerer answer(path);
                w->ui->pushButton_Save->click();
                QCOMPARE(answer.answered(), 1);
            }
            QFile saved(path);
            QVERIFY2(saved.open(QIODevice::ReadOnly), qPrintable(path));
            QCOMPARE(saved.readAll(), QByteArray("w003C\nw01A5\n"));
            QCOMPARE(w->ui->lineEdit_File->text(), path);
            QCOMPARE(Ini_GetString(wd.file("config.ini"), "PATH", "REG_FILE", QString()), path);

            w->registerCell(0)->ui->lineEdit_data->clear();
            w->registerCell(1)->ui->lineEdit_data->clear();
            {
                // No chip: the writes fail quietly and the cells keep the file's text.
                FileDialogAnswerer answer(path);
                w->ui->pushButton_Load->click();
                QCOMPARE(answer.answered(), 1);
                QVERIFY(Exchanges_Settle(*w->session()));
            }
            QCOMPARE(w->registerCell(0)->ui->lineEdit_data->text(), QStringLiteral("3C"));
            QCOMPARE(w->registerCell(1)->ui->lineEdit_data->text(), QStringLiteral("A5"));
            QCOMPARE(w->ui->lineEdit_File->text(), path);
        }
    }
};

QTEST_MAIN(tst_AwkwardPaths)
#include "tst_awkward_paths.moc"
