// Tools menu: handing the tuning over. Comparing the register table with a
// register file, exporting it as a C header, and the tuning report.
#include <QDateTime>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QInputDialog>
#include <QMessageBox>
#include <QStatusBar>

#include "app/config.h"
#include "app/limits.h"
#include "app/regfile.h"
#include "data/LogPlayer.h"
#include "data/LogRecorder.h"
#include "data/SampleStream.h"
#include "handoff/HandoffInfo.h"
#include "handoff/HeaderWriter.h"
#include "handoff/KeyTraceBuilder.h"
#include "handoff/RegisterNames.h"
#include "handoff/RegisterSet.h"
#include "handoff/TuningReport.h"
#include "mainwindow/MainWindow.h"
#include "tuning/SnrProcedure.h"
#include "ui_MainWindow.h"
#include "ui_RegisterCell.h"
#include "views/RegisterCell.h"
#include "views/SnrDialog.h"
#include "workers/BoardOps.h"
#include "workers/BoardSession.h"

namespace {

constexpr QFileDialog::Options kDialogOptions = QFileDialog::DontUseNativeDialog;

// What a cell shows, as a register value; -1 for text that is none.
int CellValue(const RegisterCell* cell) {
    bool ok = false;
    const uint v = cell->ui->lineEdit_data->text().trimmed().toUInt(&ok, 16);
    return ok && v <= 0xFF ? static_cast<int>(v) : -1;
}

QString StartDir(const BoardSession& session) {
    return session.registerFile().isEmpty() ? session.workDir() : QFileInfo(session.registerFile()).absolutePath();
}

}  // namespace

void MainWindow::Init_Handoff() {
    connect(ui->actionCompare, &QAction::triggered, this, &MainWindow::onCompareTriggered);
    connect(ui->actionClearComparison, &QAction::triggered, this, &MainWindow::Clear_Comparison);
    connect(ui->actionExportHeader, &QAction::triggered, this, &MainWindow::onExportHeaderTriggered);
    connect(ui->actionReport, &QAction::triggered, this, &MainWindow::onReportTriggered);
}

void MainWindow::Keep_SnrResult() {
    SnrDialog* dialog = m_SnrDialog;
    SnrProcedure* proc = dialog->procedure();
    connect(proc, &SnrProcedure::finished, this, [this, proc] {
        if (proc->phase() != SnrProcedure::Phase::Done) return;
        m_LastSnr.results = proc->results();
        m_LastSnr.info.date = QDateTime::currentDateTime();
        m_LastSnr.info.device = m_Session->device();
        m_LastSnr.info.firmware = firmwareText();
        m_LastSnr.info.i2c = m_Session->i2cAddress();
        m_LastSnr.info.margin = proc->settings().margin;
        m_HaveSnr = true;
    });
}

void MainWindow::Clear_Comparison() {
    for (RegisterCell* cell : m_RegCells)
        if (cell != nullptr) cell->clearComparison();
    ui->actionClearComparison->setEnabled(false);
}

void MainWindow::onCompareTriggered() {
    const QString name = QFileDialog::getOpenFileName(this, tr("Compare with file"), StartDir(*m_Session),
                                                      tr("register files (*.sf)"), nullptr, kDialogOptions);
    if (!name.isEmpty()) Compare_WithFile(name);
}

bool MainWindow::Compare_WithFile(const QString& name) {
    RegisterSet file;
    QString error;
    if (!RegisterSet_Read(name, &file, &error)) {
        ui->statusBar->showMessage(tr("Not compared: %1").arg(error));
        QMessageBox::warning(this, tr("Compare with file"), tr("The register file was not compared:\n%1").arg(error));
        return false;
    }
    // What the chip holds now, where there is a chip; the read clears any
    // earlier marks. Without one, the table as it stands.
    Read_TableThen([this, file, name] { Mark_Comparison(file, name); });
    return true;
}

void MainWindow::Mark_Comparison(const RegisterSet& file, const QString& name) {
    Clear_Comparison();
    int compared = 0;
    int differing = 0;
    int withoutCell = 0;
    for (auto it = file.cbegin(); it != file.cend(); ++it) {
        RegisterCell* cell = m_RegCells[it.key()];
        if (cell == nullptr) {
            ++withoutCell;
            continue;
        }
        ++compared;
        if (CellValue(cell) == it.value()) continue;
        cell->setComparison(it.value());
        ++differing;
    }
    ui->actionClearComparison->setEnabled(differing > 0);
    QString text = differing == 0 ? tr("All %1 registers compared equal %2").arg(compared).arg(name)
                                  : tr("%1 of %2 registers differ from %3").arg(differing).arg(compared).arg(name);
    if (withoutCell > 0) text += tr(" (%1 registers of the file have no cell)").arg(withoutCell);
    ui->statusBar->showMessage(text);
}

void MainWindow::onExportHeaderTriggered() {
    bool ok = false;
    const QString prefix = QInputDialog::getText(this, tr("Export C header"), tr("Prefix of every name in the header:"),
                                                 QLineEdit::Normal, Header_DefaultPrefix(m_Session->device()), &ok)
                               .trimmed();
    if (!ok) return;
    const QString bad = Header_CheckPrefix(prefix);
    if (!bad.isEmpty()) {
        QMessageBox::warning(this, tr("Export C header"), tr("Not exported: %1.").arg(bad));
        return;
    }
    const QString start = QDir(StartDir(*m_Session)).filePath(prefix.toLower() + QStringLiteral("_tuning.h"));
    const QString name = QFileDialog::getSaveFileName(this, tr("Export C header"), start,
                                                      tr("C header (*.h);;JSON (*.json)"), nullptr, kDialogOptions);
    if (name.isEmpty()) return;
    Read_TableThen([this, prefix, name] { Export_Header(prefix, name); });
}

void MainWindow::Export_Header(const QString& prefix, const QString& name) {
    QVector<NamedRegister> regs;
    int unreadable = 0;
    for (int a = 0; a < 256; ++a) {
        if (m_RegCells[a] == nullptr) continue;
        const int v = CellValue(m_RegCells[a]);
        if (v < 0) {
            ++unreadable;
            continue;
        }
        regs.append({a, static_cast<uint8_t>(v), QString(), QString()});
    }
    if (regs.isEmpty()) {
        QMessageBox::warning(this, tr("Export C header"), tr("Not exported: the register table is empty."));
        return;
    }
    // hint.txt again rather than the cells' tool tips, for its UTF-8.
    RegName_Assign(&regs, RegName_ReadHints(m_Session->workFile("hint.txt")), Header_ReservedNames());

    HandoffInfo info;
    info.toolVersion = Handoff_ToolVersion();
    info.date = QDateTime::currentDateTimeUtc();
    info.device = m_Session->device();
    info.family = m_Session->family();
    info.i2c = m_Session->i2cAddress();
    const bool chip = m_Session->chipPresent();
    info.firmware = firmwareText();
    info.source = chip ? tr("chip on %1 (register table)").arg(m_PortPath) : tr("register table (no chip)");
    const bool json = name.endsWith(QLatin1String(".json"), Qt::CaseInsensitive);
    const QByteArray text = json ? Header_JsonText(info, prefix, regs) : Header_CText(info, prefix, regs);
    QString why;
    if (!RegFile_Save(name, text, &why)) {
        ui->statusBar->showMessage(tr("Header NOT written: %1").arg(name));
        QMessageBox::warning(this, tr("Export C header"), tr("The header was not written:\n%1\n\n%2").arg(name, why));
        return;
    }
    QString status = tr("Exported %1 registers to %2").arg(regs.size()).arg(name);
    if (unreadable > 0) status += tr("; %1 cells without a hex value left out").arg(unreadable);
    ui->statusBar->showMessage(status);
}

void MainWindow::onReportTriggered() {
    bool ok = false;
    const QString note = QInputDialog::getMultiLineText(
        this, tr("Tuning report"), tr("A note for the report (board, purpose, findings):"), QString(), &ok);
    if (!ok) return;
    const QString start =
        QDir(StartDir(*m_Session))
            .filePath(
                QStringLiteral("tuning-report-%1.html").arg(QDateTime::currentDateTime().toString("yyyyMMdd-HHmmss")));
    const QString name =
        QFileDialog::getSaveFileName(this, tr("Tuning report"), start, tr("HTML (*.html)"), nullptr, kDialogOptions);
    if (name.isEmpty()) return;

    TuningReport report;
    report.info.toolVersion = Handoff_ToolVersion();
    report.info.date = QDateTime::currentDateTimeUtc();
    report.info.device = m_Session->device();
    report.info.family = m_Session->family();
    report.info.firmware = firmwareText();
    report.info.i2c = m_Session->i2cAddress();
    report.info.note = note;
    report.info.source = tr("register table");
    for (int a = 0; a < 256; ++a) {
        if (m_RegCells[a] == nullptr) continue;
        const int v = CellValue(m_RegCells[a]);
        if (v < 0) continue;
        report.registers.append({a, static_cast<uint8_t>(v), QString(), QString()});
    }
    RegName_Assign(&report.registers, RegName_ReadHints(m_Session->workFile("hint.txt")));
    report.haveSnr = m_HaveSnr;
    report.snr = m_LastSnr;

    const int family = m_Session->family();
    KeyTraceBuilder traces(family, TuningReport_SbfOf(report, m_Session->sbfCount()),
                           TuningReport_Thresholds(report, family));
    // The log being written or replayed covers more than the history does.
    const QString log = m_Player ? m_Player->path() : m_Recorder->isRecording() ? m_Recorder->path() : QString();
    if (!log.isEmpty()) {
        QString error;
        if (!traces.readLog(log, &error, &report.notes)) {
            QMessageBox::warning(this, tr("Tuning report"), tr("The report was not written:\n%1").arg(error));
            return;
        }
        report.traceSource = tr("log %1").arg(QFileInfo(log).fileName());
    } else {
        traces.readHistory(m_Stream->history(), m_Session->channelCount());
        report.traceSource = tr("Signals history");
    }
    report.traces = traces.finish();
    report.fromMs = qMax<qint64>(0, traces.firstMs());
    report.toMs = traces.lastMs();
    if (report.traces.isEmpty()) report.traceSource.clear();

    QString why;
    if (!RegFile_Save(name, TuningReport_Html(report), &why)) {
        ui->statusBar->showMessage(tr("Report NOT written: %1").arg(name));
        QMessageBox::warning(this, tr("Tuning report"), tr("The report was not written:\n%1\n\n%2").arg(name, why));
        return;
    }
    ui->statusBar->showMessage(tr("Tuning report written to %1").arg(name));
}
