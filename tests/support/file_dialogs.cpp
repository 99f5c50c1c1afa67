#include "support/file_dialogs.h"

#include <QApplication>
#include <QFileDialog>
#include <QFileInfo>
#include <QLineEdit>

FileDialogAnswerer::FileDialogAnswerer(const QString& path, Scope scope)
    : m_path(path.isEmpty() ? QString() : QFileInfo(path).absoluteFilePath()), m_scope(scope) {
    connect(&m_timer, &QTimer::timeout, this, &FileDialogAnswerer::poll);
    m_timer.start(10);
}

void FileDialogAnswerer::done() {
    m_typedInto = nullptr;
    ++m_answered;
    if (m_scope == NextDialogOnly) m_timer.stop();
}

void FileDialogAnswerer::poll() {
    auto* dlg = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
    if (dlg == nullptr || !dlg->isVisible()) return;
    if (!m_seen) {
        m_seen = true;
        m_startDir = dlg->directory().absolutePath();
        m_startFile = dlg->selectedFiles().value(0);
        m_filters = dlg->nameFilters();
        m_saving = dlg->acceptMode() == QFileDialog::AcceptSave;
        m_parent = dlg->parentWidget();
    }
    // Typed as the engineer would: selectFile() with a path in another folder
    // only takes effect once the folder has been listed, and leaves a focused
    // name field alone.
    auto* edit = dlg->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
    if (m_path.isEmpty() || edit == nullptr) {
        dlg->reject();
        done();
        return;
    }
    if (dlg != m_typedInto || edit->text() != m_path) {
        m_typedInto = dlg;
        edit->setText(m_path);
        return;
    }
    // Through QDialog (accept() is protected in QFileDialog), which still runs
    // the dialog's own checks (existing file, overwrite question).
    static_cast<QDialog*>(dlg)->accept();
    done();
}
