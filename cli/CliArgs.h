// The command line of tkeval-cli: options may stand before or after the
// command, "--name value" or "--name=value"; "--" ends the options.
#pragma once

#include <QMap>
#include <QString>
#include <QStringList>
#include <cstdint>

enum CliExit {
    kExitOk = 0,
    kExitUsage = 1,
    kExitPort = 2,   // the port cannot be opened or fails
    kExitBoard = 3,  // board or chip silent, an exchange fails, a read-back differs
    kExitFile = 4,   // a file cannot be read or written, or its content is bad
    kExitTest = 5,   // a test failed
};

struct CliArgs {
    QString command;
    QStringList positional;       // after the command
    QMap<QString, QString> opts;  // option name without "--" -> value ("" for flags)

    bool has(const char* name) const { return opts.contains(QLatin1String(name)); }
    QString value(const char* name) const { return opts.value(QLatin1String(name)); }
};

// False with a message naming the offending argument in *error. --help,
// --version and the completion queries pass without a command.
bool Cli_ParseArgs(const QStringList& args, CliArgs* out, QString* error);

// A register number or value: one or two hex digits, with or without "0x".
bool Cli_ParseHexByte(const QString& text, int* value);
// A non-negative decimal count.
bool Cli_ParseCount(const QString& text, int* value);
// "1,3-5": 1-based channels up to channels, as a bit mask of 0-based ones.
bool Cli_ParseChannels(const QString& text, int channels, uint16_t* mask, QString* error);

// Every command and option.
QString Cli_Usage();
// One command's arguments and options (those it shares with every command
// too); empty for an unknown command.
QString Cli_CommandHelp(const QString& command);
// For the shell's completion: the command names, one a line; the options of
// command (all of them when it is empty or unknown), a value-taking one with
// a trailing "=".
QString Cli_CompletionCommands();
QString Cli_CompletionOptions(const QString& command);
