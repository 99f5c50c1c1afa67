#include "platform/instance_marker.h"

#include <QDir>
#include <QLockFile>
#include <QStandardPaths>
#include <map>
#include <memory>

QString InstanceMarker_Name(const QString& programPath) {
    const qsizetype cut = std::max(programPath.lastIndexOf(u'/'), programPath.lastIndexOf(u'\\'));
    return cut < 0 ? programPath : programPath.mid(cut + 1);
}

QString InstanceMarker_Path(const QString& name, const QString& dir) {
    QString base = dir;
    if (base.isEmpty()) base = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
    if (base.isEmpty()) base = QDir::tempPath();
    // A program started by a bare path with separators of the other kind, or
    // with no name at all, still gets a usable file name.
    QString file = name;
    file.replace(u'/', u'_');
    if (file.isEmpty()) file = QStringLiteral("unnamed");
    return QDir(base).filePath(file + QStringLiteral(".instance.lock"));
}

bool InstanceMarker_Take(const QString& name, const QString& dir) {
    // Held for the life of the process, deliberately never released.
    static std::map<QString, std::unique_ptr<QLockFile>> s_held;
    const QString path = InstanceMarker_Path(name, dir);
    if (s_held.count(path) != 0) return true;
    auto lock = std::make_unique<QLockFile>(path);
    // Age never makes a holder's lock stale; a lock left by a dead process
    // still is, so a crash does not mark every later start as a second one.
    lock->setStaleLockTime(0);
    if (!lock->tryLock(0)) return false;
    s_held.emplace(path, std::move(lock));
    return true;
}
