// The link kept ready: a lost board is awaited and taken up again when
// reconnecting is on, the port list follows boards plugged in and out, and a
// port that cannot be opened says why.
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <QDir>
#include <QFile>
#include <QMessageBox>
#include <QProcess>
#include <QSignalSpy>
#include <QtTest>

#include "app/config.h"
#include "app/limits.h"
#include "link/PortDiscovery.h"
#include "link/PortWatcher.h"
#include "mainwindow/MainWindow.h"
#include "support/mw_harness.h"
#include "support/pty_peer.h"
#include "ui_MainWindow.h"
#include "workers/BoardSession.h"

namespace {

QString StatusText(MainWindow* w) { return w->ui->statusBar->currentMessage(); }

QStringList ComboItems(MainWindow* w) {
    QStringList items;
    for (int i = 0; i < w->ui->comboBox_COM->count(); ++i) items << w->ui->comboBox_COM->itemText(i);
    return items;
}

// A sysfs tty tree with USB-serial ttys of the board's bridge, each on a USB
// device that has a serial number.
struct FakeSysfs {
    QTemporaryDir dir;
    QString ttyRoot() const { return dir.path() + "/class/tty"; }

    bool plug(const QString& tty, const QString& serial) {
        const QString usb = dir.path() + "/devices/usb1/1-" + tty;
        const QString node = usb + "/1-1:1.0/" + tty;
        QDir().mkpath(node);
        QDir().mkpath(dir.path() + "/bus/drivers/cp210x");
        QDir().mkpath(ttyRoot() + "/" + tty);
        QFile vendor(usb + "/idVendor");
        QFile number(usb + "/serial");
        if (!vendor.open(QIODevice::WriteOnly) || !number.open(QIODevice::WriteOnly)) return false;
        vendor.write("10c4\n");
        number.write(serial.toLatin1() + "\n");
        return QFile::link(dir.path() + "/bus/drivers/cp210x", node + "/driver") &&
               QFile::link(node, ttyRoot() + "/" + tty + "/device");
    }
    bool unplug(const QString& tty) { return QDir(ttyRoot() + "/" + tty).removeRecursively(); }
};

// Port changes announced through a pipe, as udev's monitor would.
struct FakeUdev {
    int fds[2] = {-1, -1};
    FakeUdev() { QVERIFY(::pipe2(fds, O_CLOEXEC | O_NONBLOCK) == 0); }
    ~FakeUdev() {
        ::close(fds[0]);
        ::close(fds[1]);
    }
    PortWatcher* watcher() {
        const int fd = fds[0];
        return new PortWatcher(fd, [fd] {
            char c;
            while (::read(fd, &c, 1) > 0) {
            }
        });
    }
    void announce() { QVERIFY(::write(fds[1], "x", 1) == 1); }
};

// Accepts every message box while it lives, keeping the last one's text and
// informative text.
struct BoxReader : QObject {
    QString text;
    QString reason;
    QTimer poll;
    BoxReader() {
        connect(&poll, &QTimer::timeout, this, [this] {
            for (QWidget* w : QApplication::topLevelWidgets()) {
                auto* box = qobject_cast<QMessageBox*>(w);
                if (box == nullptr || !box->isVisible()) continue;
                text = box->text();
                reason = box->informativeText();
                box->accept();
            }
        });
        poll.start(20);
    }
};

}  // namespace

class tst_Reconnect : public QObject {
    Q_OBJECT

private slots:
    // The simulated board pulled and plugged in again under the same path,
    // through its own command line: the tool waits without a warning and
    // picks up where the engineer was, monitoring included.
    void boardReplugged_isTakenUpAgain_withMonitoring() {
        MwOptions o;
        o.startSim = false;
        o.connect = false;
        o.extraConfig = "[PORT]\nRECONNECT=1\n";
        MwHarness h(o);
        QVERIFY2(h.start(), qPrintable(h.error()));
        MainWindow* w = h.window();
        QVERIFY(w->ui->actionReconnect->isChecked());

        const QString link = h.dir() + "/board";
        QProcess sim;
        sim.start(TKEVAL_SIM_EXE, {"--model", "TK2C", "--channels", "8", "--sbf", "4", "--link", link});
        QVERIFY(sim.waitForStarted(10000));
        QTRY_VERIFY_WITH_TIMEOUT(sim.canReadLine(), 10000);
        w->setCommandLinePorts({link});
        h.choosePort(link);
        QVERIFY(h.waitForChip(15000));
        h.window()->session()->setMonitoredChannels(0x0005);
        w->ui->pushButton_Sense->click();
        QVERIFY(h.window()->session()->sensing());

        MessageBoxCatcher boxes;
        sim.write("replug 1\n");
        QTRY_VERIFY_WITH_TIMEOUT(!h.window()->link()->isLive(), 10000);
        QTRY_VERIFY_WITH_TIMEOUT(StatusText(w).contains("lost; waiting for it to come back"), 10000);
        QVERIFY(StatusText(w).contains(link));
        QVERIFY(!w->ui->pushButton_Sense->isChecked());

        QVERIFY(h.waitForChip(30000));
        QTRY_VERIFY_WITH_TIMEOUT(w->ui->pushButton_Sense->isChecked(), 15000);
        QCOMPARE(StatusText(w), "Board on " + link + " back");
        QVERIFY(h.window()->session()->sensing());
        QCOMPARE(h.window()->session()->monitoredChannels(), uint16_t(0x0005));
        QCOMPARE(w->ui->comboBox_COM->currentText(), link);
        QCOMPARE(boxes.count(), 0);

        // Pulled again, and this time the engineer gives up on it.
        sim.write("replug 2\n");
        QTRY_VERIFY_WITH_TIMEOUT(StatusText(w).contains("waiting"), 10000);
        emit w->ui->comboBox_COM->textActivated(QString::fromLatin1(kNoPort));
        QTest::qWait(3500);  // the board is back by now; nothing may take it up
        QVERIFY(!h.window()->link()->isLive());
        QCOMPARE(boxes.count(), 0);

        sim.write("quit\n");
        QVERIFY(sim.waitForFinished(10000));
    }

    // A port another program holds: the warning keeps its text and says why,
    // and Log.txt keeps the reason.
    void portHeldElsewhere_warningGivesTheReason() {
        MwOptions o;
        o.startSim = false;
        o.connect = false;
        MwHarness h(o);
        QVERIFY2(h.start(), qPrintable(h.error()));
        PtyPeer peer;
        const int held = ::open(peer.slavePath().toLocal8Bit().constData(), O_RDWR | O_NOCTTY | O_CLOEXEC);
        QVERIFY(held >= 0);
        QCOMPARE(::flock(held, LOCK_EX | LOCK_NB), 0);

        BoxReader box;
        h.choosePort(peer.slavePath());  // returns once the warning is answered
        QCOMPARE(box.text, peer.slavePath() + "\nThe port number is invalid.     ");
        QVERIFY2(box.reason.contains("another program holds the port"), qPrintable(box.reason));
        QVERIFY(h.readFile("Log.txt").contains("another program holds the port"));
        QVERIFY(!h.window()->link()->isLive());
        ::close(held);

        // Let go of, it opens.
        h.choosePort(peer.slavePath());
        QVERIFY(h.settle());
        QVERIFY(h.window()->link()->isLive());
    }

    // Boards plugged in and out: the list follows, the port in use stays
    // chosen, and ports named by the engineer stay listed.
    void hotPlug_listFollows_choiceAndNamedPortsStay() {
        MwOptions o;
        o.extraConfig = "[PORT]\nEXTRA=/dev/ttyEXTRA9\n";
        MwHarness h(o);
        QVERIFY2(h.start(), qPrintable(h.error()));
        MainWindow* w = h.window();
        FakeSysfs sysfs;
        FakeUdev udev;
        w->Use_PortSource(sysfs.ttyRoot(), udev.watcher());

        QVERIFY(sysfs.plug("ttyUSB3", "A1"));
        udev.announce();
        QTRY_VERIFY(ComboItems(w).contains("/dev/ttyUSB3"));
        QCOMPARE(ComboItems(w), QStringList({"NONE", "/dev/ttyUSB3", "/dev/ttyEXTRA9", h.simPath()}));
        QCOMPARE(w->ui->comboBox_COM->currentText(), h.simPath());

        QVERIFY(sysfs.unplug("ttyUSB3"));
        udev.announce();
        QTRY_VERIFY(!ComboItems(w).contains("/dev/ttyUSB3"));
        QCOMPARE(ComboItems(w), QStringList({"NONE", "/dev/ttyEXTRA9", h.simPath()}));
        QCOMPARE(w->ui->comboBox_COM->currentText(), h.simPath());
        QVERIFY(h.window()->link()->isLive());
    }

    // A board known by its USB serial number is found again under another
    // name; a board without one never borrows its hub's.
    void findBySerial_data() {
        QTest::addColumn<QString>("serial");
        QTest::addColumn<QString>("found");
        QTest::newRow("same board, new name") << "B7"
                                              << "/dev/ttyUSB1";
        QTest::newRow("another board") << "C9"
                                       << "";
        QTest::newRow("no serial known") << ""
                                         << "";
    }
    void findBySerial() {
        QFETCH(QString, serial);
        QFETCH(QString, found);
        FakeSysfs sysfs;
        QVERIFY(sysfs.plug("ttyUSB0", "A1"));
        QVERIFY(sysfs.plug("ttyUSB1", "B7"));
        QCOMPARE(Port_FindBySerial(sysfs.ttyRoot(), serial), found);
    }
};

QTEST_MAIN(tst_Reconnect)
#include "tst_reconnect.moc"
