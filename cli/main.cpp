// tkeval-cli: the evaluation board and the chip from the command line, for
// scripts, production tests and machines without a display.
#include <QCoreApplication>
#include <csignal>
#include <cstdio>

#include "cli/CliArgs.h"
#include "cli/CliCommands.h"
#include "cli/CliOutput.h"
#include "cli/CliProduction.h"

int main(int argc, char* argv[]) {
    QCoreApplication app(argc, argv);
    // A reader that goes away (a pipe into head) makes writes fail, which is
    // reported, instead of killing the program mid-row.
    std::signal(SIGPIPE, SIG_IGN);
    if (Cli_IsProductionCommand(QCoreApplication::arguments()))
        return Cli_RunProduction(QCoreApplication::arguments());
    CliArgs args;
    QString error;
    const bool parsed = Cli_ParseArgs(QCoreApplication::arguments(), &args, &error);
    CliOutput out(args.has("json"));
    if (!parsed) {
        out.fail(kExitUsage, error + QStringLiteral(" (tkeval-cli --help)"));
        return out.finish(kExitUsage);
    }
    if (args.has("help")) {
        std::fputs(Cli_Usage().toLocal8Bit().constData(), stdout);
        return kExitOk;
    }
    if (args.has("version")) {
        std::puts("tkeval-cli " TKEVAL_VERSION);
        return kExitOk;
    }
    return out.finish(Cli_Run(args, &out));
}
