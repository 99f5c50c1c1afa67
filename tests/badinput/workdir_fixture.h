// A working directory with exactly the files a test writes (in any bytes),
// and the main window started in it. The directory may be given, so that
// tests can start the tool in awkward places.
#pragma once

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QLineEdit>
#include <QPointer>
#include <QTemporaryDir>
#include <QTimer>
#include <memory>

#include "app/globals.h"
#include "mainwindow/unit_mainwindow.h"
#include "support/mw_harness.h"

class WorkdirWindow {
public:
    // In a fresh temporary directory, or in dir (created if need be).
    explicit WorkdirWindow(const QString& dir = QString()) {
        if (dir.isEmpty()) {
            m_tmp = std::make_unique<QTemporaryDir>();
            m_path = m_tmp->path();
        } else {
            m_path = dir;
            QDir().mkpath(dir);
        }
    }
    ~WorkdirWindow() {
        if (m_window) {
            m_window->close();
            delete m_window;
        }
        g_MainWindow = nullptr;
        MwHarness::ResetGlobals();
        if (!m_oldCwd.isEmpty()) QDir::setCurrent(m_oldCwd);
    }
    WorkdirWindow(const WorkdirWindow&) = delete;
    WorkdirWindow& operator=(const WorkdirWindow&) = delete;

    QString path() const { return m_path; }
    QString file(const QString& name) const { return QDir(m_path).filePath(name); }
    bool write(const QString& name, const QByteArray& bytes) const {
        QFile f(file(name));
        return f.open(QIODevice::WriteOnly | QIODevice::Truncate) && f.write(bytes) == bytes.size();
    }
    QByteArray read(const QString& name) const {
        QFile f(file(name));
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    }

    // Starts the window with the directory as the working directory.
    MainWindow* open() {
        MwHarness::ResetGlobals();
        m_oldCwd = QDir::currentPath();
        if (!QDir::setCurrent(m_path)) return nullptr;
        m_window = new MainWindow();
        g_MainWindow = m_window;
        m_window->show();
        return m_window;
    }
    MainWindow* window() const { return m_window; }

private:
    std::unique_ptr<QTemporaryDir> m_tmp;
    QString m_path;
    QString m_oldCwd;
    MainWindow* m_window = nullptr;
};

// Answers every file dialog that opens with path, from a timer: one tick
// points the dialog at the file, a later one accepts once the dialog shows
// that file as its selection. Accepting at the first sighting could come
// while the dialog is still being shown, before exec() runs its loop (which
// would then wait for good), or before the dialog has moved to the file's
// folder.
class FileDialogAnswerer : public QObject {
public:
    explicit FileDialogAnswerer(const QString& path) : m_path(QFileInfo(path).absoluteFilePath()) {
        connect(&m_timer, &QTimer::timeout, this, [this] {
            auto* dlg = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
            if (dlg == nullptr || !dlg->isVisible()) return;
            if (dlg != m_pointed) {
                m_pointed = dlg;
                dlg->setDirectory(QFileInfo(m_path).absolutePath());
                return;
            }
            if (dlg->selectedFiles().value(0) != m_path) {
                // Typed as the engineer would: selectFile() leaves a focused
                // name field alone.
                if (auto* edit = dlg->findChild<QLineEdit*>(QStringLiteral("fileNameEdit")))
                    edit->setText(QFileInfo(m_path).fileName());
                return;
            }
            m_pointed = nullptr;
            ++m_answered;
            static_cast<QDialog*>(dlg)->accept();
        });
        m_timer.start(10);
    }
    int answered() const { return m_answered; }

private:
    QString m_path;
    QTimer m_timer;
    QPointer<QFileDialog> m_pointed;
    int m_answered = 0;
};
