#include "link/PortDiscovery.h"

#include <unistd.h>

#include <QDir>
#include <QFileInfo>

namespace {

// Basename of the driver symlink of a tty's device; empty when the tty has
// no device (virtual consoles, ptys) or the link cannot be read.
QString DriverOf(const QString& sysfsRoot, const QString& tty) {
    const QByteArray link = QFile::encodeName(sysfsRoot + QLatin1Char('/') + tty + QStringLiteral("/device/driver"));
    char target[4096];
    const ssize_t n = ::readlink(link.constData(), target, sizeof target - 1);
    if (n <= 0) return QString();
    target[n] = '\0';
    return QFileInfo(QFile::decodeName(target)).fileName();
}

// The serial number of the USB device a tty hangs off: the first ancestor of
// its device that is a USB device (it has idVendor). Stops there, so a board
// without a serial number never borrows its hub's.
QString SerialOfTty(const QString& sysfsRoot, const QString& tty) {
    QString dir = QFileInfo(sysfsRoot + QLatin1Char('/') + tty + QStringLiteral("/device")).canonicalFilePath();
    for (int depth = 0; depth < 6 && !dir.isEmpty() && dir != QLatin1String("/"); ++depth) {
        if (QFile::exists(dir + QStringLiteral("/idVendor"))) {
            QFile serial(dir + QStringLiteral("/serial"));
            if (!serial.open(QIODevice::ReadOnly)) return QString();
            return QString::fromLatin1(serial.read(256)).trimmed();
        }
        dir = QFileInfo(dir).path();
    }
    return QString();
}

void AppendOnce(QStringList& ports, const QString& path) {
    if (!path.isEmpty() && !ports.contains(path)) ports.append(path);
}

}  // namespace

QStringList Discover_Ports(const QString& sysfsRoot, const QStringList& extraPaths, const QStringList& cmdLinePaths,
                           FILE* trace) {
    QStringList ports{QString::fromLatin1(kNoPort)};

    const QDir root(sysfsRoot);
    const QStringList ttys = root.exists()
                                 ? root.entryList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot, QDir::Name)
                                 : QStringList();
    if (trace != nullptr && !ttys.isEmpty()) {
        std::fprintf(trace, "\nNumber of entries: %d\n", static_cast<int>(ttys.size()));
        for (int i = 0; i < ttys.size(); ++i)
            std::fprintf(trace, "(%d) %s\n", i + 1, ttys[i].toLocal8Bit().constData());
        std::fflush(trace);
    }
    for (const QString& tty : ttys) {
        if (DriverOf(sysfsRoot, tty) == QLatin1String(kBridgeDriver)) AppendOnce(ports, QStringLiteral("/dev/") + tty);
    }
    for (const QString& path : extraPaths) AppendOnce(ports, path.trimmed());
    for (const QString& path : cmdLinePaths) AppendOnce(ports, path.trimmed());
    return ports;
}

QStringList Split_PortList(const QString& list) {
    QStringList out;
    for (const QString& part : list.split(QLatin1Char(';'), Qt::SkipEmptyParts)) {
        const QString path = part.trimmed();
        if (!path.isEmpty()) out.append(path);
    }
    return out;
}

int Port_IndexToSelect(const QStringList& ports, const QString& openPath) {
    if (openPath.isEmpty()) return 0;
    const int at = ports.indexOf(openPath);
    return at > 0 ? at : 0;
}

QString Port_UsbSerial(const QString& sysfsRoot, const QString& path) {
    const QString target = QFileInfo(path).canonicalFilePath();
    if (!target.startsWith(QLatin1String("/dev/"))) return QString();
    return SerialOfTty(sysfsRoot, QFileInfo(target).fileName());
}

QString Port_FindBySerial(const QString& sysfsRoot, const QString& serial) {
    if (serial.isEmpty()) return QString();
    const QStringList ttys =
        QDir(sysfsRoot).entryList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot, QDir::Name);
    for (const QString& tty : ttys) {
        if (SerialOfTty(sysfsRoot, tty) == serial) return QStringLiteral("/dev/") + tty;
    }
    return QString();
}
