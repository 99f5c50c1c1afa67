// "Save File" and "Load File" on the register tab.
#include <QDir>
#include <QFileDialog>
#include <QMessageBox>
#include <QStatusBar>

#include "app/config.h"
#include "app/limits.h"
#include "app/regfile.h"
#include "data/RegisterImage.h"
#include "link/BoardLink.h"
#include "link/ExchangeQueue.h"
#include "mainwindow/MainWindow.h"
#include "ui_MainWindow.h"
#include "ui_RegisterCell.h"
#include "views/RegisterCell.h"
#include "workers/BoardOps.h"
#include "workers/BoardSession.h"

namespace {

// Qt's own dialog on every desktop: it looks the same everywhere and tests can
// drive it.
constexpr QFileDialog::Options kDialogOptions = QFileDialog::DontUseNativeDialog;

// The path is remembered before the file is opened, so that the next dialog
// starts there even when this attempt fails.
bool Remember_Path(BoardSession& session, const QString& path) {
    session.setRegisterFile(path);
    return Config_WriteKey(session.workDir(), QStringLiteral("PATH"), QStringLiteral("REG_FILE"), path);
}

// "1 register", "2 registers".
QString Counted(int n, const char* one, const char* many) {
    return QStringLiteral("%1 %2").arg(n).arg(QLatin1String(n == 1 ? one : many));
}

QString NotRememberedNote(bool remembered) {
    return remembered ? QString() : QObject::tr(" (the path could not be stored in config.ini)");
}

}  // namespace

void MainWindow::onSaveClicked() {
    const QString name = QFileDialog::getSaveFileName(this, tr(""), m_Session->registerFile(),
                                                      tr("register files (*.sf)"), nullptr, kDialogOptions);
    if (name.isEmpty()) return;
    const bool remembered = Remember_Path(*m_Session, name);

    // What the cells show, typed-but-unconfirmed text included: Save does not
    // talk to the chip.
    QByteArray content;
    int count = 0;
    for (int a = 0; a < 256; ++a) {
        if (m_RegCells[a] == nullptr) continue;
        content += RegFile_FormatLine(a, m_RegCells[a]->ui->lineEdit_data->text().toLocal8Bit());
        ++count;
    }

    QString why;
    if (!RegFile_Save(name, content, &why)) {
        const QString text = tr("The register file was not saved:\n%1\n\n%2").arg(QDir::toNativeSeparators(name), why);
        ui->statusBar->showMessage(tr("Register file NOT saved: %1").arg(name) + NotRememberedNote(remembered));
        QMessageBox::warning(this, tr("Save File"), text);
        return;
    }
    ui->lineEdit_File->setText(name);
    ui->statusBar->showMessage(tr("Saved %1 to %2").arg(Counted(count, "register", "registers"), name) +
                               NotRememberedNote(remembered));
}

void MainWindow::onLoadClicked() {
    // One file at a time: the status and the read that end a Load speak of
    // one file.
    if (m_LoadBusy) {
        ui->statusBar->showMessage(tr("A register file is still being loaded"));
        return;
    }
    const QString name = QFileDialog::getOpenFileName(this, tr(""), m_Session->registerFile(),
                                                      tr("register files (*.sf)"), nullptr, kDialogOptions);
    if (name.isEmpty()) return;
    const bool remembered = Remember_Path(*m_Session, name);

    RegFileReader reader;
    if (!reader.open(name)) {
        const QString text = tr("The register file could not be opened:\n%1\n\n%2")
                                 .arg(QDir::toNativeSeparators(name), reader.errorString());
        ui->statusBar->showMessage(tr("Register file NOT loaded: %1").arg(name) + NotRememberedNote(remembered));
        QMessageBox::warning(this, tr("Load File"), text);
        return;
    }

    m_LoadBusy = true;
    const uint8_t dev = m_Session->chipAddress();
    RegisterImage* image = &m_Session->image();
    auto file = std::make_shared<RegFileReader>(std::move(reader));
    m_Session->exchanges().post(
        this,
        [file, image, dev](BoardLink& link) {
            RegFileLoad load;
            load.result = RegFile_WriteToChip(
                link, file.get(), dev,
                [&load](const RegFileLine& line) {
                    load.written.append({line.address, line.valueText});
                },
                [&link, image, dev](uint8_t reg, uint8_t value) {
                    return Register_Write(link, *image, dev, reg, value);
                });
            return load;
        },
        [this, file, name, remembered](const RegFileLoad& load) { End_Load(*file, name, remembered, load); });
}

void MainWindow::End_Load(const RegFileReader& reader, const QString& name, bool remembered, const RegFileLoad& load) {
    m_LoadBusy = false;
    if (load.result.aborted) return;
    for (const auto& [address, text] : load.written)
        if (RegisterCell* cell = m_RegCells[address]) cell->ui->lineEdit_data->setText(QString::fromLocal8Bit(text));
    const int written = load.result.written;
    const int refused = load.result.refused;
    const int skipped = load.result.skipped;

    QString status = tr("Loaded %1: %2 written, %3 skipped")
                         .arg(name, Counted(written, "register", "registers"), Counted(skipped, "line", "lines"));
    if (refused > 0) status += tr(", %1 not acknowledged by the board").arg(Counted(refused, "write", "writes"));
    if (reader.failed())
        status +=
            tr("; reading stopped after line %1: %2").arg(QString::number(reader.lineNumber()), reader.errorString());
    status += NotRememberedNote(remembered);

    ui->lineEdit_File->setText(name);
    // The cells now show the file's text; the read replaces it with what the
    // chip really holds.
    onReadClicked();
    ui->statusBar->showMessage(status);

    if (reader.failed()) {
        QMessageBox::warning(
            this, tr("Load File"),
            tr("Reading %1 stopped after line %2:\n%3\n\nThe lines before it were written.")
                .arg(QDir::toNativeSeparators(name), QString::number(reader.lineNumber()), reader.errorString()));
    }
}
