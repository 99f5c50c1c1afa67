// The production station's commands of tkeval-cli: `test` (one board, or
// several at once in child processes) and `results` (yield and Cpk). They
// read their own options, so they stay apart from the other commands' parser.
#pragma once

#include <QStringList>

// Whether the command named on this command line is one of ours.
bool Cli_IsProductionCommand(const QStringList& args);
// Runs it; returns the exit code.
int Cli_RunProduction(const QStringList& args);

struct CliArgs;
class CliOutput;
class CliSession;
// The command table's entry for both; they parse the command line themselves.
int Cli_CmdProduction(const CliArgs& args, CliOutput* out, CliSession& session);
