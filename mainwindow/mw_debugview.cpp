// The Debug tab's byte view and the board's event frames, which arrive mixed
// into the same byte stream.
#include <QCheckBox>
#include <QTextCursor>
#include <QTextDocument>
#include <QTextEdit>
#include <algorithm>

#include "app/limits.h"
#include "mainwindow/MainWindow.h"
#include "ui_MainWindow.h"
#include "views/MonitoringDialog.h"

namespace {
// The view is a live log, not an archive: left ticked for a day at a steady
// stream it would otherwise eat all memory and slow every insertion. Once it
// grows past the cap the oldest text goes, leaving kDebugViewKeepChars so that
// trimming happens in occasional chunks rather than on every batch.
constexpr int kDebugViewMaxChars = 200000;
constexpr int kDebugViewKeepChars = 180000;

void AppendToView(QTextEdit* view, const QString& first, const QString& rest) {
    // A byte went in at the cursor and the cursor then jumped to the end; so
    // only the first piece of a batch can land where the user left the cursor.
    view->insertPlainText(first);
    view->moveCursor(QTextCursor::End);
    if (!rest.isEmpty()) {
        view->insertPlainText(rest);
        view->moveCursor(QTextCursor::End);
    }

    QTextDocument* doc = view->document();
    const int excess = doc->characterCount() - kDebugViewKeepChars;
    if (doc->characterCount() <= kDebugViewMaxChars || excess <= 0) return;
    QTextCursor trim(doc);
    trim.movePosition(QTextCursor::Start);
    trim.setPosition(excess, QTextCursor::KeepAnchor);
    trim.removeSelectedText();
    view->moveCursor(QTextCursor::End);
}
}  // namespace

void MainWindow::showTraffic(const QByteArray& bytes) {
    if (!ui->checkBox_show->isChecked()) return;
    // Undo history would keep every trimmed character alive; the view is a
    // log, so editing it is allowed but not undoable.
    if (ui->textEdit_debug->isUndoRedoEnabled()) ui->textEdit_debug->setUndoRedoEnabled(false);

    // A byte went in at the cursor and the cursor then jumped to the end; so
    // only the first byte of a batch can land where the user left the cursor.
    QString first;
    QString rest;
    for (const char c : bytes) {
        const auto b = static_cast<uint8_t>(c);
        QString& out = first.isEmpty() ? first : rest;
        out += QChar(static_cast<char16_t>(b));  // bytes 0x80..0xFF as Latin-1
        if (b == 0x03) out += QStringLiteral("\r\n");
    }
    AppendToView(ui->textEdit_debug, first, rest);
}

void MainWindow::takeSbfStatus(const QByteArray& status) {
    const int n = std::min<int>(status.size(), kMaxChannels);
    for (int i = 0; i < n; ++i) m_SbfStatus[i] = static_cast<uint8_t>(status[i]);
    if (m_MonitoringDialog && m_MonitoringDialog->isVisible()) {
        for (int i = 0; i < n; ++i) m_MonitoringDialog->Update_SbfStatus(static_cast<uint8_t>(i), m_SbfStatus[i]);
    }
}
