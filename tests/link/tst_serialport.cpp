// The termios port layer against a pseudo-terminal.
#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

#include <QTemporaryFile>
#include <QtTest>
#include <atomic>
#include <thread>

#include "link/SerialPort.h"
#include "support/pty_peer.h"

class tst_SerialPort : public QObject {
    Q_OBJECT

private slots:
    void open_failuresLeaveThePortClosed() {
        SerialPort port;
        QVERIFY(port.open("/nonexistent/ttyUSB0") != 0);
        QVERIFY(port.open(QString()) != 0);
        QVERIFY(!port.isOpen());
        QCOMPARE(port.handle(), 0);

        PtyPeer peer;
        QCOMPARE(port.open(peer.slavePath()), 0);
        QVERIFY(port.handle() > 0);
        QVERIFY(port.open(peer.slavePath()) != 0);  // one port per object
        QCOMPARE(port.close(), 0);
        QVERIFY(port.close() != 0);
    }

    void setLine_selectsRaw9600_8N1_withoutFlowControl() {
        PtyPeer peer;
        SerialPort port;
        QCOMPARE(port.open(peer.slavePath()), 0);
        QCOMPARE(port.setLine(), 0);

        // The settings belong to the line, so a second descriptor sees them.
        const int fd = ::open(peer.slavePath().toLocal8Bit().constData(), O_RDWR | O_NOCTTY | O_NONBLOCK);
        QVERIFY(fd >= 0);
        termios tio{};
        QCOMPARE(::tcgetattr(fd, &tio), 0);
        ::close(fd);
        QCOMPARE(::cfgetospeed(&tio), speed_t(B9600));
        QCOMPARE(::cfgetispeed(&tio), speed_t(B9600));
        QCOMPARE(tio.c_cflag & CSIZE, tcflag_t(CS8));
        QCOMPARE(tio.c_cflag & (PARENB | CSTOPB | CRTSCTS), tcflag_t(0));
        QCOMPARE(tio.c_iflag & (IXON | IXOFF | ICRNL | INLCR | ISTRIP), tcflag_t(0));
        QCOMPARE(tio.c_lflag & (ICANON | ECHO | ISIG), tcflag_t(0));
        QCOMPARE(tio.c_oflag & OPOST, tcflag_t(0));
    }

    void setLine_failsOnAPlainFile() {
        QTemporaryFile file;
        QVERIFY(file.open());
        SerialPort port;
        QCOMPARE(port.open(file.fileName()), 0);
        QVERIFY(port.setLine() != 0);
    }

    void bytesPassUnchangedBothWays_andReadNeverBlocks() {
        PtyPeer peer;
        SerialPort port;
        QCOMPARE(port.open(peer.slavePath()), 0);
        QCOMPARE(port.setLine(), 0);

        uint8_t buf[256];
        QCOMPARE(port.read(buf, sizeof buf), 0);  // nothing there: returns at once

        // Control characters and CR/LF must survive the line discipline.
        const QByteArray out("\x02\x43\x52\r\n\x03\x11\x13\x7f", 9);
        QCOMPARE(port.write(reinterpret_cast<const uint8_t*>(out.constData()), out.size()), out.size());
        QCOMPARE(peer.read(1000, out.size()), out);

        const QByteArray in("\x02RR\r\n\x03\x04\x1a", 8);
        QVERIFY(peer.write(in));
        QByteArray got;
        QTRY_VERIFY((got += QByteArray(reinterpret_cast<const char*>(buf), qMax(0, port.read(buf, sizeof buf))),
                     got.size() >= in.size()));
        QCOMPARE(got, in);
    }

    void lineCheck_reportsHangUpOnly() {
        PtyPeer peer;
        SerialPort port;
        uint8_t buf[8] = {};
        QCOMPARE(port.checkLine(), 0);  // not open is not a failure either
        QCOMPARE(port.read(buf, sizeof buf), -1);
        QCOMPARE(port.write(buf, 1), -1);
        QCOMPARE(port.open(peer.slavePath()), 0);
        QCOMPARE(port.setLine(), 0);
        QCOMPARE(port.checkLine(), 0);
        QVERIFY(peer.write("data"));  // pending input is healthy too
        QTRY_COMPARE(peer.pendingOnSlave(), 4);
        QCOMPARE(port.checkLine(), 0);

        peer.closeMaster();
        QVERIFY(port.checkLine() != 0);
        QVERIFY(port.read(buf, sizeof buf) <= 0);
        QCOMPARE(port.write(buf, 1), -1);
    }

    // Another thread keeps reading and checking while this one writes, closes
    // and reopens; nothing may use a closed descriptor or crash.
    void closeWhileOtherThreadReads() {
        PtyPeer peer;
        SerialPort port;
        QCOMPARE(port.open(peer.slavePath()), 0);
        QCOMPARE(port.setLine(), 0);
        std::atomic<bool> run{true};
        std::atomic<int> lineFailures{0};
        std::thread reader([&] {
            uint8_t buf[256];
            while (run.load()) {
                if (port.checkLine() != 0) ++lineFailures;
                port.read(buf, sizeof buf);
            }
        });
        const uint8_t frame[] = {0x02, 'C', 'V', 0x03};
        for (int i = 0; i < 200; ++i) {
            port.write(frame, sizeof frame);
            port.flush();
            QCOMPARE(port.close(), 0);
            QCOMPARE(port.open(peer.slavePath()), 0);
            QCOMPARE(port.setLine(), 0);
        }
        run.store(false);
        reader.join();
        QCOMPARE(lineFailures.load(), 0);
    }

    // The receive thread's wait: ends for input and for a pulled board (which
    // the line check then reports), times out on a quiet line, and refuses a
    // port that is not open or has failed.
    void waitReadable_endsForInputOrHangUp() {
        PtyPeer peer;
        SerialPort port;
        QCOMPARE(port.waitReadable(1), -1);
        QCOMPARE(port.open(peer.slavePath()), 0);
        QCOMPARE(port.setLine(), 0);
        QCOMPARE(port.waitReadable(20), 0);

        QVERIFY(peer.write("RR"));
        QCOMPARE(port.waitReadable(5000), 1);
        uint8_t buf[8] = {};
        int got = 0;
        QTRY_VERIFY((got += qMax(0, port.read(buf, sizeof buf))) >= 2);
        QCOMPARE(port.waitReadable(20), 0);  // read empty again: quiet

        peer.closeMaster();
        QCOMPARE(port.waitReadable(5000), 1);
        QVERIFY(port.checkLine() != 0);
        QCOMPARE(port.waitReadable(1), -1);
        QCOMPARE(port.close(), 0);
        QCOMPARE(port.waitReadable(1), -1);
    }

    // A thread that waits back to back, as the receive thread does, must
    // neither keep a close waiting for ever nor wait on a descriptor after
    // it was closed (its number may already belong to the next open).
    void closeWhileOtherThreadWaits() {
        PtyPeer peer;
        SerialPort port;
        QCOMPARE(port.open(peer.slavePath()), 0);
        QCOMPARE(port.setLine(), 0);
        std::atomic<bool> run{true};
        std::atomic<int> lineFailures{0};
        std::atomic<int> waits{0};
        std::thread waiter([&] {
            uint8_t buf[256];
            while (run.load()) {
                if (port.waitReadable(1) >= 0) ++waits;
                if (port.checkLine() != 0) ++lineFailures;
                port.read(buf, sizeof buf);
            }
        });
        QTRY_VERIFY(waits.load() > 0);
        const uint8_t frame[] = {0x02, 'C', 'V', 0x03};
        for (int i = 0; i < 200; ++i) {
            QVERIFY(peer.write("\x02RV0\x03"));
            port.write(frame, sizeof frame);
            QCOMPARE(port.close(), 0);
            QCOMPARE(port.open(peer.slavePath()), 0);
            QCOMPARE(port.setLine(), 0);
        }
        run.store(false);
        waiter.join();
        QCOMPARE(lineFailures.load(), 0);
        QCOMPARE(port.close(), 0);
    }
};

QTEST_GUILESS_MAIN(tst_SerialPort)
#include "tst_serialport.moc"
