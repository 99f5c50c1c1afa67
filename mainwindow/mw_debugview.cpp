// The Debug tab's byte view and the board's event frames, which arrive mixed
// into the same byte stream.
#include <QCheckBox>
#include <QTextCursor>
#include <QTextDocument>
#include <QTextEdit>

#include "app/limits.h"
#include "link/BoardLink.h"
#include "link/event_frames.h"
#include "mainwindow/MainWindow.h"
#include "ui_MainWindow.h"
#include "views/MonitoringDialog.h"
#include "workers/BoardSession.h"

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

void MainWindow::onBytesReceived() {
    // Undo history would keep every trimmed character alive; the view is a
    // log, so editing it is allowed but not undoable.
    if (ui->textEdit_debug->isUndoRedoEnabled()) ui->textEdit_debug->setUndoRedoEnabled(false);

    const bool show = ui->checkBox_show->isChecked();
    QString first;
    QString rest;
    auto shown = [&]() -> QString& { return first.isEmpty() ? first : rest; };

    const int channels = m_Session->channelCount();
    // A lapped ring: drop the frame in progress rather than splice two streams.
    DebugRing_Drain(
        m_Session->link().traffic, [&](uint8_t b) { Take_DebugByte(b, show, shown(), channels); },
        [this] { m_Frames.dropFrame(); });

    if (!first.isEmpty()) AppendToView(ui->textEdit_debug, first, rest);
}

void MainWindow::Take_DebugByte(uint8_t b, bool show, QString& out, int channels) {
    if (show) {
        out += QChar(static_cast<char16_t>(b));  // bytes 0x80..0xFF as Latin-1
        if (b == 0x03) out += QStringLiteral("\r\n");
    }

    const EventFrameEvent ev = m_Frames.feed(b, channels);
    if (ev.kind == EventFrameEvent::Touch) {
        showTouchMask(ev.touchMask);
    } else if (ev.kind == EventFrameEvent::Status) {
        for (int i = 0; i < ev.statusCount; ++i) m_SbfStatus[i] = ev.status[i];
        if (m_MonitoringDialog && m_MonitoringDialog->isVisible()) {
            for (int i = 0; i < ev.statusCount; ++i)
                m_MonitoringDialog->Update_SbfStatus(static_cast<uint8_t>(i), m_SbfStatus[i]);
        }
    }
}
