// The commands of tkeval-cli. Each returns its exit code; a failure has been
// reported through the output by then.
#pragma once

#include "cli/CliArgs.h"

class CliOutput;

int Cli_Run(const CliArgs& args, CliOutput* out);
