// The board commands of tkeval-cli, one function each; Cli_Commands() names
// them. Each returns its exit code, a failure having been reported through
// the output by then.
#pragma once

#include "cli/CliArgs.h"

class CliOutput;
class CliSession;

int Cli_CmdPorts(const CliArgs& args, CliOutput* out, CliSession& session);
int Cli_CmdInfo(const CliArgs& args, CliOutput* out, CliSession& session);
int Cli_CmdRead(const CliArgs& args, CliOutput* out, CliSession& session);
int Cli_CmdWrite(const CliArgs& args, CliOutput* out, CliSession& session);
int Cli_CmdDump(const CliArgs& args, CliOutput* out, CliSession& session);
int Cli_CmdLoad(const CliArgs& args, CliOutput* out, CliSession& session);
int Cli_CmdReset(const CliArgs& args, CliOutput* out, CliSession& session);
int Cli_CmdSearch(const CliArgs& args, CliOutput* out, CliSession& session);
int Cli_CmdMonitor(const CliArgs& args, CliOutput* out, CliSession& session);
int Cli_CmdSnr(const CliArgs& args, CliOutput* out, CliSession& session);
int Cli_CmdAutosen(const CliArgs& args, CliOutput* out, CliSession& session);

// Reads the settings, checks the argument count against the command's entry
// and runs it.
int Cli_Run(const CliArgs& args, CliOutput* out);
