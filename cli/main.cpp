// tkeval-cli: the evaluation board and the chip from the command line, for
// scripts, production tests and machines without a display.
#include <QCoreApplication>
#include <csignal>
#include <cstdio>

#include "cli/CliArgs.h"
#include "cli/CliCommands.h"
#include "cli/CliOutput.h"
#include "cli/CliProduction.h"
#include "link/commands.h"

namespace {

int Print(const QString& text) {
    std::fputs(text.toLocal8Bit().constData(), stdout);
    return std::fflush(stdout) == 0 ? kExitOk : kExitFile;
}

}  // namespace

int main(int argc, char* argv[]) {
    QCoreApplication app(argc, argv);
    // A reader that goes away (a pipe into head) makes writes fail, which is
    // reported, instead of killing the program mid-row.
    std::signal(SIGPIPE, SIG_IGN);
    if (Cli_IsProductionCommand(QCoreApplication::arguments())) return Cli_RunProduction(QCoreApplication::arguments());
    CliArgs args;
    QString error;
    const bool parsed = Cli_ParseArgs(QCoreApplication::arguments(), &args, &error);
    CliOutput out(args.has("json"));
    if (!parsed) {
        out.fail(kExitUsage, error + QStringLiteral(" (tkeval-cli --help)"));
        return out.finish(kExitUsage);
    }
    if (args.has("list-commands")) return Print(Cli_CompletionCommands());
    if (args.has("list-options")) return Print(Cli_CompletionOptions(args.command));
    const bool helpCommand = args.command == QLatin1String("help");
    if (args.has("help") || helpCommand) {
        const QString topic = helpCommand ? args.positional.value(0) : args.command;
        if (helpCommand && args.positional.size() > 1) {
            out.fail(kExitUsage, QStringLiteral("'help': unexpected argument '%1'").arg(args.positional[1]));
            return out.finish(kExitUsage);
        }
        if (topic.isEmpty()) return Print(Cli_Usage());
        const QString text = Cli_CommandHelp(topic);
        if (text.isEmpty() && !helpCommand) return Print(Cli_Usage());
        if (text.isEmpty()) {
            out.fail(kExitUsage, QStringLiteral("unknown command '%1' (tkeval-cli --help)").arg(topic));
            return out.finish(kExitUsage);
        }
        return Print(text);
    }
    if (args.has("version")) {
        std::puts("tkeval-cli " TKEVAL_VERSION);
        return kExitOk;
    }
    return out.finish(Cli_Run(args, &out));
}
