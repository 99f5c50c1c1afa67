#include "sim/SimBoard.h"

namespace {

constexpr char kStx = 0x02;
constexpr char kEtx = 0x03;
constexpr int kMaxRegs = 8;

int hexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

// Strict, unlike the tool's reader: a command with a stray character is refused
// rather than executed with a guessed value.
bool hexByteAt(const std::string& s, size_t pos, uint8_t& out) {
    if (pos + 2 > s.size()) return false;
    const int hi = hexDigit(s[pos]);
    const int lo = hexDigit(s[pos + 1]);
    if (hi < 0 || lo < 0) return false;
    out = static_cast<uint8_t>(hi * 16 + lo);
    return true;
}

void appendHex(std::string& s, uint8_t v) {
    static const char digits[] = "0123456789ABCDEF";
    s += digits[v >> 4];
    s += digits[v & 0x0F];
}

}  // namespace

SimBoard::SimBoard(const std::string& model, int channels, int sbf)
    : m_chip(SimChip::familyForModel(model), channels, sbf) {}

void SimBoard::receive(const std::string& bytes, uint32_t nowMs) {
    receive(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size(), nowMs);
}

void SimBoard::receive(const uint8_t* data, size_t n, uint32_t nowMs) {
    for (size_t i = 0; i < n; ++i) {
        const char b = static_cast<char>(data[i]);
        if (b == kStx) {
            if (m_inFrame) {
                SimFrame cut;
                cut.timeMs = nowMs;
                cut.body = m_frame;
                cut.complete = false;
                m_log->append(std::move(cut));
            }
            m_inFrame = true;
            m_overlong = false;
            m_frame.clear();
        } else if (!m_inFrame) {
            continue;
        } else if (b == kEtx) {
            handleFrame(nowMs);
            m_inFrame = false;
            m_frame.clear();
        } else if (m_frame.size() < kMaxFrameBytes) {
            m_frame += b;
        } else {
            m_overlong = true;
        }
    }
}

void SimBoard::handleFrame(uint32_t nowMs) {
    SimFrame frame;
    frame.timeMs = nowMs;
    frame.body = m_frame;

    const bool wellFormed = !m_overlong && m_frame.size() >= 2 && m_frame[0] == 'C';
    if (wellFormed) frame.letter = m_frame[1];
    // A silent board neither executes nor answers; it only listens.
    if (!m_silent) {
        std::string data;
        const char status = wellFormed ? execute(frame.letter, m_frame.substr(2), frame, data, nowMs) : 'F';
        if (status == 'F') frame.letter = 0;
        frame.status = status;
        m_output += kStx;
        m_output += 'R';
        m_output += status;
        m_output += data;
        m_output += kEtx;
    }
    m_log->append(std::move(frame));
}

char SimBoard::execute(char letter, const std::string& payload, SimFrame& frame, std::string& data, uint32_t nowMs) {
    uint8_t value = 0;
    switch (letter) {
        case 'V':
            if (!payload.empty()) return 'F';
            appendHex(data, m_version);
            return 'V';
        case 'D':
        case 'O':
            if (payload.size() != 2 || !hexByteAt(payload, 0, value)) return 'F';
            (letter == 'D' ? m_deviceType : m_outputLevel) = value;
            frame.data.assign(1, value);
            return letter;
        case 'R':
        case 'W': {
            uint8_t dev = 0;
            uint8_t reg = 0;
            uint8_t count = 0;
            if (payload.size() < 6 || !hexByteAt(payload, 0, dev) || !hexByteAt(payload, 2, reg) ||
                !hexByteAt(payload, 4, count) || count < 1 || count > kMaxRegs)
                return 'F';
            const size_t expected = letter == 'R' ? 6u : 6u + 2u * count;
            if (payload.size() != expected) return 'F';
            uint8_t bytes[kMaxRegs] = {};
            if (letter == 'W') {
                for (int i = 0; i < count; ++i) {
                    if (!hexByteAt(payload, 6 + 2 * i, bytes[i])) return 'F';
                }
            }
            frame.dev = dev;
            frame.reg = reg;
            if (!chipAnswers(dev)) return 'N';
            if (letter == 'R') {
                m_chip.read(reg, count, bytes, nowMs);
                for (int i = 0; i < count; ++i) appendHex(data, bytes[i]);
            } else {
                m_chip.write(reg, count, bytes, nowMs);
            }
            frame.data.assign(bytes, bytes + count);
            return letter;
        }
        default:
            return 'F';
    }
}

bool SimBoard::chipAnswers(int dev) const {
    // The board adds the read/write bit itself, so only the upper seven bits
    // select the chip.
    return (dev & 0xFE) == (m_chipAddr & 0xFE);
}

std::string SimBoard::takeOutput() {
    std::string out;
    out.swap(m_output);
    return out;
}

void SimBoard::sendEvent(char letter, const std::string& body) {
    m_output += kStx;
    m_output += 'C';
    m_output += letter;
    m_output += body;
    m_output += kEtx;
}

void SimBoard::sendTouchEvent() {
    const uint16_t mask = m_chip.touchMask();
    std::string body;
    appendHex(body, static_cast<uint8_t>(mask & 0xFF));
    appendHex(body, static_cast<uint8_t>(mask >> 8));
    sendEvent('T', body);
}

bool SimBoard::touch(int ch) {
    if (!m_chip.setTouched(ch, true)) return false;
    sendTouchEvent();
    return true;
}

bool SimBoard::release(int ch) {
    if (!m_chip.setTouched(ch, false)) return false;
    sendTouchEvent();
    return true;
}

bool SimBoard::setStatus(const std::string& digits) {
    std::string body;
    for (char c : digits) {
        const int v = hexDigit(c);
        if (v < 0) return false;
        body += "0123456789ABCDEF"[v];
    }
    body.resize(static_cast<size_t>(m_chip.channels()), '0');
    sendEvent('E', body);
    return true;
}

void SimBoard::setAutoplay(bool on, uint32_t nowMs) {
    if (!on && m_autoHolding) release(m_autoKey);
    m_autoplay = on;
    m_autoHolding = false;
    m_autoNextMs = nowMs;
}

void SimBoard::tick(uint32_t nowMs) {
    if (!m_autoplay || m_chip.channels() == 0 || static_cast<int32_t>(nowMs - m_autoNextMs) < 0) return;
    if (m_autoHolding) {
        release(m_autoKey);
        m_autoNextMs = nowMs + kAutoplayGapMs;
    } else {
        m_autoKey = (m_autoKey + 1) % m_chip.channels();
        touch(m_autoKey);
        m_autoNextMs = nowMs + kAutoplayHoldMs;
    }
    m_autoHolding = !m_autoHolding;
}

bool SimBoard::selectionEverWritten(int ch) const {
    const int reg = m_chip.selectionRegister();
    if (reg < 0) return false;
    return m_log->wasWritten(static_cast<uint8_t>(reg), static_cast<uint8_t>(m_chip.selectionValue(ch)));
}
