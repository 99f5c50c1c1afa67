// The debug view's costs: decoding event frames, putting received bytes into
// a text edit one insertion per byte versus one per receive batch (the batch
// the receive thread hands over is at most a ring's worth), and the main
// window's own view absorbing 1 MB of board traffic with "show uart data"
// ticked, with the memory it holds afterwards.
//
//   bench_debugview [bytes]        (default 50000; runs offscreen by itself)
#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QElapsedTimer>
#include <QTemporaryDir>
#include <QTextCursor>
#include <QTextDocument>
#include <QTextEdit>
#include <cstdio>
#include <cstdlib>

#include "app/limits.h"
#include "bench/bench_support.h"
#include "link/event_frames.h"
#include "mainwindow/MainWindow.h"
#include "ui_MainWindow.h"
#include "workers/BoardSession.h"

namespace {
// A stream like a busy board's: touch frames with a reply frame between.
QByteArray Traffic(int bytes) {
    const QByteArray unit = QByteArray(
        "\x02"
        "CT0100\x03"
        "\x02"
        "RR5A\x03"
        "\x02"
        "CT0000\x03");
    QByteArray out;
    while (out.size() < bytes) out += unit;
    out.truncate(bytes);
    return out;
}

QString Shown(char c) {
    QString t(QChar(static_cast<char16_t>(static_cast<uint8_t>(c))));
    if (c == 0x03) t += QStringLiteral("\r\n");
    return t;
}

double PerByte(const QByteArray& data) {
    QTextEdit view;
    view.setUndoRedoEnabled(false);
    QElapsedTimer t;
    t.start();
    for (char c : data) {
        view.insertPlainText(Shown(c));
        view.moveCursor(QTextCursor::End);
    }
    return t.nsecsElapsed() / 1e9;
}

double Batched(const QByteArray& data, int batch) {
    QTextEdit view;
    view.setUndoRedoEnabled(false);
    QElapsedTimer t;
    t.start();
    for (int at = 0; at < data.size(); at += batch) {
        QString text;
        for (char c : data.mid(at, batch)) text += Shown(c);
        view.insertPlainText(text);
        view.moveCursor(QTextCursor::End);
    }
    return t.nsecsElapsed() / 1e9;
}
struct Absorbed {
    double seconds = -1.0;
    long rssBeforeKiB = 0;
    long rssAfterKiB = 0;
    int viewChars = 0;
};

// The window's view takes the traffic the way the receive thread hands it
// over: bytes into the debug ring, then one slot call per batch.
Absorbed WindowView(const QByteArray& data, int batch) {
    Absorbed a;
    QTemporaryDir work;
    const QString oldCwd = QDir::currentPath();
    if (!work.isValid() || !bench::WriteWorkingFiles(work.path(), "TK2C", true) || !QDir::setCurrent(work.path()))
        return a;
    auto* w = new MainWindow();
    w->show();
    w->ui->checkBox_show->setChecked(true);
    QCoreApplication::processEvents();
    a.rssBeforeKiB = bench::StatusKiB("VmRSS");
    QElapsedTimer t;
    t.start();
    for (int at = 0; at < data.size(); at += batch) {
        const int n = std::min(batch, static_cast<int>(data.size()) - at);
        ByteRing& ring = w->link()->traffic;
        const int32_t wr = ring.writeCount.load();
        for (int i = 0; i < n; ++i)
            ring.bytes[static_cast<uint32_t>(wr + i) & kRingMask].store(static_cast<uint8_t>(data[at + i]));
        ring.writeCount.store(wr + n);
        w->session()->takeReceivedBytes();
    }
    QCoreApplication::processEvents();
    a.seconds = t.nsecsElapsed() / 1e9;
    a.rssAfterKiB = bench::StatusKiB("VmRSS");
    a.viewChars = w->ui->textEdit_debug->document()->characterCount();
    w->close();
    delete w;
    QDir::setCurrent(oldCwd);
    return a;
}
}  // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const int bytes = argc > 1 ? std::max(1000, std::atoi(argv[1])) : 50000;
    const QByteArray data = Traffic(bytes);

    EventFrameAssembler frames;
    long events = 0;
    const QByteArray many = Traffic(4000000);
    QElapsedTimer t;
    t.start();
    for (char c : many) events += frames.feed(static_cast<uint8_t>(c), 16).kind != EventFrameEvent::None;
    const double decode = t.nsecsElapsed() / 1e9;

    const double one = PerByte(data);
    const double batched = Batched(data, 64);  // a typical receive batch at 9600 baud and a 1 ms poll is smaller
    const double ring = Batched(data, kRingSize);

    // 1 MB of traffic through the window's view, in receive batches of 64
    // bytes: more than the thread hands over at 9600 baud with a 1 ms poll, as
    // after the GUI thread was held up for a while.
    constexpr int kMegabyte = 1 << 20;
    const Absorbed big = WindowView(Traffic(kMegabyte), 64);
    const double wireSeconds = bench::WireMs(kMegabyte) / 1000.0;
    if (big.seconds > 0) {
        bench::Row("debug view, 1 MB with \"show uart data\" ticked: absorb time / wire time",
                   bench::Fmt("%.2f s / %.0f s = %.4f", big.seconds, wireSeconds, big.seconds / wireSeconds), "-", "-");
        bench::Row(
            "  resident memory afterwards (growth; view holds at most 200000 characters)",
            bench::Fmt("%.1f MiB (+%.1f MiB)", big.rssAfterKiB / 1024.0, (big.rssAfterKiB - big.rssBeforeKiB) / 1024.0),
            "-", "-");
        std::printf("debug view: %d characters in the view after 1 MB\n", big.viewChars);
    } else {
        std::fprintf(stderr, "the main window could not be built for the debug view\n");
    }

    std::printf("%-40s %14s\n", "figure", "bytes/s");
    std::printf("%-40s %14.0f   (%ld events)\n", "event frame decoding", many.size() / decode, events);
    std::printf("%-40s %14.0f\n", "view, one insertion per byte", bytes / one);
    std::printf("%-40s %14.0f\n", "view, one insertion per 64-byte batch", bytes / batched);
    std::printf("%-40s %14.0f\n", "view, one insertion per 1024-byte batch", bytes / ring);
    std::printf("the board sends at most %d bytes/s at 9600 baud\n", 960);
    return 0;
}
