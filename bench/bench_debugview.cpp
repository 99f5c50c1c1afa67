// The debug view's costs: decoding event frames, and putting received bytes
// into a text edit one insertion per byte versus one per receive batch (the
// batch the receive thread hands over is at most a ring's worth).
//
//   bench_debugview [bytes]        (default 50000; runs offscreen by itself)
#include <QApplication>
#include <QElapsedTimer>
#include <QTextCursor>
#include <QTextEdit>
#include <cstdio>
#include <cstdlib>

#include "link/event_frames.h"

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

    std::printf("%-40s %14s\n", "figure", "bytes/s");
    std::printf("%-40s %14.0f   (%ld events)\n", "event frame decoding", many.size() / decode, events);
    std::printf("%-40s %14.0f\n", "view, one insertion per byte", bytes / one);
    std::printf("%-40s %14.0f\n", "view, one insertion per 64-byte batch", bytes / batched);
    std::printf("%-40s %14.0f\n", "view, one insertion per 1024-byte batch", bytes / ring);
    std::printf("the board sends at most %d bytes/s at 9600 baud\n", 960);
    return 0;
}
