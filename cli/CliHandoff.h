// Handing the tuning over from tkeval-cli: export (the register set as a C
// header or JSON), diff (two register files, or one against the chip) and
// report (the tuning report as one HTML file); their entries are in the
// command table.
#pragma once

#include "cli/CliArgs.h"

class CliOutput;
class CliSession;

int Cli_CmdExport(const CliArgs& args, CliOutput* out, CliSession& session);
int Cli_CmdDiff(const CliArgs& args, CliOutput* out, CliSession& session);
int Cli_CmdReport(const CliArgs& args, CliOutput* out, CliSession& session);
