// The simulated board behind its pseudo-terminal and as the tkeval-sim
// program: what a port reader on the slave side sees.
#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <QtTest>
#include <atomic>
#include <thread>

#include "sim/SimPtyHost.h"

namespace {

// The tool's side of the line: the slave opened raw, like the serial port.
class PortReader {
public:
    explicit PortReader(const QString& path) {
        m_fd = ::open(path.toLocal8Bit().constData(), O_RDWR | O_NOCTTY | O_NONBLOCK);
        termios tio{};
        if (m_fd >= 0 && tcgetattr(m_fd, &tio) == 0) {
            cfmakeraw(&tio);
            tcsetattr(m_fd, TCSANOW, &tio);
            tcflush(m_fd, TCIOFLUSH);
        }
    }
    ~PortReader() {
        if (m_fd >= 0) ::close(m_fd);
    }
    bool isOpen() const { return m_fd >= 0; }
    int fd() const { return m_fd; }

    void send(const QByteArray& bytes) { QCOMPARE(::write(m_fd, bytes.constData(), bytes.size()), bytes.size()); }

    // Everything received until it holds `frames` complete frames (ETX count).
    QByteArray readFrames(int frames, int timeoutMs = 5000) {
        QElapsedTimer t;
        t.start();
        while (m_buffer.count('\x03') < frames && t.elapsed() < timeoutMs) {
            pollfd p{m_fd, POLLIN, 0};
            if (::poll(&p, 1, 10) > 0 && (p.revents & POLLIN)) {
                char buf[256];
                const ssize_t n = ::read(m_fd, buf, sizeof buf);
                if (n > 0) m_buffer.append(buf, n);
            }
        }
        QByteArray out;
        out.swap(m_buffer);
        return out;
    }

private:
    int m_fd = -1;
    QByteArray m_buffer;
};

QByteArray frame(const char* body) { return QByteArray("\x02") + body + "\x03"; }

}  // namespace

class tst_SimPtyHost : public QObject {
    Q_OBJECT

private slots:
    void host_answersAndSendsEventsOverTheLine();
    void host_controlsFromAnotherThreadNeverSplitFrames();
    void host_linkPointsAtSlaveUntilStop();
    void hangup_portReaderSeesLineFailure();
    void pacing_exchangeTakesAboutTheWireTime();
    void program_printsPathTakesCommandsAndQuits();
    void program_autoplaySurvivesEndOfInputUntilTerminated();
    void program_rejectsBadOptions();
};

void tst_SimPtyHost::host_answersAndSendsEventsOverTheLine() {
    SimPtyHost host("TK2A", 4, 4);
    std::string error;
    QVERIFY2(host.start(std::string(), &error), error.c_str());
    PortReader port(QString::fromStdString(host.slavePath()));
    QVERIFY(port.isOpen());

    port.send(frame("CV"));
    QCOMPARE(port.readFrames(1), frame("RV20"));
    port.send(frame("CWB06F0102"));
    QCOMPARE(port.readFrames(1), frame("RW"));
    QTRY_VERIFY(host.selectionEverWritten(2));
    QVERIFY(host.wasWritten(0x6F, 0x02));

    QVERIFY(host.touch(3));
    QCOMPARE(port.readFrames(1), frame("CT0800"));
    QVERIFY(host.setStatus("F071"));
    QCOMPARE(port.readFrames(1), frame("CEF071"));

    host.setAddr(0xB6);
    port.send(frame("CRB00001"));
    QCOMPARE(port.readFrames(1), frame("RN"));
    host.setSilent(true);
    port.send(frame("CRB60001"));
    QCOMPARE(port.readFrames(1, 100), QByteArray());
    QTRY_COMPARE(host.frameCount(), size_t(4));
    host.stop();
    QVERIFY(!host.running());
}

void tst_SimPtyHost::host_controlsFromAnotherThreadNeverSplitFrames() {
    SimPtyHost host("TK2C", 8, 4);
    QVERIFY(host.start());
    PortReader port(QString::fromStdString(host.slavePath()));
    std::atomic<bool> run{true};
    std::thread keys([&] {
        for (int i = 0; run.load(); i = (i + 1) % 8) {
            host.touch(i);
            host.release(i);
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
    });
    QByteArray stream;
    for (int i = 1; i <= 30; ++i) {
        port.send(frame("CRB02008"));
        QElapsedTimer t;
        t.start();
        while (stream.count("\x02RR") < i && t.elapsed() < 5000) stream += port.readFrames(1);
    }
    run = false;
    keys.join();
    // Every byte belongs to a whole reply or event frame.
    int replies = 0;
    for (const QByteArray& f : stream.split('\x03')) {
        if (f.isEmpty()) continue;
        if (f.startsWith("\x02RR")) {
            QCOMPARE(f, QByteArray("\x02RR1010101010101010"));
            ++replies;
        } else {
            QCOMPARE(f.size(), 7);
            QVERIFY(
                f.startsWith("\x02"
                             "CT"));
        }
    }
    QCOMPARE(replies, 30);
}

void tst_SimPtyHost::host_linkPointsAtSlaveUntilStop() {
    QTemporaryDir dir;
    const std::string link = (dir.path() + "/board").toStdString();
    {
        // A stale link from an earlier run is replaced.
        QVERIFY(::symlink("/nonexistent", link.c_str()) == 0);
        SimPtyHost host;
        QVERIFY(host.start(link));
        QCOMPARE(QFileInfo(QString::fromStdString(link)).symLinkTarget(), QString::fromStdString(host.slavePath()));
        PortReader port(QString::fromStdString(link));
        port.send(frame("CV"));
        QCOMPARE(port.readFrames(1), frame("RV20"));
    }
    QVERIFY(!QFileInfo(QString::fromStdString(link)).isSymLink());
}

void tst_SimPtyHost::hangup_portReaderSeesLineFailure() {
    SimPtyHost host;
    QVERIFY(host.start());
    PortReader port(QString::fromStdString(host.slavePath()));
    port.send(frame("CV"));
    QCOMPARE(port.readFrames(1), frame("RV20"));

    host.hangup();
    QVERIFY(host.hungUp());
    pollfd p{port.fd(), POLLIN, 0};
    QVERIFY(::poll(&p, 1, 2000) > 0);
    QVERIFY(p.revents & (POLLHUP | POLLERR));
    char c;
    const ssize_t n = ::read(port.fd(), &c, 1);
    QVERIFY(n == 0 || (n < 0 && errno == EIO));
    // The board itself lives on; stopping after a hang-up is clean.
    host.touch(1);
    host.stop();
}

void tst_SimPtyHost::pacing_exchangeTakesAboutTheWireTime() {
    SimPtyHost host("TK2C", 8, 4);
    host.setPacing(true);
    QVERIFY(host.start());
    PortReader port(QString::fromStdString(host.slavePath()));
    // 10 request bytes and 20 reply bytes at ten bit times each, 9600 baud.
    QElapsedTimer t;
    t.start();
    port.send(frame("CRB02008"));
    QCOMPARE(port.readFrames(1), frame("RR1010101010101010"));
    QVERIFY2(t.elapsed() >= 25, qPrintable(QString("took %1 ms").arg(t.elapsed())));
}

void tst_SimPtyHost::program_printsPathTakesCommandsAndQuits() {
    QProcess sim;
    sim.start(TKEVAL_SIM_EXE, {"--model", "TK1B", "--channels", "16", "--noise", "0", "--addr", "b4"});
    QVERIFY(sim.waitForReadyRead(5000));
    const QString path = QString::fromLocal8Bit(sim.readLine()).trimmed();
    QVERIFY(path.startsWith("/dev/"));
    PortReader port(path);
    QVERIFY(port.isOpen());

    port.send(frame("CRB40001"));
    QCOMPARE(port.readFrames(1), frame("RRA1"));
    sim.write("touch 9\nlevel 9 300\nstatus 1F\nversion 31\nbogus\ntouch 99\n");
    QVERIFY(sim.waitForBytesWritten(5000));
    QCOMPARE(port.readFrames(2), frame("CT0002") + frame("CE1F00000000000000"));
    port.send(frame("CV"));
    QCOMPARE(port.readFrames(1), frame("RV1F"));
    QByteArray errors;
    QTRY_VERIFY((errors += sim.readAllStandardError()).contains("touch 99"));
    QVERIFY(errors.contains("bogus"));

    // Commands run in order: once the touch arrives, the board is silent.
    sim.write("silent on\ntouch 0\n");
    QVERIFY(sim.waitForBytesWritten(5000));
    QCOMPARE(port.readFrames(1), frame("CT0102"));
    port.send(frame("CV"));
    QCOMPARE(port.readFrames(1, 200), QByteArray());

    sim.write("quit\n");
    QVERIFY(sim.waitForFinished(5000));
    QCOMPARE(sim.exitStatus(), QProcess::NormalExit);
    QCOMPARE(sim.exitCode(), 0);

    // Without autoplay the end of input ends it too.
    QProcess second;
    second.start(TKEVAL_SIM_EXE, QStringList());
    QVERIFY(second.waitForReadyRead(5000));
    second.closeWriteChannel();
    QVERIFY(second.waitForFinished(5000));
    QCOMPARE(second.exitCode(), 0);
}

void tst_SimPtyHost::program_autoplaySurvivesEndOfInputUntilTerminated() {
    QTemporaryDir dir;
    const QString link = dir.path() + "/board";
    QProcess sim;
    sim.start(TKEVAL_SIM_EXE, {"--autoplay", "--channels", "2", "--link", link});
    QVERIFY(sim.waitForReadyRead(5000));
    QVERIFY(QFileInfo(link).isSymLink());
    sim.closeWriteChannel();
    PortReader port(link);
    // Keys keep coming after the end of input: the program is still alive.
    const QByteArray events = port.readFrames(2);
    QVERIFY2(events.contains("\x02"
                             "CT"),
             events.toHex().constData());
    QCOMPARE(sim.state(), QProcess::Running);

    sim.terminate();
    QVERIFY(sim.waitForFinished(5000));
    QCOMPARE(sim.exitStatus(), QProcess::NormalExit);
    QCOMPARE(sim.exitCode(), 0);
    QVERIFY(!QFileInfo(link).isSymLink());
}

void tst_SimPtyHost::program_rejectsBadOptions() {
    const QStringList bad[] = {{"--channels", "17"}, {"--sbf", "x"}, {"--addr"}, {"--colour"}};
    for (const QStringList& args : bad) {
        QProcess sim;
        sim.start(TKEVAL_SIM_EXE, args);
        QVERIFY(sim.waitForFinished(5000));
        QCOMPARE(sim.exitCode(), 2);
        QVERIFY(!sim.readAllStandardError().isEmpty());
    }
}

QTEST_GUILESS_MAIN(tst_SimPtyHost)
#include "tst_simptyhost.moc"
