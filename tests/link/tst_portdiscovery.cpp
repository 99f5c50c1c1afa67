// Port discovery over a fake sysfs tty tree.
#include <unistd.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

#include "link/PortDiscovery.h"

namespace {

// Lays out root/NAME/device/driver -> .../drivers/DRIVER the way sysfs does;
// an empty driver gives a tty without a device (console, pty).
bool AddTty(const QString& root, const QString& name, const QString& driver) {
    const QString dir = root + '/' + name + (driver.isEmpty() ? QString() : QStringLiteral("/device"));
    if (!QDir().mkpath(dir)) return false;
    if (driver.isEmpty()) return true;
    return QFile::link("../../../bus/usb-serial/drivers/" + driver, dir + "/driver");
}

}  // namespace

class tst_PortDiscovery : public QObject {
    Q_OBJECT

private slots:
    void listsBridgePorts_thenExtra_thenCommandLine_once() {
        QTemporaryDir tmp;
        QVERIFY(tmp.isValid());
        const QString root = tmp.path() + "/tty";
        QVERIFY(AddTty(root, "ttyUSB1", "cp210x"));
        QVERIFY(AddTty(root, "ttyUSB0", "cp210x"));
        QVERIFY(AddTty(root, "ttyUSB2", "ftdi_sio"));
        QVERIFY(AddTty(root, "ttyS0", "serial8250"));
        QVERIFY(AddTty(root, "ttyACM0", "cdc_acm"));
        QVERIFY(AddTty(root, "ttyCP0", "cp210x_other"));
        QVERIFY(AddTty(root, "tty0", QString()));

        const QStringList extra = Split_PortList(" /dev/ttyS4 ;;/dev/ttyUSB0; /dev/pts/7 ");
        QCOMPARE(extra, QStringList({"/dev/ttyS4", "/dev/ttyUSB0", "/dev/pts/7"}));
        const QStringList cmdLine{"/dev/pts/7", "/dev/pts/9"};

        const QStringList ports = Discover_Ports(root, extra, cmdLine, nullptr);
        QCOMPARE(ports,
                 QStringList({"NONE", "/dev/ttyUSB0", "/dev/ttyUSB1", "/dev/ttyS4", "/dev/pts/7", "/dev/pts/9"}));
    }

    void missingTree_leavesConfiguredPortsOnly() {
        QCOMPARE(Discover_Ports("/nonexistent/sys/class/tty", {}, {}, nullptr), QStringList({"NONE"}));
        QCOMPARE(Discover_Ports("/nonexistent/sys/class/tty", {"/dev/ttyS1"}, {}, nullptr),
                 QStringList({"NONE", "/dev/ttyS1"}));
    }

    void traceListsEveryScannedTty() {
        QTemporaryDir tmp;
        const QString root = tmp.path() + "/tty";
        QVERIFY(AddTty(root, "ttyUSB0", "cp210x"));
        QVERIFY(AddTty(root, "ttyS0", "serial8250"));
        QTemporaryFile out;
        QVERIFY(out.open());
        FILE* trace = fdopen(dup(out.handle()), "w");
        QVERIFY(trace);
        Discover_Ports(root, {}, {}, trace);
        fclose(trace);
        out.seek(0);
        QCOMPARE(out.readAll(), QByteArray("\nNumber of entries: 2\n(1) ttyS0\n(2) ttyUSB0\n"));
    }

    void indexToSelect_followsTheOpenPort() {
        const QStringList ports{"NONE", "/dev/ttyUSB0", "/dev/ttyUSB1"};
        QCOMPARE(Port_IndexToSelect(ports, "/dev/ttyUSB1"), 2);
        QCOMPARE(Port_IndexToSelect(ports, QString()), 0);
        QCOMPARE(Port_IndexToSelect(ports, "/dev/ttyUSB7"), 0);  // unplugged since
        QCOMPARE(Port_IndexToSelect(ports, "NONE"), 0);
    }
};

QTEST_GUILESS_MAIN(tst_PortDiscovery)
#include "tst_portdiscovery.moc"
