// The commands of tkeval-cli as data: the parser, the help texts, the shell
// completion and the dispatcher all read the one table in
// CliCommandTable.cpp, so a new command is an entry there plus its function.
#pragma once

#include <QList>
#include <QString>

struct CliArgs;
class CliOutput;
class CliSession;

// Runs a command whose arguments have been checked against its entry; returns
// the exit code, a failure having been reported through out by then. The
// session has read the working directory's settings; connecting is up to the
// command.
using CliCommandFn = int (*)(const CliArgs& args, CliOutput* out, CliSession& session);

struct CliOptionSpec {
    const char* name;       // without "--"
    const char* valueName;  // nullptr for a flag
    const char* help;
};

struct CliCommand {
    const char* name;
    const char* synopsis;  // its arguments, "REG [COUNT]"
    const char* summary;   // one line for the command list
    int minArgs;
    int maxArgs;                   // -1: no limit
    QList<CliOptionSpec> options;  // those that only this command takes
    CliCommandFn run;
};

// Every command, in the order the help lists them.
const QList<CliCommand>& Cli_Commands();
// Options that every command takes.
const QList<CliOptionSpec>& Cli_GlobalOptions();
const CliCommand* Cli_FindCommand(const QString& name);
