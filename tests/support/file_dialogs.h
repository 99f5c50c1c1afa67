// Answers the file dialogs the window opens, from a timer, as an engineer
// would: types the path into the name field and accepts once the field still
// shows it a tick later (accepting at first sight could come while the dialog
// is being shown, before exec() runs its loop, which would then wait for
// good). An empty path cancels. Notes where the first dialog started and what
// it offered.
//
//   FileDialogAnswerer answer(path);   // every dialog while it lives
//   w->pushButton_Load->click();
//   QCOMPARE(answer.answered(), 1);
#pragma once

#include <QObject>
#include <QPointer>
#include <QString>
#include <QStringList>
#include <QTimer>

class QFileDialog;
class QWidget;

class FileDialogAnswerer : public QObject {
public:
    enum Scope { EveryDialog, NextDialogOnly };

    explicit FileDialogAnswerer(const QString& path, Scope scope = EveryDialog);

    // Dialogs accepted or cancelled so far.
    int answered() const { return m_answered; }

    // About the first dialog seen.
    bool seen() const { return m_seen; }
    QString startDir() const { return m_startDir; }
    QString startFile() const { return m_startFile; }
    QStringList filters() const { return m_filters; }
    bool saving() const { return m_saving; }
    QWidget* parent() const { return m_parent; }

private:
    void poll();
    void done();

    QString m_path;
    Scope m_scope;
    QTimer m_timer;
    QPointer<QFileDialog> m_typedInto;
    int m_answered = 0;
    bool m_seen = false;
    QString m_startDir;
    QString m_startFile;
    QStringList m_filters;
    bool m_saving = false;
    QWidget* m_parent = nullptr;
};
