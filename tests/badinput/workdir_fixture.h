// A working directory with exactly the files a test writes (in any bytes),
// and the main window started in it. The directory may be given, so that
// tests can start the tool in awkward places.
#pragma once

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <memory>

#include "app/limits.h"
#include "mainwindow/MainWindow.h"
#include "support/file_dialogs.h"
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
        m_oldCwd = QDir::currentPath();
        if (!QDir::setCurrent(m_path)) return nullptr;
        m_window = new MainWindow();
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
