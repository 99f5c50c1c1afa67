#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QLineEdit>
#include <QPushButton>
#include <QStatusBar>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>

#include "app/limits.h"
#include "mainwindow/MainWindow.h"
#include "platform/ini.h"
#include "sim/SimPtyHost.h"
#include "support/file_dialogs.h"
#include "support/mw_harness.h"
#include "ui_MainWindow.h"
#include "ui_RegisterCell.h"
#include "ui_SnrDialog.h"
#include "views/RegisterCell.h"
#include "workers/BoardSession.h"

namespace {

MwOptions Offline(const QVector<int>& cells) {
    MwOptions o;
    o.hintAddrs = cells;
    o.startSim = false;
    o.connect = false;
    return o;
}

QString Cell(const MainWindow* w, int a) {
    return w->registerCell(a) ? w->registerCell(a)->ui->lineEdit_data->text() : QStringLiteral("<none>");
}

QString StatusText(MainWindow* w) { return w->ui->statusBar->currentMessage(); }

QString RememberedPath(const MwHarness& h) {
    return Ini_GetString(h.filePath("config.ini"), "PATH", "REG_FILE", "<missing>");
}

QByteArray ReadAll(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<missing>");
}

bool WriteAll(const QString& path, const QByteArray& content) {
    QFile f(path);
    return f.open(QIODevice::WriteOnly | QIODevice::Truncate) && f.write(content) == content.size();
}

uint8_t ChipRegister(SimPtyHost* sim, uint8_t reg) {
    uint8_t v = 0;
    sim->withBoard([&](SimBoard& b, uint32_t) { v = b.chip().peek(reg); });
    return v;
}

void SetChipRegister(SimPtyHost* sim, uint8_t reg, uint8_t value) {
    sim->withBoard([&](SimBoard& b, uint32_t now) { b.chip().write(reg, 1, &value, now); });
}

}  // namespace

// Save File and Load File on the register tab, with Qt's file dialogs answered
// from the test and, for Load, the simulated board behind the port.
class tst_RegFiles : public QObject {
    Q_OBJECT

    QTemporaryDir m_files;  // register files live outside the working directory

private slots:
    // --- Save ----------------------------------------------------------------------

    void save_writesCellsInAddressOrder_andRemembersPath() {
        MwHarness h(Offline({0x10, 0x05, 0x20}));
        QVERIFY2(h.start(), qPrintable(h.error()));
        MainWindow* w = h.window();
        h.window()->registerCell(0x05)->ui->lineEdit_data->setText("A0");
        h.window()->registerCell(0x10)->ui->lineEdit_data->setText("0F");
        h.window()->registerCell(0x20)->ui->lineEdit_data->clear();

        {  // cancelled: nothing changes
            FileDialogAnswerer dlg{QString(), FileDialogAnswerer::NextDialogOnly};
            w->ui->pushButton_Save->click();
            QVERIFY(dlg.seen());
            QVERIFY(dlg.saving());
            QCOMPARE(dlg.parent(), w);
            QCOMPARE(dlg.filters(), QStringList{"register files (*.sf)"});
            QCOMPARE(w->session()->registerFile(), QString());
            QCOMPARE(RememberedPath(h), QString("<missing>"));
            QCOMPARE(w->ui->lineEdit_File->text(), QString());
        }

        const QString path = m_files.filePath("save.sf");
        FileDialogAnswerer dlg{path, FileDialogAnswerer::NextDialogOnly};
        w->ui->pushButton_Save->click();
        QVERIFY(dlg.seen());
        QCOMPARE(ReadAll(path), QByteArray("w05A0\nw100F\nw20\n"));
        QCOMPARE(w->ui->lineEdit_File->text(), path);
        QCOMPARE(w->session()->registerFile(), path);
        QCOMPARE(RememberedPath(h), path);
        QVERIFY2(StatusText(w).contains("3 register"), qPrintable(StatusText(w)));
    }

    void save_intoUnwritablePlace_reportsIt_andKeepsOldFile() {
        MwHarness h(Offline({0x00, 0x01}));
        QVERIFY2(h.start(), qPrintable(h.error()));
        MainWindow* w = h.window();
        h.window()->registerCell(0x00)->ui->lineEdit_data->setText("11");
        h.window()->registerCell(0x01)->ui->lineEdit_data->setText("22");
        const QString good = m_files.filePath("good.sf");
        {
            FileDialogAnswerer dlg{good, FileDialogAnswerer::NextDialogOnly};
            w->ui->pushButton_Save->click();
        }
        QCOMPARE(ReadAll(good), QByteArray("w0011\nw0122\n"));

        // Tests run as root, so the place must be impossible, not forbidden.
        h.window()->registerCell(0x00)->ui->lineEdit_data->setText("99");
        const QString plain = m_files.filePath("plain.txt");
        QVERIFY(WriteAll(plain, "not a folder\n"));
        const QString bad = plain + "/reg.sf";
        MessageBoxCatcher boxes;
        FileDialogAnswerer dlg{bad, FileDialogAnswerer::NextDialogOnly};
        w->ui->pushButton_Save->click();
        QVERIFY(dlg.seen());
        QTRY_COMPARE(boxes.count(), 1);
        QVERIFY2(boxes.last().contains(QDir::toNativeSeparators(bad)), qPrintable(boxes.last()));
        QVERIFY2(StatusText(w).contains("NOT saved"), qPrintable(StatusText(w)));
        // The file shown is still the last one that was really written, but
        // the choice is remembered: that happens before the file is opened.
        QCOMPARE(w->ui->lineEdit_File->text(), good);
        QCOMPARE(RememberedPath(h), bad);
        QCOMPARE(ReadAll(good), QByteArray("w0011\nw0122\n"));
        QCOMPARE(ReadAll(plain), QByteArray("not a folder\n"));
    }

    void dialogs_startAtRememberedPath_alsoAfterRestart() {
        QDir(m_files.path()).mkpath("a");
        QDir(m_files.path()).mkpath("b");
        const QString first = m_files.filePath("a/first.sf");
        QVERIFY(WriteAll(first, "w0001\n"));
        const QString second = m_files.filePath("b/second.sf");

        MwOptions o = Offline({0x00});
        o.extraConfig = "[PATH]\nREG_FILE=" + first.toUtf8() + "\n";
        QString rememberedAtExit;
        {
            MwHarness h(o);
            QVERIFY2(h.start(), qPrintable(h.error()));
            MainWindow* w = h.window();
            FileDialogAnswerer load{QString(), FileDialogAnswerer::NextDialogOnly};
            w->ui->pushButton_Load->click();
            QVERIFY(load.seen());
            QVERIFY(!load.saving());
            QCOMPARE(load.filters(), QStringList{"register files (*.sf)"});
            QCOMPARE(load.startDir(), m_files.filePath("a"));
            QCOMPARE(load.startFile(), first);

            FileDialogAnswerer save{second, FileDialogAnswerer::NextDialogOnly};
            w->ui->pushButton_Save->click();
            QCOMPARE(save.startDir(), m_files.filePath("a"));
            QCOMPARE(ReadAll(second), QByteArray("w0000\n"));

            FileDialogAnswerer next{QString(), FileDialogAnswerer::NextDialogOnly};
            w->ui->pushButton_Load->click();
            QCOMPARE(next.startDir(), m_files.filePath("b"));
            QCOMPARE(next.startFile(), second);
            rememberedAtExit = RememberedPath(h);
        }
        QCOMPARE(rememberedAtExit, second);

        o.extraConfig = "[PATH]\nREG_FILE=" + rememberedAtExit.toUtf8() + "\n";
        MwHarness restarted(o);
        QVERIFY2(restarted.start(), qPrintable(restarted.error()));
        FileDialogAnswerer dlg{QString(), FileDialogAnswerer::NextDialogOnly};
        restarted.window()->ui->pushButton_Save->click();
        QCOMPARE(dlg.startDir(), m_files.filePath("b"));
        QCOMPARE(dlg.startFile(), second);
    }

    // --- Load ----------------------------------------------------------------------

    void load_writesRegisterLines_skipsOthers_andReadsBack() {
        MwHarness h;  // cells 0x00-0x3F, connected
        QVERIFY2(h.start(), qPrintable(h.error()));
        MainWindow* w = h.window();
        SimPtyHost* sim = h.sim();
        // Changed on the chip behind the tool's back: only the final read can
        // bring it into the table.
        SetChipRegister(sim, 0x0F, 0x77);
        QVERIFY(Cell(h.window(), 0x0F) != QString("77"));

        // 0x0B bit 0 resets this chip, so a write from the "W" line would show.
        const QByteArray longNote = "# " + QByteArray(253, 'x') + "w0E3F" + QByteArray(740, 'y');
        const QString path = m_files.filePath("load.sf");
        QVERIFY(WriteAll(path,
                         "# TK2C bench set-up\n"
                         "w0A3F\n"
                         "W0B01\n"
                         "warning: 0B is the reset register\n"
                         "w0C\n"
                         "w0D5\r\n" +
                             longNote +
                             "\n"
                             "w5004\n"));
        sim->clearLog();
        FileDialogAnswerer dlg{path, FileDialogAnswerer::NextDialogOnly};
        w->ui->pushButton_Load->click();
        QVERIFY(dlg.seen());
        QVERIFY(h.settle());

        QCOMPARE(sim->log()->count('W'), size_t(4));
        QCOMPARE(sim->log()->writesTo(0x0A), std::vector<uint8_t>{0x3F});
        QCOMPARE(sim->log()->writesTo(0x0C), std::vector<uint8_t>{0x00});
        QCOMPARE(sim->log()->writesTo(0x0D), std::vector<uint8_t>{0x05});
        QCOMPARE(sim->log()->writesTo(0x50), std::vector<uint8_t>{0x04});
        QVERIFY(sim->log()->writesTo(0x00).empty());
        QVERIFY(sim->log()->writesTo(0x0B).empty());
        QVERIFY(sim->log()->writesTo(0x0E).empty());
        // No cell for 0x50, but the chip has it.
        QCOMPARE(ChipRegister(sim, 0x50), uint8_t(0x04));
        QVERIFY(h.window()->registerCell(0x50) == nullptr);

        // The table was read back after the writes: chip values, upper case.
        QCOMPARE(Cell(h.window(), 0x0A), QString("3F"));
        QCOMPARE(Cell(h.window(), 0x0C), QString("00"));
        QCOMPARE(Cell(h.window(), 0x0D), QString("05"));
        QCOMPARE(Cell(h.window(), 0x0F), QString("77"));
        QCOMPARE(w->ui->lineEdit_File->text(), path);
        QCOMPARE(RememberedPath(h), path);
        const QString status = StatusText(w);
        QVERIFY2(status.contains("4 registers written") && status.contains("4 lines skipped"), qPrintable(status));
    }

    void load_emptyFile_writesNothing_andReadsTable() {
        MwHarness h;
        QVERIFY2(h.start(), qPrintable(h.error()));
        MainWindow* w = h.window();
        const QString path = m_files.filePath("empty.sf");
        QVERIFY(WriteAll(path, QByteArray()));
        SetChipRegister(h.sim(), 0x0F, 0x5A);
        h.sim()->clearLog();

        FileDialogAnswerer dlg{path, FileDialogAnswerer::NextDialogOnly};
        w->ui->pushButton_Load->click();
        QVERIFY(dlg.seen());
        QVERIFY(h.settle());
        QCOMPARE(h.sim()->log()->count('W'), size_t(0));
        QCOMPARE(Cell(h.window(), 0x0F), QString("5A"));
        QCOMPARE(w->ui->lineEdit_File->text(), path);
        QVERIFY2(StatusText(w).contains("0 registers written"), qPrintable(StatusText(w)));
    }

    void load_unopenableFile_reportsIt_andChangesNothing() {
        MwHarness h;
        QVERIFY2(h.start(), qPrintable(h.error()));
        MainWindow* w = h.window();
        w->ui->lineEdit_File->setText("earlier.sf");
        h.window()->registerCell(0x0A)->ui->lineEdit_data->setText("C3");

        // A socket exists in the file system but cannot be opened as a file,
        // even by root.
        const QString path = m_files.filePath("sock.sf");
        const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
        QVERIFY(fd >= 0);
        sockaddr_un addr{};
        addr.sun_family = AF_UNIX;
        const QByteArray native = QFile::encodeName(path);
        QVERIFY(size_t(native.size()) < sizeof addr.sun_path);
        memcpy(addr.sun_path, native.constData(), size_t(native.size()));
        QVERIFY(::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0);

        h.sim()->clearLog();
        MessageBoxCatcher boxes;
        FileDialogAnswerer dlg{path, FileDialogAnswerer::NextDialogOnly};
        w->ui->pushButton_Load->click();
        ::close(fd);
        QFile::remove(path);

        QVERIFY(dlg.seen());
        QTRY_COMPARE(boxes.count(), 1);
        QVERIFY2(boxes.last().contains(QDir::toNativeSeparators(path)), qPrintable(boxes.last()));
        QVERIFY2(StatusText(w).contains("NOT loaded"), qPrintable(StatusText(w)));
        QCOMPARE(h.sim()->log()->count('W'), size_t(0));
        QCOMPARE(w->ui->lineEdit_File->text(), QString("earlier.sf"));
        QCOMPARE(Cell(h.window(), 0x0A), QString("C3"));
        QCOMPARE(RememberedPath(h), path);
    }
};

QTEST_MAIN(tst_RegFiles)
#include "tst_regfiles.moc"
