// What each fuzz target does with one input. Shared by the libFuzzer
// programs (fuzz_<name>.cpp, clang only) and by tst_fuzz_corpus, which
// replays the committed corpora in every ordinary and sanitizer build.
//
// Every body checks the properties its parser promises on any input and
// calls Fuzz_Fail when one breaks, so a wrong answer stops the fuzzer just
// like an out-of-bounds access does.
#pragma once

#include <QByteArray>
#include <QString>
#include <algorithm>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "app/hintfile.h"
#include "app/limits.h"
#include "app/regfile.h"
#include "data/LogReader.h"
#include "link/BoardLink.h"
#include "link/ReceiveThread.h"
#include "link/commands.h"
#include "link/event_frames.h"
#include "platform/ini.h"
#include "sim/SimBoard.h"

namespace fuzz {

[[noreturn]] inline void Fail(const char* what) {
    std::fprintf(stderr, "fuzz property broken: %s\n", what);
    std::abort();
}

inline void Check(bool ok, const char* what) {
    if (!ok) Fail(what);
}

// Reads the input front to back; past the end every read gives zeros, so a
// short input is still a valid (if dull) case.
class Reader {
public:
    Reader(const uint8_t* data, size_t size) : m_data(data), m_size(size) {}
    uint8_t byte() { return m_at < m_size ? m_data[m_at++] : 0; }
    size_t left() const { return m_size - m_at; }
    QByteArray take(size_t n) {
        n = n < left() ? n : left();
        QByteArray out(reinterpret_cast<const char*>(m_data + m_at), static_cast<qsizetype>(n));
        m_at += n;
        return out;
    }
    QByteArray rest() { return take(left()); }

private:
    const uint8_t* m_data;
    size_t m_size;
    size_t m_at = 0;
};

// --- reply collector ------------------------------------------------------------------
//
// Input: [dest size 0..32] [batch size 1..256] [count start] then the bytes the
// board sends. The bytes go into the reply ring in receive-thread batches; after
// each batch the collector takes whatever is complete. The exchange abort
// makes it return instead of waiting for more, without changing what it does
// with the bytes it has.
inline int ReplyCollector(const uint8_t* data, size_t size) {
    // Never started: the collector only needs its port to look open.
    static BoardLink* link = new BoardLink();
    ReceiveThread* uart = link->receiver();
    ByteRing& ring = link->replies;
    Reader in(data, size);
    const int destSize = in.byte() % 33;
    const int batch = 1 + in.byte();
    // Counts that start near the top of their range must wrap, not overflow:
    // a connection left up for weeks gets there.
    const uint8_t startSel = in.byte();
    const int32_t start = startSel & 1 ? INT32_MAX - (startSel >> 1) : startSel >> 1;
    const QByteArray stream = in.rest();

    link->resetRings();
    ring.writeCount.store(start);
    ring.readCount.store(start);
    link->setLive(true);
    uart->m_Port.store(1);
    link->abortExchanges(true);

    std::vector<uint8_t> dest(static_cast<size_t>(destSize) + 1);
    const uint8_t canary = 0xA5;
    qsizetype at = 0;
    while (at < stream.size()) {
        const int n = static_cast<int>(qMin<qsizetype>(batch, stream.size() - at));
        const uint32_t w = static_cast<uint32_t>(ring.writeCount.load());
        for (int i = 0; i < n; ++i)
            ring.bytes[(w + static_cast<uint32_t>(i)) & kRingMask].store(static_cast<uint8_t>(stream[at + i]));
        ring.writeCount.store(static_cast<int32_t>(w + static_cast<uint32_t>(n)));
        at += n;
        for (;;) {
            std::fill(dest.begin(), dest.end(), 0);
            dest[static_cast<size_t>(destSize)] = canary;
            const char r = uart->Get_Reply(destSize > 0 ? dest.data() : nullptr, destSize, 'R', kReplyTimeoutMs);
            Check(dest[static_cast<size_t>(destSize)] == canary, "collector wrote past the destination");
            const uint32_t pending =
                static_cast<uint32_t>(ring.writeCount.load()) - static_cast<uint32_t>(ring.readCount.load());
            Check(pending <= static_cast<uint32_t>(kRingSize), "collector read beyond what was written");
            // A board may well send the status 'Z' itself; only an empty ring
            // ends the batch (a collector that stopped early would spin here
            // and the fuzzer would report the hang).
            if (r == 'Z' && pending == 0) break;
        }
    }

    link->abortExchanges(false);
    uart->m_Port.store(0);
    link->setLive(false);
    link->resetRings();
    return 0;
}

// --- event frames ----------------------------------------------------------------------------
//
// Input: [channel count, any int] then the byte stream.
inline int EventFrames(const uint8_t* data, size_t size) {
    Reader in(data, size);
    const int channels = static_cast<int8_t>(in.byte());  // negatives and > 16 included
    EventFrameAssembler a;
    uint8_t frame[kEventFrameSize] = {};
    int len = 0;
    while (in.left() > 0) {
        const uint8_t b = in.byte();
        const EventFrameEvent ev = a.feed(b, channels);
        const EventFrameEvent same = EventFrame_Feed(frame, &len, b, channels);
        Check(ev.kind == same.kind && ev.touchMask == same.touchMask, "assembler and function disagree");
        Check(a.length() >= 0 && a.length() <= 2 * kEventFrameSize, "frame length out of range");
        switch (ev.kind) {
            case EventFrameEvent::Touch:
                Check(b == 0x03, "event completed by a byte other than ETX");
                Check(ev.touchMask >= 0 && ev.touchMask <= 0xFFFF, "touch mask beyond 16 bits");
                break;
            case EventFrameEvent::Status:
                Check(b == 0x03, "event completed by a byte other than ETX");
                Check(ev.statusCount >= 0 && ev.statusCount <= kMaxChannels, "status count beyond the channels");
                Check(channels < 0 || ev.statusCount == qMin(channels, kMaxChannels), "status count wrong");
                for (int i = 0; i < kMaxChannels; ++i) Check(ev.status[i] <= 15, "status beyond 4 bits");
                break;
            case EventFrameEvent::None:
                break;
        }
    }
    return 0;
}

// --- register files ------------------------------------------------------------------------
//
// The reader works on the bytes in memory, as it does behind open(); the
// file round trip (open, RegFile_Save) is checked on the corpus by
// tst_in_memory_parsers.
inline int RegFile(const uint8_t* data, size_t size) {
    const QByteArray bytes = QByteArray::fromRawData(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    RegFileReader reader;
    reader.setData(bytes);
    RegFileLine line;
    qsizetype lines = 0;
    while (reader.next(&line)) {
        ++lines;
        Check(line.valueText.size() <= 2, "value text longer than two characters");
        if (line.kind != RegLineKind::Write) continue;
        // What Save would write for it must load back as the same register write.
        const RegFileLine again = RegFile_ParseLine(RegFile_FormatLine(line.address, line.valueText));
        Check(again.kind == RegLineKind::Write && again.address == line.address && again.value == line.value,
              "a loaded line does not survive Save and Load");
    }
    Check(reader.lineNumber() == lines, "line numbers skip");
    Check(lines == bytes.count('\n') + (bytes.isEmpty() || bytes.endsWith('\n') ? 0 : 1), "lines lost or split");
    return 0;
}

// --- hint.txt --------------------------------------------------------------------------------------
inline int HintFile(const uint8_t* data, size_t size) {
    const QVector<HintEntry> entries =
        HintFile_Parse(QByteArray::fromRawData(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size)));
    int last = -1;
    for (const HintEntry& e : entries) {
        Check(e.address > last && e.address < kHintLines, "addresses out of order or range");
        Check(!e.hint.isEmpty() && !e.hint.contains(']'), "empty hint or hint with its bracket");
        last = e.address;
    }
    return 0;
}

// --- INI files ---------------------------------------------------------------------------------------
//
// Input: [section length] [key length] [value length] section key value, then
// the file. Reads several keys, writes one and checks that it reads back and
// that no other line of the file changed.
inline int Ini(const uint8_t* data, size_t size) {
    Reader in(data, size);
    const int sl = in.byte() % 16;
    const int kl = in.byte() % 16;
    const int vl = in.byte() % 32;
    const QString section = QString::fromUtf8(in.take(static_cast<size_t>(sl)));
    const QString key = QString::fromUtf8(in.take(static_cast<size_t>(kl)));
    const QString value = QString::fromUtf8(in.take(static_cast<size_t>(vl)));
    const QByteArray file = in.rest();

    for (const char* k : {"DEVICE", "SIZEOFCHANNEL", "SIZEOFSBF"}) {
        Ini_GetStringFrom(file, QStringLiteral("SYSTEM"), QString::fromLatin1(k), QString());
        Ini_GetIntFrom(file, QStringLiteral("SYSTEM"), QString::fromLatin1(k), -7);
    }
    const QString before = Ini_GetStringFrom(file, section, key, QStringLiteral("\n"));
    bool ok = false;
    Ini_ParseInt(before, &ok);
    Ini_GetIntFrom(file, section, key, 0);

    QByteArray written = file;
    if (!Ini_SetString(&written, section, key, value)) {
        Check(written == file, "a refused write changed the file");
        return 0;
    }
    // The callers' names carry no surrounding blanks; with those, what was
    // written reads back.
    if (section == section.trimmed() && key == key.trimmed())
        Check(Ini_GetStringFrom(written, section, key, QStringLiteral("\n")) == value.trimmed(), "written value lost");
    // A rewrite keeps every other line of the file, in order: it changes one
    // place only, where at most the key's own line is replaced (or, when
    // lines are added, the line before them gets its missing line end).
    const QList<QByteArray> after = written.split('\n');
    const QList<QByteArray> orig = file.split('\n');
    qsizetype head = 0;
    while (head < orig.size() && head < after.size() && orig[head] == after[head]) ++head;
    qsizetype tail = 0;
    while (tail < orig.size() - head && tail < after.size() - head &&
           orig[orig.size() - 1 - tail] == after[after.size() - 1 - tail])
        ++tail;
    Check(orig.size() - head - tail <= 1, "a rewrite lost lines of the file");
    return 0;
}

// --- the simulated board's frame parser --------------------------------------------------------
//
// Input: [model] [chip address] then pieces: [length] bytes, each arriving one
// millisecond after the last.
inline int SimBoardFrames(const uint8_t* data, size_t size) {
    static const char* const kModels[] = {"TK1B", "TK2A", "TK1A", "TK2C", "XX"};
    Reader in(data, size);
    const uint8_t sel = in.byte();
    SimBoard board(kModels[sel % 5], (sel >> 3) % 17, 4);
    board.setChipAddr(in.byte());
    uint32_t now = 0;
    std::string out;
    size_t etx = 0;
    while (in.left() > 0) {
        const QByteArray piece = in.take(in.byte() % 64 + 1);
        etx += static_cast<size_t>(piece.count('\x03'));
        board.receive(reinterpret_cast<const uint8_t*>(piece.constData()), static_cast<size_t>(piece.size()), now);
        board.tick(now);
        out += board.takeOutput();
        ++now;
    }
    // Only replies: no event was asked for. One reply per frame at most,
    // each STX 'R' status data ETX with upper-case hex data.
    size_t replies = 0;
    size_t i = 0;
    while (i < out.size()) {
        Check(out.size() - i >= 4 && out[i] == 0x02 && out[i + 1] == 'R', "reply does not start STX R");
        const size_t end = out.find('\x03', i + 3);
        Check(end != std::string::npos, "reply without ETX");
        for (size_t j = i + 3; j < end; ++j)
            Check((out[j] >= '0' && out[j] <= '9') || (out[j] >= 'A' && out[j] <= 'F'), "reply data not hex");
        Check((end - i - 3) % 2 == 0 && end - i - 3 <= 16, "reply data of odd or excessive length");
        ++replies;
        i = end + 1;
    }
    Check(replies <= etx, "more replies than frames");
    Check(board.log()->size() >= replies, "a reply without a logged frame");
    return 0;
}

// --- logs ------------------------------------------------------------------------------------------
//
// The input is the file. A refusal names a line; every event read is in
// range, comes in file order, and a cut-off log is only ever reported at its
// last line.
inline int Log(const uint8_t* data, size_t size) {
    LogReader reader;
    if (!reader.open(QByteArray::fromRawData(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size)),
                     QStringLiteral("fuzz.csv"))) {
        Check(reader.error().contains(QStringLiteral("line ")), "a refusal that names no line");
        return 0;
    }
    LogEvent e;
    int lastLine = 0;
    int events = 0;
    while (reader.nextEvent(&e)) {
        Check(e.line > lastLine && e.line <= reader.lineNumber(), "events out of file order");
        lastLine = e.line;
        ++events;
        Check(e.tMs >= 0, "negative time");
        switch (e.kind) {
            case LogRowKind::Sample:
                Check(e.sample.channel >= 0 && e.sample.channel < kMaxChannels, "channel out of range");
                Check(e.sample.sbfCount >= 1 && e.sample.sbfCount <= kMaxSbf, "SBF count out of range");
                Check(e.sample.tMs == e.tMs, "sample time differs from its row");
                break;
            case LogRowKind::Write:
                Check(e.reg >= 0 && e.reg <= 0xFF && e.value >= 0 && e.value <= 0xFF, "write beyond a byte");
                break;
            case LogRowKind::Touch:
            case LogRowKind::Mark:
                break;
        }
    }
    Check(events + reader.problemCount() <= reader.lineNumber(), "more rows than lines");
    Check(!reader.truncated() || reader.problemCount() > 0, "a cut-off log without its problem line");
    return 0;
}

}  // namespace fuzz
