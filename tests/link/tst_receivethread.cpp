// The receive thread and its port handling, over a pseudo-terminal.
#include <sys/fsuid.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QTemporaryFile>
#include <QTimer>
#include <QtTest>
#include <atomic>
#include <cerrno>
#include <memory>
#include <thread>

#include "link/PortFailure.h"
#include "link/link_fixture.h"

namespace {

QByteArray RingBytes(const std::atomic<uint8_t>* ring, int from, int n) {
    QByteArray out;
    for (int i = 0; i < n; ++i) out.append(static_cast<char>(ring[(from + i) & kRingMask].load()));
    return out;
}

QByteArray Pattern(int n) {
    QByteArray out;
    for (int i = 0; i < n; ++i) out.append(static_cast<char>((i * 7 + 1) & 0xFF));
    return out;
}

// Counts the thread's signals on this (the test's) thread, as the main
// window would receive them: queued.
struct SignalLog {
    QObject context;
    int rxBatches = 0;
    QList<int> errPorts;

    explicit SignalLog(ReceiveThread* uart) {
        QObject::connect(uart, &ReceiveThread::bytesReceived, &context, [this] { ++rxBatches; });
        QObject::connect(uart, &ReceiveThread::lineFailed, &context, [this](int port) { errPorts << port; });
    }
};

}  // namespace

class tst_ReceiveThread : public QObject {
    Q_OBJECT

private slots:
    void openPort_whileAnotherIsOpen_closesTheOldOne() {
        PtyPeer first;
        PtyPeer second;
        BoardLink link;
        ReceiveThread& uart = *link.receiver();
        QCOMPARE(uart.Open_Port(first.slavePath()), 1);
        QVERIFY(uart.m_Port.load() > 0);
        QCOMPARE(uart.portPath(), first.slavePath());

        QCOMPARE(uart.Open_Port(second.slavePath()), 1);
        QVERIFY(first.waitForSlaveClosed(2000));
        QVERIFY(uart.m_Port.load() > 0);
        QCOMPARE(uart.portPath(), second.slavePath());

        // A failed open still releases the previous port.
        QCOMPARE(uart.Open_Port("/nonexistent/ttyUSB9"), 0);
        QCOMPARE(uart.m_Port.load(), 0);
        QVERIFY(uart.portPath().isEmpty());
        QVERIFY(second.waitForSlaveClosed(2000));
    }

    void openPort_rejectsWhatIsNotASerialLine() {
        QTemporaryFile file;
        QVERIFY(file.open());
        BoardLink link;
        ReceiveThread& uart = *link.receiver();
        QCOMPARE(uart.Open_Port(file.fileName()), 0);
        QCOMPARE(uart.Open_Port(QString()), 0);
        QCOMPARE(uart.m_Port.load(), 0);
        // The failed line setting closed the file again: a real port opens now.
        PtyPeer peer;
        QCOMPARE(uart.Open_Port(peer.slavePath()), 1);
    }

    // While a port settles the window goes on, so the engineer may close it
    // or pick another port before it is put to use: the later call wins.
    void closeOrOpen_whileSettling_winOverTheSettlingPort() {
        PtyPeer first;
        PtyPeer second;
        BoardLink link;
        ReceiveThread& uart = *link.receiver();
        int ticket = uart.Begin_Open(first.slavePath());
        QVERIFY(ticket != 0);
        QCOMPARE(uart.Close_Port(), 0);
        QCOMPARE(uart.Finish_Open(ticket, first.slavePath()), 0);
        QCOMPARE(uart.m_Port.load(), 0);
        QVERIFY(first.waitForSlaveClosed(2000));

        ticket = uart.Begin_Open(first.slavePath());
        QVERIFY(ticket != 0);
        QCOMPARE(uart.Open_Port(second.slavePath()), 1);
        QCOMPARE(uart.Finish_Open(ticket, first.slavePath()), 0);
        QVERIFY(uart.m_Port.load() > 0);
        QCOMPARE(uart.portPath(), second.slavePath());
        QVERIFY(first.waitForSlaveClosed(2000));
    }

    // The engineer learns why a port would not open. A device node nobody may
    // open; root may open anything, so this thread takes on an ordinary
    // user's file access for the attempt.
    void openFailure_keepsTheSystemsReason() {
        PtyPeer peer;
        const QByteArray slave = peer.slavePath().toLocal8Bit();
        QCOMPARE(::chmod(slave.constData(), 0), 0);
        BoardLink link;
        ReceiveThread& uart = *link.receiver();
        const int fsuidBefore = ::setfsuid(65534);
        const int opened = uart.Open_Port(peer.slavePath());
        const int err = uart.Open_Error();
        ::setfsuid(fsuidBefore);
        QCOMPARE(opened, 0);
        QCOMPARE(err, EACCES);
        const QString reason = Port_FailureReason(err, peer.slavePath());
        QVERIFY2(
            reason.startsWith("Permission denied: the device belongs to the ") && reason.contains(" group; join it"),
            qPrintable(reason));

        QCOMPARE(uart.Open_Port("/nonexistent/ttyUSB9"), 0);
        QCOMPARE(Port_FailureReason(uart.Open_Error(), "/nonexistent/ttyUSB9"), "No such file or directory");

        QCOMPARE(::chmod(slave.constData(), 0600), 0);
        QCOMPARE(uart.Open_Port(peer.slavePath()), 1);
        QCOMPARE(uart.Open_Error(), 0);
    }

    void closePort_reportsWhetherAPortWasOpen() {
        BoardLink link;
        ReceiveThread& uart = *link.receiver();
        QCOMPARE(uart.Close_Port(), 0);
        PtyPeer peer;
        QCOMPARE(uart.Open_Port(peer.slavePath()), 1);
        QCOMPARE(uart.Close_Port(), 1);
        QCOMPARE(uart.m_Port.load(), 0);
        QVERIFY(peer.waitForSlaveClosed(2000));
        QCOMPARE(uart.Close_Port(), 0);
    }

    void batch_landsInBothRingsInOrder_withOneSignal() {
        LiveLink link;
        SignalLog log(&link.uart);
        QVERIFY(link.connect());
        link.link.setLive(false);

        // Queued while the link is not live: nothing is read yet.
        const QByteArray batch = Pattern(256);
        QVERIFY(link.peer.write(batch));
        QTRY_COMPARE(link.peer.pendingOnSlave(), 256);
        QCOMPARE(link.link.replies.writeCount.load(), 0);

        link.link.resetRings();
        link.link.setLive(true);
        QTRY_COMPARE(link.link.replies.writeCount.load(), 256);
        QCOMPARE(link.link.traffic.writeCount.load(), 256);
        QCOMPARE(RingBytes(link.link.replies.bytes, 0, 256), batch);
        QCOMPARE(RingBytes(link.link.traffic.bytes, 0, 256), batch);
        QTRY_COMPARE(log.rxBatches, 1);
        QTest::qWait(30);  // nothing more may follow
        QCOMPARE(log.rxBatches, 1);
        QCOMPARE(link.link.replies.writeCount.load(), 256);
    }

    void consumerTooFarBehind_readsNewestBytesInOldestSlots() {
        LiveLink link;
        QVERIFY(link.connect());
        const QByteArray bytes = Pattern(1025);
        QVERIFY(link.peer.write(bytes));
        QTRY_COMPARE(link.link.replies.writeCount.load(), 1025);
        QCOMPARE(link.link.traffic.writeCount.load(), 1025);
        // A consumer still at count 0 finds byte 1024 where byte 0 was.
        QCOMPARE(link.link.replies.bytes[0].load(), uint8_t(bytes[1024]));
        QCOMPARE(link.link.traffic.bytes[0].load(), uint8_t(bytes[1024]));
        QCOMPARE(RingBytes(link.link.replies.bytes, 1, 1023), bytes.mid(1, 1023));
        QCOMPARE(RingBytes(link.link.traffic.bytes, 1, 1023), bytes.mid(1, 1023));
    }

    void pulledBoard_isReportedOnce_withThePort() {
        LiveLink link;
        SignalLog log(&link.uart);
        QVERIFY(link.connect());
        const int port = link.uart.m_Port.load();
        QVERIFY(port > 0);

        link.peer.closeMaster();
        QTRY_COMPARE(log.errPorts.size(), 1);
        QCOMPARE(log.errPorts.first(), port);
        QVERIFY(!link.link.isLive());
        QTest::qWait(30);  // the loop idles now instead of reporting again
        QCOMPARE(log.errPorts.size(), 1);
        // The thread leaves the port to its owner, who can still close it.
        QCOMPARE(link.uart.m_Port.load(), port);
        QCOMPARE(link.uart.Close_Port(), 1);
    }

    void stop_whileIdle_endsPromptly_andCanRestart() {
        // A started thread object lives on the heap (see link_fixture.h).
        const auto owned = std::make_unique<BoardLink>();
        ReceiveThread& uart = *owned->receiver();
        for (int round = 0; round < 2; ++round) {
            uart.start();
            QVERIFY(uart.isRunning());
            uart.Stop();
            QVERIFY(uart.wait(10000));
            QCOMPARE(uart.m_Stop.load(), false);
        }
    }

    // With a live, quiet link the thread sleeps with no time limit: a stop, a
    // close and a port change must each end that sleep, or closing the
    // window (or choosing another port) would hang.
    void blockedThread_isWokenByStopCloseAndPortChange() {
        LiveLink link;
        QVERIFY(link.connect());
        QVERIFY(link.peer.write("ab"));
        QTRY_COMPARE(link.link.replies.writeCount.load(), 2);

        // Close while it sleeps on the port: the close must not wait for it.
        link.link.setLive(false);
        QCOMPARE(link.uart.Close_Port(), 1);
        QVERIFY(link.peer.waitForSlaveClosed(5000));

        // A new port while it sleeps with none: it must start reading it.
        PtyPeer other;
        QCOMPARE(link.uart.Open_Port(other.slavePath()), 1);
        link.link.resetRings();
        link.link.setLive(true);
        QVERIFY(other.write("xyz"));
        QTRY_COMPARE(link.link.replies.writeCount.load(), 3);
        QCOMPARE(RingBytes(link.link.replies.bytes, 0, 3), QByteArray("xyz"));

        link.uart.Stop();
        QVERIFY(link.uart.wait(10000));
        QCOMPARE(link.uart.Close_Port(), 1);
    }

    // Closing while the board keeps sending: once Close_Port returns, no pass
    // of the old connection may touch the rings the next connect resets.
    void closeWhileReceiving_leavesResetRingsAlone() {
        LiveLink link;
        QVERIFY(link.connect());
        std::atomic<bool> sending{true};
        std::thread board([&] {
            while (sending.load()) link.peer.write(QByteArray(16, 'x'));
        });
        for (int cycle = 0; cycle < 5; ++cycle) {
            QTRY_VERIFY(link.link.replies.writeCount.load() > 0);
            link.link.setLive(false);
            QCOMPARE(link.uart.Close_Port(), 1);
            link.link.resetRings();
            QCOMPARE(link.uart.Open_Port(link.peer.slavePath()), 1);
            QCOMPARE(link.link.replies.writeCount.load(), 0);
            QCOMPARE(link.link.traffic.writeCount.load(), 0);
            link.link.setLive(true);
        }
        sending.store(false);
        board.join();
    }
};

QTEST_GUILESS_MAIN(tst_ReceiveThread)
#include "tst_receivethread.moc"
