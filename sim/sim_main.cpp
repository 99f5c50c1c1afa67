// tkeval-sim: the simulated evaluation board on a pseudo-terminal.
//
// Prints the slave's path on its first line, then reads commands from
// standard input, one per line (channels count from 0):
//   touch N | release N | level N VALUE | status DIGITS | silent on|off
//   version N | addr XX | noise N | pace on|off | hangup |
//   replug SECONDS | noisy N AMPLITUDE | baseline N REF | stuck XX VV|off | quit
// Ends on quit, on SIGTERM or SIGINT, and at the end of standard input unless
// --autoplay is given (so that a script can leave it running in the
// background with its input closed).
#include <poll.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "sim/SimPtyHost.h"

namespace {

// The self-pipe a signal handler may write to: the one thing a handler can
// reach has to live at namespace scope.
int signalPipe[2] = {-1, -1};

void onSignal(int) {
    const char c = 1;
    const ssize_t ignored = ::write(signalPipe[1], &c, 1);
    (void)ignored;
}

struct Options {
    std::string model = "TK2C";
    int channels = 8;
    int sbf = 4;
    int addr = 0xB0;
    int version = 32;
    int noise = 2;
    bool autoplay = false;
    bool pace = false;
    std::string link;
    // Faults of one board, for production tests: channel -> noise or reference, register -> value kept.
    std::vector<std::pair<int, int>> noisy;
    std::vector<std::pair<int, int>> baseline;
    std::vector<std::pair<int, int>> stuck;
};

void usage(FILE* to) {
    std::fprintf(to,
                 "usage: tkeval-sim [--model NAME] [--channels N] [--sbf N] [--addr HEX] [--version N]\n"
                 "                  [--noise N] [--autoplay] [--pace] [--link PATH]\n"
                 "                  [--noisy CH:AMPLITUDE] [--baseline CH:REF] [--stuck-register XX:VV]\n"
                 "Prints the port path, then reads commands from standard input:\n"
                 "  touch N, release N, level N VALUE, status DIGITS, silent on|off,\n"
                 "  version N, addr XX, noise N, pace on|off, hangup, replug SECONDS,\n"
                 "  noisy N AMPLITUDE, baseline N REF, stuck XX VV|off, quit\n");
}

// Whole-string integer in the given base within [lo, hi].
bool parseInt(const std::string& text, int base, int lo, int hi, int& out) {
    if (text.empty()) return false;
    char* end = nullptr;
    errno = 0;
    const long v = std::strtol(text.c_str(), &end, base);
    if (errno != 0 || *end != '\0' || v < lo || v > hi) return false;
    out = static_cast<int>(v);
    return true;
}

// "A:B" with A in base baseA within [loA, hiA] and B decimal within [loB, hiB].
bool parsePair(const std::string& text, int baseA, int loA, int hiA, int baseB, int loB, int hiB,
               std::pair<int, int>& out) {
    const size_t colon = text.find(':');
    if (colon == std::string::npos) return false;
    return parseInt(text.substr(0, colon), baseA, loA, hiA, out.first) &&
           parseInt(text.substr(colon + 1), baseB, loB, hiB, out.second);
}

// Whole-string decimal seconds within [0, 3600], fractions allowed.
bool parseSeconds(const std::string& text, double& out) {
    if (text.empty()) return false;
    char* end = nullptr;
    errno = 0;
    const double v = std::strtod(text.c_str(), &end);
    if (errno != 0 || *end != '\0' || !(v >= 0.0 && v <= 3600.0)) return false;
    out = v;
    return true;
}

bool parseOptions(int argc, char** argv, Options& o) {
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        auto value = [&](std::string& out) {
            if (i + 1 >= argc) {
                std::fprintf(stderr, "tkeval-sim: %s needs a value\n", arg.c_str());
                return false;
            }
            out = argv[++i];
            return true;
        };
        auto number = [&](int base, int lo, int hi, int& out) {
            std::string text;
            if (!value(text)) return false;
            if (!parseInt(text, base, lo, hi, out)) {
                std::fprintf(stderr, "tkeval-sim: %s: '%s' is not a number in range\n", arg.c_str(), text.c_str());
                return false;
            }
            return true;
        };
        bool ok = true;
        if (arg == "--model")
            ok = value(o.model);
        else if (arg == "--channels")
            ok = number(10, 0, SimChip::kMaxChannels, o.channels);
        else if (arg == "--sbf")
            ok = number(10, 0, SimChip::kMaxSbf, o.sbf);
        else if (arg == "--addr")
            ok = number(16, 0, 0xFF, o.addr);
        else if (arg == "--version")
            ok = number(10, 0, 255, o.version);
        else if (arg == "--noise")
            ok = number(10, 0, 1000, o.noise);
        else if (arg == "--link")
            ok = value(o.link);
        else if (arg == "--noisy" || arg == "--baseline" || arg == "--stuck-register") {
            std::string text;
            std::pair<int, int> p;
            ok = value(text);
            if (ok) {
                if (arg == "--noisy")
                    ok = parsePair(text, 10, 0, SimChip::kMaxChannels - 1, 10, 0, 1000, p);
                else if (arg == "--baseline")
                    ok = parsePair(text, 10, 0, SimChip::kMaxChannels - 1, 10, 0, 0x3FFF, p);
                else
                    ok = parsePair(text, 16, 0, 0xFF, 16, 0, 0xFF, p);
                if (!ok)
                    std::fprintf(stderr, "tkeval-sim: %s: '%s' is not a pair in range\n", arg.c_str(), text.c_str());
                else
                    (arg == "--noisy" ? o.noisy : arg == "--baseline" ? o.baseline : o.stuck).push_back(p);
            }
        } else if (arg == "--autoplay")
            o.autoplay = true;
        else if (arg == "--pace")
            o.pace = true;
        else if (arg == "--help" || arg == "-h") {
            usage(stdout);
            std::exit(0);
        } else {
            std::fprintf(stderr, "tkeval-sim: unknown option %s\n", arg.c_str());
            ok = false;
        }
        if (!ok) return false;
    }
    return true;
}

bool onOff(const std::string& word, bool& out) {
    if (word == "on" || word == "1")
        out = true;
    else if (word == "off" || word == "0")
        out = false;
    else
        return false;
    return true;
}

// Every SBF of a channel rests at ref.
void setBaseline(SimChip& chip, int ch, int ref) {
    for (int k = 0; k < SimChip::kMaxSbf; ++k) chip.setBaseRef(ch, k, ref);
}

// Returns false for quit.
bool runCommand(SimPtyHost& host, const std::string& line) {
    std::istringstream in(line);
    std::string cmd, a, b, extra;
    in >> cmd >> a >> b >> extra;
    if (cmd.empty() || cmd[0] == '#') return true;
    int n = 0;
    int v = 0;
    bool flag = false;
    bool ok = extra.empty();
    if (cmd == "quit" || cmd == "exit") {
        return false;
    } else if (cmd == "touch" || cmd == "release") {
        ok = ok && b.empty() && parseInt(a, 10, 0, SimChip::kMaxChannels - 1, n);
        if (ok) cmd == "touch" ? host.touch(n) : host.release(n);
    } else if (cmd == "level") {
        ok = ok && parseInt(a, 10, 0, SimChip::kMaxChannels - 1, n) && parseInt(b, 10, -4095, 4095, v);
        if (ok) host.setLevel(n, v);
    } else if (cmd == "status") {
        ok = ok && b.empty() && a.size() <= SimChip::kMaxChannels && host.setStatus(a);
    } else if (cmd == "silent" || cmd == "pace") {
        ok = ok && b.empty() && onOff(a, flag);
        if (ok) cmd == "silent" ? host.setSilent(flag) : host.setPacing(flag);
    } else if (cmd == "version") {
        ok = ok && b.empty() && parseInt(a, 10, 0, 255, v);
        if (ok) host.setVersion(v);
    } else if (cmd == "addr") {
        ok = ok && b.empty() && parseInt(a, 16, 0, 0xFF, v);
        if (ok) host.setAddr(v);
    } else if (cmd == "noise") {
        ok = ok && b.empty() && parseInt(a, 10, 0, 1000, v);
        if (ok) host.setNoise(v, 1);
    } else if (cmd == "noisy") {
        ok = ok && parseInt(a, 10, 0, SimChip::kMaxChannels - 1, n) && parseInt(b, 10, -1, 1000, v);
        if (ok) host.withBoard([&](SimBoard& board, uint32_t) { board.chip().setChannelNoise(n, v); });
    } else if (cmd == "baseline") {
        ok = ok && parseInt(a, 10, 0, SimChip::kMaxChannels - 1, n) && parseInt(b, 10, 0, 0x3FFF, v);
        if (ok) host.withBoard([&](SimBoard& board, uint32_t) { setBaseline(board.chip(), n, v); });
    } else if (cmd == "stuck") {
        ok = ok && parseInt(a, 16, 0, 0xFF, n) && (b == "off" || parseInt(b, 16, 0, 0xFF, v));
        if (b == "off") v = -1;
        if (ok)
            host.withBoard(
                [&](SimBoard& board, uint32_t) { board.chip().setStuckRegister(static_cast<uint8_t>(n), v); });
    } else if (cmd == "hangup") {
        ok = ok && a.empty();
        if (ok) host.hangup();
    } else if (cmd == "replug") {
        double seconds = 0;
        ok = ok && b.empty() && parseSeconds(a, seconds);
        if (ok) host.replug(static_cast<int>(seconds * 1000));
    } else {
        std::fprintf(stderr, "tkeval-sim: unknown command '%s'\n", cmd.c_str());
        return true;
    }
    if (!ok) std::fprintf(stderr, "tkeval-sim: cannot use '%s'\n", line.c_str());
    return true;
}

// The board as the options describe it, before it starts.
void configureHost(SimPtyHost& host, const Options& o) {
    host.setAddr(o.addr);
    host.setVersion(o.version);
    host.setNoise(o.noise, static_cast<uint32_t>(::getpid()));
    host.setPacing(o.pace);
    host.withBoard([&](SimBoard& board, uint32_t) {
        for (const auto& p : o.noisy) board.chip().setChannelNoise(p.first, p.second);
        for (const auto& p : o.baseline) setBaseline(board.chip(), p.first, p.second);
        for (const auto& p : o.stuck) board.chip().setStuckRegister(static_cast<uint8_t>(p.first), p.second);
    });
}

// Runs the commands of standard input, a line at a time, until a signal, a
// quit command or (without autoplay) the end of input.
void serveCommands(SimPtyHost& host, const Options& o) {
    std::string pending;
    bool stdinOpen = true;
    bool quit = false;
    while (!quit) {
        pollfd fds[2] = {{signalPipe[0], POLLIN, 0}, {STDIN_FILENO, POLLIN, 0}};
        const int n = ::poll(fds, stdinOpen ? 2 : 1, -1);
        if (n < 0 && errno != EINTR) break;
        if (fds[0].revents != 0) break;
        if (!stdinOpen || fds[1].revents == 0) continue;
        char buf[256];
        const ssize_t got = ::read(STDIN_FILENO, buf, sizeof buf);
        if (got <= 0) {
            if (got < 0 && (errno == EINTR || errno == EAGAIN)) continue;
            stdinOpen = false;
            if (!pending.empty()) quit = !runCommand(host, pending);
            if (!o.autoplay) quit = true;
            continue;
        }
        pending.append(buf, static_cast<size_t>(got));
        size_t eol;
        while (!quit && (eol = pending.find('\n')) != std::string::npos) {
            std::string line = pending.substr(0, eol);
            pending.erase(0, eol + 1);
            if (!line.empty() && line.back() == '\r') line.pop_back();
            quit = !runCommand(host, line);
        }
    }
}

}  // namespace

int main(int argc, char** argv) {
    Options o;
    if (!parseOptions(argc, argv, o)) {
        usage(stderr);
        return 2;
    }
    if (::pipe(signalPipe) != 0) {
        std::perror("tkeval-sim: pipe");
        return 1;
    }
    struct sigaction sa {};
    sa.sa_handler = onSignal;
    sigemptyset(&sa.sa_mask);
    sigaction(SIGTERM, &sa, nullptr);
    sigaction(SIGINT, &sa, nullptr);
    signal(SIGPIPE, SIG_IGN);

    if (SimChip::familyForModel(o.model) == 0)
        std::fprintf(stderr, "tkeval-sim: model %s is not in the device table; simulating family 0\n", o.model.c_str());
    SimPtyHost host(o.model, o.channels, o.sbf);
    configureHost(host, o);
    std::string error;
    if (!host.start(o.link, &error)) {
        std::fprintf(stderr, "tkeval-sim: %s\n", error.c_str());
        return 1;
    }
    if (o.autoplay) host.setAutoplay(true);
    std::printf("%s\n", host.slavePath().c_str());
    std::fflush(stdout);

    serveCommands(host, o);
    host.stop();
    return 0;
}
