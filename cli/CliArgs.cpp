#include "cli/CliArgs.h"

#include <QSet>

namespace {

// Options that take a value; every other known option is a flag.
const QSet<QString>& ValueOptions() {
    static const QSet<QString> s = {"port", "workdir", "addr",    "seconds", "channels",
                                    "csv",  "sbf",     "samples", "min",     "report"};
    return s;
}

const QSet<QString>& FlagOptions() {
    static const QSet<QString> s = {"json", "help", "version", "any-firmware", "no-verify", "hinted", "save"};
    return s;
}

// Options that belong to one command only.
const QMap<QString, QString>& CommandOptions() {
    static const QMap<QString, QString> m = {
        {"no-verify", "write load"}, {"hinted", "dump"}, {"save", "search"}, {"seconds", "monitor"}, {"csv", "monitor"},
        {"channels", "monitor snr"}, {"sbf", "snr"},     {"samples", "snr"}, {"min", "snr"},         {"report", "snr"},
    };
    return m;
}

const QStringList& Commands() {
    static const QStringList c = {"ports", "info",  "read",   "write",   "dump",
                                  "load",  "reset", "search", "monitor", "snr"};
    return c;
}

}  // namespace

bool Cli_ParseArgs(const QStringList& args, CliArgs* out, QString* error) {
    bool optionsEnded = false;
    for (int i = 1; i < args.size(); ++i) {
        const QString& a = args[i];
        if (!optionsEnded && a == QLatin1String("--")) {
            optionsEnded = true;
            continue;
        }
        if (!optionsEnded && a.startsWith(QLatin1String("--"))) {
            QString name = a.mid(2);
            QString value;
            const int eq = name.indexOf(QLatin1Char('='));
            const bool inlineValue = eq >= 0;
            if (inlineValue) {
                value = name.mid(eq + 1);
                name = name.left(eq);
            }
            if (ValueOptions().contains(name)) {
                if (!inlineValue) {
                    if (i + 1 >= args.size()) {
                        *error = QStringLiteral("option --%1 needs a value").arg(name);
                        return false;
                    }
                    value = args[++i];
                }
            } else if (FlagOptions().contains(name)) {
                if (inlineValue) {
                    *error = QStringLiteral("option --%1 takes no value").arg(name);
                    return false;
                }
            } else {
                *error = QStringLiteral("unknown option %1").arg(a);
                return false;
            }
            out->opts.insert(name, value);
            continue;
        }
        if (out->command.isEmpty()) {
            out->command = a;
        } else {
            out->positional.append(a);
        }
    }
    if (out->has("help") || out->has("version")) return true;
    if (out->command.isEmpty()) {
        *error = QStringLiteral("no command given");
        return false;
    }
    if (!Commands().contains(out->command)) {
        *error = QStringLiteral("unknown command '%1'").arg(out->command);
        return false;
    }
    for (auto it = out->opts.cbegin(); it != out->opts.cend(); ++it) {
        const QString owners = CommandOptions().value(it.key());
        if (!owners.isEmpty() && !owners.split(QLatin1Char(' ')).contains(out->command)) {
            *error = QStringLiteral("option --%1 does not apply to '%2'").arg(it.key(), out->command);
            return false;
        }
    }
    return true;
}

bool Cli_ParseHexByte(const QString& text, int* value) {
    QString t = text.trimmed();
    if (t.startsWith(QLatin1String("0x"), Qt::CaseInsensitive)) t = t.mid(2);
    if (t.isEmpty() || t.size() > 2) return false;
    bool ok = false;
    const int v = t.toInt(&ok, 16);
    if (!ok || v < 0) return false;
    *value = v;
    return true;
}

bool Cli_ParseCount(const QString& text, int* value) {
    bool ok = false;
    const int v = text.toInt(&ok, 10);
    if (!ok || v < 0) return false;
    *value = v;
    return true;
}

bool Cli_ParseChannels(const QString& text, int channels, uint16_t* mask, QString* error) {
    uint16_t m = 0;
    for (const QString& part : text.split(QLatin1Char(','))) {
        const QStringList ends = part.trimmed().split(QLatin1Char('-'));
        int lo = 0;
        int hi = 0;
        const bool ok = ends.size() <= 2 && Cli_ParseCount(ends.first(), &lo) &&
                        Cli_ParseCount(ends.size() == 2 ? ends.last() : ends.first(), &hi);
        if (!ok || lo < 1 || hi < lo) {
            *error = QStringLiteral("bad channel list '%1' (for example 1,3-5)").arg(text);
            return false;
        }
        if (hi > channels) {
            *error = QStringLiteral("channel %1 is beyond the chip's %2 channels").arg(hi).arg(channels);
            return false;
        }
        for (int c = lo; c <= hi; ++c) m = static_cast<uint16_t>(m | (1u << (c - 1)));
    }
    *mask = m;
    return true;
}

QString Cli_Usage() {
    return QStringLiteral(
        "Usage: tkeval-cli [OPTIONS] COMMAND [ARGS]\n"
        "\n"
        "Commands:\n"
        "  ports                     list the ports the board may be on\n"
        "  info                      firmware, device, family, channels, SBFs, address, chip\n"
        "  read REG [COUNT]          read COUNT registers from REG (hex REG, decimal COUNT)\n"
        "  write REG VALUE...        write consecutive registers from REG, each read back\n"
        "  dump [FILE]               all 256 registers as a register file (stdout without FILE)\n"
        "  load FILE                 write a register file to the chip, then read it back\n"
        "  reset                     reset the chip\n"
        "  search                    find the chip's I2C address\n"
        "  monitor                   stream monitor samples as a log\n"
        "  snr                       signal-to-noise test of the keys\n"
        "  test, results             production test and its yield (tkeval-cli test --help)\n"
        "\n"
        "Options:\n"
        "  --port PATH               serial device (every command but ports)\n"
        "  --workdir DIR             where system.ini, config.ini and hint.txt are read (default .)\n"
        "  --addr HEX                I2C address, overriding config.ini\n"
        "  --json                    one JSON document on stdout\n"
        "  --any-firmware            accept firmware outside v3.0 to v3.9\n"
        "  --no-verify               write, load: no read-back\n"
        "  --hinted                  dump: only registers with a cell in hint.txt\n"
        "  --save                    search: store the address found in config.ini\n"
        "  --seconds S, --channels LIST, --csv FILE|-       monitor\n"
        "  --channels LIST, --sbf K, --samples N, --min X, --report FILE   snr\n"
        "  --help, --version\n"
        "\n"
        "Exit codes: 0 success, 1 usage, 2 port, 3 board or chip, 4 file, 5 test failed.\n");
}
