#include "link/PortFailure.h"

#include <grp.h>
#include <sys/stat.h>

#include <QFile>
#include <cerrno>
#include <cstring>

namespace {

// The group that owns the device node (dialout on Debian), so the advice
// names the group that really grants access.
QString OwningGroup(const QString& path) {
    struct stat st {};
    if (::stat(QFile::encodeName(path).constData(), &st) == 0) {
        if (const group* g = ::getgrgid(st.st_gid)) return QString::fromLocal8Bit(g->gr_name);
    }
    return QStringLiteral("dialout");
}

}  // namespace

QString Port_FailureReason(int err, const QString& path) {
    if (err <= 0) return QString();
    const QString system = QString::fromLocal8Bit(std::strerror(err));
    switch (err) {
        case EACCES:
        case EPERM:
            return system + QStringLiteral(": the device belongs to the ") + OwningGroup(path) +
                   QStringLiteral(" group; join it, or install the package's udev rule, then plug the board in again");
        case EBUSY:
            return system + QStringLiteral(": another program holds the port");
        case ENOTTY:
        case EINVAL:
            return system + QStringLiteral(": this is not a serial port");
        case EIO:
        case ENXIO:
        case ENODEV:
            return system + QStringLiteral(": the board was unplugged or its line hung up");
        default:
            return system;
    }
}
