#include <QCoreApplication>

#include "cli/CliCommand.h"
#include "cli/CliCommands.h"
#include "cli/CliHandoff.h"
#include "cli/CliProduction.h"

const QList<CliOptionSpec>& Cli_GlobalOptions() {
    static const QList<CliOptionSpec> options = {
        {"port", "PATH", "serial device (every command but ports)"},
        {"workdir", "DIR", "where system.ini, config.ini and hint.txt are read (default .)"},
        {"addr", "HEX", "I2C address, overriding config.ini"},
        {"json", nullptr, "one JSON document on stdout"},
        {"any-firmware", nullptr, "accept firmware outside v3.0 to v3.9"},
        {"help", nullptr, "this help; COMMAND --help: that command's"},
        {"version", nullptr, "the program's version"},
    };
    return options;
}

const QList<CliCommand>& Cli_Commands() {
    static const QList<CliCommand> commands = {
        {"ports", "", "list the ports the board may be on", 0, 0, {}, Cli_CmdPorts},
        {"info", "", "firmware, device, family, channels, SBFs, address, chip", 0, 0, {}, Cli_CmdInfo},
        {"read", "REG [COUNT]", "read COUNT registers from REG (hex REG, decimal COUNT)", 1, 2, {}, Cli_CmdRead},
        {"write",
         "REG VALUE...",
         "write consecutive registers from REG, each read back",
         2,
         -1,
         {{"no-verify", nullptr, "no read-back"}},
         Cli_CmdWrite},
        {"dump",
         "[FILE]",
         "all 256 registers as a register file (stdout without FILE)",
         0,
         1,
         {{"hinted", nullptr, "only registers with a cell in hint.txt"}},
         Cli_CmdDump},
        {"load",
         "FILE",
         "write a register file to the chip, then read it back",
         1,
         1,
         {{"no-verify", nullptr, "no read-back"},
          {"strict", nullptr, "refuse a file with a malformed write line; nothing is written"}},
         Cli_CmdLoad},
        {"reset", "", "reset the chip", 0, 0, {}, Cli_CmdReset},
        {"search",
         "",
         "find the chip's I2C address",
         0,
         0,
         {{"save", nullptr, "store the address found in config.ini"}},
         Cli_CmdSearch},
        {"monitor",
         "",
         "stream monitor samples as a log",
         0,
         0,
         {{"seconds", "S", "stop after S seconds (default: at Ctrl+C)"},
          {"channels", "LIST", "1-based channels, for example 1,3-5 (default all)"},
          {"csv", "FILE|-", "where the log goes (default -, standard output)"}},
         Cli_CmdMonitor},
        {"snr",
         "",
         "signal-to-noise test of the keys",
         0,
         0,
         {{"channels", "LIST", "1-based channels, for example 1,3-5"},
          {"sbf", "K", "the SBF to measure, from 1"},
          {"samples", "N", "samples per phase"},
          {"min", "X", "the lowest SNR that passes"},
          {"report", "FILE", "write the report there"}},
         Cli_CmdSnr},
        {"autosen",
         "CHANNEL",
         "the guided sensitivity run of one key: hold it, get a proposal",
         1,
         1,
         {{"write", nullptr, "write the proposal to the key's sensitivity register"}},
         Cli_CmdAutosen},
        {"export",
         "FILE.h",
         "the register set as a C header (from the chip, or --from FILE.sf)",
         1,
         1,
         {{"from", "FILE.sf", "a register file instead of the chip (no board needed)"},
          {"prefix", "NAME", "the macros' prefix, a C identifier (default: the device)"},
          {"all", nullptr, "all 256 registers, not only those with a cell in hint.txt"},
          {"format", "c|json", "a C header (default) or the same content as JSON"}},
         Cli_CmdExport},
        {"diff",
         "A.sf [B.sf]",
         "registers that differ between two files, or a file and the chip",
         1,
         2,
         {},
         Cli_CmdDiff},
        {"report",
         "-o FILE.html",
         "the tuning report as one HTML file",
         0,
         0,
         {{"output", "FILE.html", "where the report goes"},
          {"log", "LOG", "a log: each key's diff over time and its noise"},
          {"snr", "REPORT", "an SNR test report: the results per key"},
          {"regs", "FILE.sf", "the register set"},
          {"note", "TEXT", "a note for the header"}},
         Cli_CmdReport},
        // The production commands read their own command line (test takes
        // --port and --serial once per board); these entries give them their
        // place in the help and the completion.
        {"test",
         "--limits FILE --serial SN",
         "production test of a board, or of several at once (repeated --port, --serial)",
         0,
         0,
         {{"limits", "FILE", "the limits file"},
          {"serial", "SN", "the board's serial number (once per --port)"},
          {"station", "ID", "the test station"},
          {"operator", "NAME", "who tests"},
          {"touch", nullptr, "also the touch phase: touch each key when asked"},
          {"db", "URL", "sqlite:PATH or postgresql://USER@HOST/DB (default sqlite:results.db)"},
          {"record", "FILE", "the record as JSON"},
          {"junit", "FILE", "the results as JUnit XML"}},
         Cli_CmdProduction},
        {"results",
         "",
         "runs, yield and Cpk of the stored production records",
         0,
         0,
         {{"db", "URL", "where the records are (default sqlite:results.db)"},
          {"since", "DATE", "only runs from that day on"},
          {"station", "ID", "only that station's runs"}},
         Cli_CmdProduction},
    };
    return commands;
}

const CliCommand* Cli_FindCommand(const QString& name) {
    for (const CliCommand& c : Cli_Commands())
        if (name == QLatin1String(c.name)) return &c;
    return nullptr;
}

int Cli_CmdProduction(const CliArgs&, CliOutput*, CliSession&) {
    return Cli_RunProduction(QCoreApplication::arguments());
}
