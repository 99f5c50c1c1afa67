#include "app/userdir.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStringList>

namespace {

const QString kSystemIni = QStringLiteral("system.ini");

bool HasSystemIni(const QString& dir) { return QFileInfo::exists(QDir(dir).filePath(kSystemIni)); }

}  // namespace

QString UserDir_Path() {
    QString base = qEnvironmentVariable("XDG_CONFIG_HOME");
    // A relative value is to be ignored, the same as an unset one.
    if (base.isEmpty() || QDir::isRelativePath(base)) base = QDir::home().filePath(QStringLiteral(".config"));
    return QDir::cleanPath(QDir(base).filePath(QStringLiteral("tkeval")));
}

QString UserDir_Examples(const QString& appDir) {
    for (const char* rel : {"../share/tkeval/examples", "share/tkeval/examples"}) {
        const QString dir = QDir::cleanPath(QDir(appDir).filePath(QLatin1String(rel)));
        if (HasSystemIni(dir)) return dir;
    }
    return QString();
}

QString UserDir_EnterAtStart(const QString& appDir) {
    if (HasSystemIni(QDir::currentPath())) return QString();

    const QString dir = UserDir_Path();
    QString note;
    if (!HasSystemIni(dir)) {
        if (!QDir().mkpath(dir))
            return QStringLiteral("Could not create %1; working in %2").arg(dir, QDir::currentPath());
        const QString examples = UserDir_Examples(appDir);
        if (examples.isEmpty()) {
            note = QStringLiteral("Working in %1; no example files were found to fill it").arg(dir);
        } else {
            QStringList copied;
            QStringList failed;
            const QFileInfoList files = QDir(examples).entryInfoList(QDir::Files, QDir::Name);
            for (const QFileInfo& f : files) {
                const QString target = QDir(dir).filePath(f.fileName());
                if (QFileInfo::exists(target)) continue;
                if (!QFile::copy(f.filePath(), target)) {
                    failed.append(f.fileName());
                    continue;
                }
                // Installed examples are read-only; config.ini is written back.
                QFile::setPermissions(target, QFileDevice::ReadOwner | QFileDevice::WriteOwner |
                                                  QFileDevice::ReadGroup | QFileDevice::ReadOther);
                copied.append(f.fileName());
            }
            note = QStringLiteral("Created %1 with %2 from the examples").arg(dir, copied.join(QStringLiteral(", ")));
            if (!failed.isEmpty()) note += QStringLiteral("; could not copy %1").arg(failed.join(QStringLiteral(", ")));
        }
    }
    if (!QDir::setCurrent(dir))
        return QStringLiteral("Could not enter %1; working in %2").arg(dir, QDir::currentPath());
    return note;
}
