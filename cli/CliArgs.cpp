#include "cli/CliArgs.h"

#include <QCommandLineParser>

#include "cli/CliCommand.h"

namespace {

// Asked by the bash completion; not in the help.
const char kListCommands[] = "list-commands";
const char kListOptions[] = "list-options";

// Every option of the program once, by name: the global ones and those of
// every command (two commands may share one, such as --channels).
QList<const CliOptionSpec*> AllOptions() {
    QList<const CliOptionSpec*> all;
    QStringList seen;
    auto add = [&](const CliOptionSpec& o) {
        if (seen.contains(QLatin1String(o.name))) return;
        seen << QLatin1String(o.name);
        all << &o;
    };
    for (const CliOptionSpec& o : Cli_GlobalOptions()) add(o);
    for (const CliCommand& c : Cli_Commands())
        for (const CliOptionSpec& o : c.options) add(o);
    return all;
}

// The one-letter spellings some options also have.
const char* ShortName(const char* option) {
    if (qstrcmp(option, "help") == 0) return "h";
    if (qstrcmp(option, "output") == 0) return "o";
    return nullptr;
}

const CliOptionSpec* FindOption(const QString& name) {
    for (const CliOptionSpec* o : AllOptions())
        if (name == QLatin1String(o->name)) return o;
    return nullptr;
}

bool IsGlobal(const QString& name) {
    for (const CliOptionSpec& o : Cli_GlobalOptions())
        if (name == QLatin1String(o.name)) return true;
    return false;
}

bool Takes(const CliCommand& c, const QString& name) {
    if (IsGlobal(name)) return true;
    for (const CliOptionSpec& o : c.options)
        if (name == QLatin1String(o.name)) return true;
    return false;
}

// What the parser refused, phrased as tkeval-cli always has: the parser
// keeps going past a bad option and tells only what kind of fault it met.
QString ParseProblem(const QCommandLineParser& parser, const QStringList& args) {
    if (!parser.unknownOptionNames().isEmpty()) {
        const QString name = parser.unknownOptionNames().constFirst();
        for (const QString& a : args.mid(1)) {
            if (a == QLatin1String("--")) break;
            if (a == QLatin1String("--") + name || a.startsWith(QLatin1String("--") + name + QLatin1Char('=')))
                return QStringLiteral("unknown option %1").arg(a);
        }
        return QStringLiteral("unknown option -%1").arg(name);
    }
    for (int i = 1; i < args.size(); ++i) {
        const QString& a = args[i];
        if (a == QLatin1String("--")) break;
        if (!a.startsWith(QLatin1String("--"))) continue;
        const int eq = a.indexOf(QLatin1Char('='));
        const QString name = a.mid(2, eq < 0 ? -1 : eq - 2);
        const CliOptionSpec* o = FindOption(name);
        if (o == nullptr) continue;
        if (o->valueName == nullptr && eq >= 0) return QStringLiteral("option --%1 takes no value").arg(name);
        if (o->valueName != nullptr && eq < 0) {
            if (i + 1 >= args.size()) return QStringLiteral("option --%1 needs a value").arg(name);
            ++i;
        }
    }
    return parser.errorText();
}

}  // namespace

bool Cli_ParseArgs(const QStringList& args, CliArgs* out, QString* error) {
    QCommandLineParser parser;
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsCompactedShortOptions);
    for (const CliOptionSpec* o : AllOptions()) {
        QStringList names{QLatin1String(o->name)};
        if (const char* letter = ShortName(o->name)) names.prepend(QLatin1String(letter));
        QCommandLineOption option(names, QLatin1String(o->help));
        if (o->valueName != nullptr) option.setValueName(QLatin1String(o->valueName));
        parser.addOption(option);
    }
    for (const char* hidden : {kListCommands, kListOptions}) {
        QCommandLineOption option{QString::fromLatin1(hidden)};
        option.setFlags(QCommandLineOption::HiddenFromHelp);
        parser.addOption(option);
    }
    if (!parser.parse(args.isEmpty() ? QStringList{QStringLiteral("tkeval-cli")} : args)) {
        *error = ParseProblem(parser, args);
        return false;
    }
    for (const CliOptionSpec* o : AllOptions()) {
        const QString name = QLatin1String(o->name);
        if (parser.isSet(name)) out->opts.insert(name, o->valueName != nullptr ? parser.value(name) : QString());
    }
    for (const char* hidden : {kListCommands, kListOptions})
        if (parser.isSet(QLatin1String(hidden))) out->opts.insert(QLatin1String(hidden), QString());
    out->positional = parser.positionalArguments();
    if (!out->positional.isEmpty()) out->command = out->positional.takeFirst();

    if (out->has("help") || out->has("version") || out->has(kListCommands) || out->has(kListOptions)) return true;
    if (out->command.isEmpty()) {
        *error = QStringLiteral("no command given");
        return false;
    }
    if (out->command == QLatin1String("help")) return true;
    const CliCommand* command = Cli_FindCommand(out->command);
    if (command == nullptr) {
        *error = QStringLiteral("unknown command '%1'").arg(out->command);
        return false;
    }
    for (auto it = out->opts.cbegin(); it != out->opts.cend(); ++it) {
        if (!Takes(*command, it.key())) {
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

namespace {

constexpr int kHelpColumn = 28;

QString HelpRow(const QString& left, const QString& right) {
    QString row = QStringLiteral("  ") + left;
    row += row.size() + 2 <= kHelpColumn ? QString(kHelpColumn - row.size(), QLatin1Char(' ')) : QStringLiteral("  ");
    return row + right + QLatin1Char('\n');
}

QString OptionName(const CliOptionSpec& o) {
    QString name = QStringLiteral("--") + QLatin1String(o.name);
    if (const char* letter = ShortName(o.name)) name = QStringLiteral("-%1, ").arg(QLatin1String(letter)) + name;
    if (o.valueName != nullptr) name += QLatin1Char(' ') + QLatin1String(o.valueName);
    return name;
}

QString CommandLine(const CliCommand& c) {
    QString line = QLatin1String(c.name);
    if (*c.synopsis != '\0') line += QLatin1Char(' ') + QLatin1String(c.synopsis);
    return line;
}

}  // namespace

QString Cli_Usage() {
    QString text = QStringLiteral("Usage: tkeval-cli [OPTIONS] COMMAND [ARGS]\n\nCommands:\n");
    for (const CliCommand& c : Cli_Commands()) text += HelpRow(CommandLine(c), QLatin1String(c.summary));
    text += HelpRow(QStringLiteral("help [COMMAND]"), QStringLiteral("this help, or that of one command"));
    text += QStringLiteral("\nOptions:\n");
    for (const CliOptionSpec& o : Cli_GlobalOptions()) text += HelpRow(OptionName(o), QLatin1String(o.help));
    // A command's own options, with the commands that take them.
    QStringList listed;
    for (const CliCommand& c : Cli_Commands()) {
        for (const CliOptionSpec& o : c.options) {
            if (listed.contains(QLatin1String(o.name))) continue;
            listed << QLatin1String(o.name);
            QStringList owners;
            for (const CliCommand& other : Cli_Commands())
                for (const CliOptionSpec& p : other.options)
                    if (qstrcmp(p.name, o.name) == 0) owners << QLatin1String(other.name);
            text += HelpRow(OptionName(o),
                            owners.join(QStringLiteral(", ")) + QStringLiteral(": ") + QLatin1String(o.help));
        }
    }
    text += QStringLiteral("\nExit codes: 0 success, 1 usage, 2 port, 3 board or chip, 4 file, 5 test failed.\n");
    return text;
}

QString Cli_CommandHelp(const QString& command) {
    const CliCommand* c = Cli_FindCommand(command);
    if (c == nullptr) return QString();
    QString text =
        QStringLiteral("Usage: tkeval-cli [OPTIONS] %1\n%2\n").arg(CommandLine(*c), QLatin1String(c->summary));
    if (!c->options.isEmpty()) {
        text += QStringLiteral("\nOptions of %1:\n").arg(QLatin1String(c->name));
        for (const CliOptionSpec& o : c->options) text += HelpRow(OptionName(o), QLatin1String(o.help));
    }
    text += QStringLiteral("\nOptions of every command:\n");
    for (const CliOptionSpec& o : Cli_GlobalOptions()) text += HelpRow(OptionName(o), QLatin1String(o.help));
    return text;
}

QString Cli_CompletionCommands() {
    QString text;
    for (const CliCommand& c : Cli_Commands()) text += QLatin1String(c.name) + QLatin1Char('\n');
    return text + QStringLiteral("help\n");
}

QString Cli_CompletionOptions(const QString& command) {
    const CliCommand* c = Cli_FindCommand(command);
    QString text;
    for (const CliOptionSpec* o : AllOptions()) {
        if (c != nullptr && !Takes(*c, QLatin1String(o->name))) continue;
        text += QStringLiteral("--") + QLatin1String(o->name) +
                (o->valueName != nullptr ? QStringLiteral("=\n") : QStringLiteral("\n"));
    }
    return text;
}
