// Handing the tuning over from tkeval-cli: export (the register set as a C
// header or JSON), diff (two register files, or one against the chip) and
// report (the tuning report as one HTML file). The parser and the dispatch
// reach these through the few hooks below.
#pragma once

#include <QMap>
#include <QSet>
#include <QString>

#include "cli/CliArgs.h"

class CliOutput;
class CliSession;

QSet<QString> Cli_HandoffCommands();
QSet<QString> Cli_HandoffValueOptions();
QSet<QString> Cli_HandoffFlagOptions();
// Option -> the commands it belongs to, space-separated.
QMap<QString, QString> Cli_HandoffCommandOptions();
// The lines of --help for these commands and their options.
QString Cli_HandoffUsageCommands();
QString Cli_HandoffUsageOptions();

// Runs export, diff or report; an exit code.
int Cli_RunHandoff(const CliArgs& args, CliOutput* out, CliSession& session);
