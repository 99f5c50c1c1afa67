// Tools > Compare with file, Export C header and Tuning report in the main
// window, against the simulated board, with the dialogs answered from the test.
#include <QAction>
#include <QApplication>
#include <QFile>
#include <QInputDialog>
#include <QLineEdit>
#include <QPushButton>
#include <QStatusBar>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>

#include "app/limits.h"
#include "data/SampleStream.h"
#include "mainwindow/MainWindow.h"
#include "sim/SimPtyHost.h"
#include "support/file_dialogs.h"
#include "support/mw_harness.h"
#include "ui_MainWindow.h"
#include "ui_RegisterCell.h"
#include "views/RegisterCell.h"

namespace {

// Types text into the next input dialog and accepts it, from a timer.
class InputDialogAnswerer : public QObject {
public:
    explicit InputDialogAnswerer(const QString& text) : m_text(text) {
        connect(&m_timer, &QTimer::timeout, this, [this] {
            for (QWidget* w : QApplication::topLevelWidgets()) {
                auto* d = qobject_cast<QInputDialog*>(w);
                if (d == nullptr || !d->isVisible()) continue;
                d->setTextValue(m_text);
                d->accept();
                ++m_answered;
            }
        });
        m_timer.start(20);
    }
    int answered() const { return m_answered; }

private:
    QString m_text;
    QTimer m_timer;
    int m_answered = 0;
};

QString StatusText(MainWindow* w) { return w->ui->statusBar->currentMessage(); }

void SetChipRegister(SimPtyHost* sim, uint8_t reg, uint8_t value) {
    sim->withBoard([&](SimBoard& b, uint32_t now) { b.chip().write(reg, 1, &value, now); });
}

QByteArray ReadAll(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

}  // namespace

class tst_handoff_window : public QObject {
    Q_OBJECT

private slots:
    void compare_marksDifferingCellsUntilReadOrClear();
    void compare_refusesAMalformedFile();
    void exportHeader_writesTheTable();
    void report_holdsTheTableAndTheHistory();
};

void tst_handoff_window::compare_marksDifferingCellsUntilReadOrClear() {
    MwHarness h;
    QVERIFY2(h.start(), qPrintable(h.error()));
    MainWindow* w = h.window();
    SetChipRegister(h.sim(), 0x10, 0x01);
    SetChipRegister(h.sim(), 0x11, 0x02);
    // 0x11 differs, 0x10 does not, 0x50 has no cell.
    QVERIFY(h.writeFile("cmp.sf", "w1001\nw1105\nw5001\n"));
    {
        FileDialogAnswerer answer(h.filePath("cmp.sf"));
        w->ui->actionCompare->trigger();
        QCOMPARE(answer.answered(), 1);
    }
    QVERIFY(h.settle());
    QCOMPARE(h.window()->registerCell(0x11)->comparison(), 0x05);
    QVERIFY(h.window()->registerCell(0x11)->ui->lineEdit_data->toolTip().contains("05"));
    QVERIFY(h.window()->registerCell(0x11)->ui->lineEdit_data->palette().color(QPalette::Base) !=
            h.window()->registerCell(0x10)->ui->lineEdit_data->palette().color(QPalette::Base));
    QCOMPARE(h.window()->registerCell(0x10)->comparison(), -1);
    QVERIFY2(StatusText(w).startsWith("1 of 2 registers differ"), qPrintable(StatusText(w)));
    QVERIFY2(StatusText(w).contains("1 registers of the file have no cell"), qPrintable(StatusText(w)));
    QVERIFY(w->ui->actionClearComparison->isEnabled());

    const QColor plain = h.window()->registerCell(0x10)->ui->lineEdit_data->palette().color(QPalette::Base);
    w->ui->pushButton_Read->click();
    QVERIFY(h.settle());
    QCOMPARE(h.window()->registerCell(0x11)->comparison(), -1);
    QCOMPARE(h.window()->registerCell(0x11)->ui->lineEdit_data->palette().color(QPalette::Base), plain);
    QVERIFY(h.window()->registerCell(0x11)->ui->lineEdit_data->toolTip().isEmpty());

    {
        FileDialogAnswerer answer(h.filePath("cmp.sf"));
        w->ui->actionCompare->trigger();
    }
    QVERIFY(h.settle());
    QCOMPARE(h.window()->registerCell(0x11)->comparison(), 0x05);
    w->ui->actionClearComparison->trigger();
    QCOMPARE(h.window()->registerCell(0x11)->comparison(), -1);
    QVERIFY(!w->ui->actionClearComparison->isEnabled());
}

void tst_handoff_window::compare_refusesAMalformedFile() {
    MwOptions o;
    o.startSim = false;
    o.connect = false;
    MwHarness h(o);
    QVERIFY2(h.start(), qPrintable(h.error()));
    MainWindow* w = h.window();
    h.window()->registerCell(0x10)->ui->lineEdit_data->setText("01");
    QVERIFY(h.writeFile("bad.sf", "w1002\nw11QQ\n"));
    MessageBoxCatcher boxes;
    {
        FileDialogAnswerer answer(h.filePath("bad.sf"));
        w->ui->actionCompare->trigger();
    }
    QTRY_COMPARE(boxes.count(), 1);
    QVERIFY2(boxes.last().contains("bad.sf: line 2"), qPrintable(boxes.last()));
    QCOMPARE(h.window()->registerCell(0x10)->comparison(), -1);
}

void tst_handoff_window::exportHeader_writesTheTable() {
    MwOptions o;
    o.hintAddrs = {0x10, 0x11, 0x20};
    MwHarness h(o);
    QVERIFY2(h.start(), qPrintable(h.error()));
    MainWindow* w = h.window();
    SetChipRegister(h.sim(), 0x10, 0x3C);
    SetChipRegister(h.sim(), 0x11, 0x7E);
    {
        InputDialogAnswerer prefix("wt");
        FileDialogAnswerer file(h.filePath("out.h"));
        w->ui->actionExportHeader->trigger();
        QCOMPARE(prefix.answered(), 1);
        QCOMPARE(file.answered(), 1);
    }
    QVERIFY(h.settle());
    const QByteArray header = ReadAll(h.filePath("out.h"));
    // A fresh read went first: the chip's values, not the table's older ones.
    QVERIFY2(header.contains("{ WT_R10, 0x3Cu },\n    { WT_R11, 0x7Eu },"), header.constData());
    QVERIFY(header.contains("#define WT_REG_VALUE_COUNT 3u"));
    QVERIFY(header.contains("#define WT_I2C_ADDR 0xB0u"));
    QVERIFY2(StatusText(w).startsWith("Exported 3 registers"), qPrintable(StatusText(w)));

    MessageBoxCatcher boxes;
    {
        InputDialogAnswerer prefix("w t");
        w->ui->actionExportHeader->trigger();
    }
    QTRY_COMPARE(boxes.count(), 1);
    QVERIFY2(boxes.last().contains("not a C identifier"), qPrintable(boxes.last()));
}

void tst_handoff_window::report_holdsTheTableAndTheHistory() {
    MwOptions o;
    o.hintAddrs = {0x00, 0x20};
    o.startSim = false;
    o.connect = false;
    MwHarness h(o);
    QVERIFY2(h.start(), qPrintable(h.error()));
    MainWindow* w = h.window();
    h.window()->registerCell(0x00)->ui->lineEdit_data->setText("12");
    h.window()->registerCell(0x20)->ui->lineEdit_data->setText("28");
    // Twenty samples of SIN 3 in the history, as a replay would leave them.
    for (int i = 0; i < 20; ++i) {
        MonitorSample s;
        s.tMs = i * 100;
        s.channel = 2;
        s.sbfCount = 4;
        for (int k = 0; k < 4; ++k) s.diff[k] = i % 2;
        w->sampleStream()->publish(s);
    }
    {
        InputDialogAnswerer note("Board 7 & co");
        FileDialogAnswerer file(h.filePath("r.html"));
        w->ui->actionReport->trigger();
        QCOMPARE(note.answered(), 1);
        QCOMPARE(file.answered(), 1);
    }
    const QByteArray html = ReadAll(h.filePath("r.html"));
    QVERIFY(html.contains("Board 7 &amp; co"));
    QVERIFY(html.contains("<tr data-reg=\"20\"><td class=\"mono\">20</td><td>R20</td><td class=\"mono num\">28</td>"));
    QVERIFY(html.contains("<div class=\"key\" data-key=\"3\">"));
    QVERIFY(html.contains("20 samples, 0 touches"));
    QVERIFY(html.contains("Signals history"));
    QVERIFY2(StatusText(w).startsWith("Tuning report written"), qPrintable(StatusText(w)));
}

QTEST_MAIN(tst_handoff_window)
#include "tst_handoff_window.moc"
