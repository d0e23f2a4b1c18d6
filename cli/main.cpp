// velmora-cli: the upgrade tool's command line, over the same engine as the dialog.
#include <CLI/CLI.hpp>
#include <cstdio>
#include <cstring>
#include <exception>
#include <string>

#include "cli/Arguments.h"
#include "cli/Commands.h"
#include "cli/ExitCodes.h"
#include "cli/StationCommand.h"
#include "velmora/Version.h"

using velmora::cli::JobOptions;

namespace {

const char* const kExitStatusHelp =
    "Exit status:\n"
    "  0    done (\"Data send finish !\" for send, the image written for convert)\n"
    "  2    bad arguments\n"
    "  3    file missing, or a folder\n"
    "  4    serial port not opened (missing, in use by another program, no permission)\n"
    "  5    job refused (database limits, a channel list, a database image or an empty\n"
    "       file with --type Code, type Custom, a file that is wrong for the job or too\n"
    "       large, an image that cannot be made)\n"
    "  6    job failed (device lost, file shrank or changed, receiver restarted, timed\n"
    "       out, file or conversion error)\n"
    "  129  stopped by a hang-up (the terminal or ssh session closed)\n"
    "  130  stopped with Ctrl-C or SIGTERM\n"
    "  131  stopped with SIGQUIT";

struct CommandInfo {
    const char* name;
    const char* example;
};
const CommandInfo kCommands[] = {
    {"send", "velmora-cli send fw.bin --port /dev/ttyUSB0"},
    {"convert", "velmora-cli convert channels.sdx --work-dir out"},
    {"inspect", "velmora-cli inspect db1.bin"},
    {"ports", "velmora-cli ports --json"},
    {"station", "velmora-cli station fw.bin --port /dev/ttyUSB0 --port /dev/ttyUSB1"},
};

const char* ExampleOf(const std::string& command) {
    for (const CommandInfo& c : kCommands) {
        if (command == c.name) {
            return c.example;
        }
    }
    return kCommands[0].example;
}

void AddLineOptions(CLI::App& command, JobOptions& o) {
    using velmora::cli::OneOf;
    command
        .add_option("-p,--port", o.port,
                    "COM name, device path (/dev/ttyUSB0, a /dev/serial/by-id path), or auto: "
                    "the only USB serial adapter")
        ->capture_default_str()
        ->check(velmora::cli::PortName());
    command.add_option("-b,--baud", o.values.strBaudRate, "Baud rate")
        ->capture_default_str()
        ->transform(OneOf({"110", "300", "600", "1200", "2400", "4800", "9600", "14400", "19200",
                           "38400", "56000", "57600", "115200", "128000", "256000"},
                          "a baud rate the receiver's line offers", "--baud 115200"));
    command.add_option("--data-bits", o.values.strDataBits, "Data bits")
        ->capture_default_str()
        ->transform(OneOf({"5", "6", "7", "8"}, "a number of data bits", "--data-bits 8"));
    command.add_option("--parity", o.values.strParity, "NONE, ODD or EVEN")
        ->capture_default_str()
        ->transform(OneOf({"NONE", "ODD", "EVEN"}, "a parity", "--parity NONE", true));
    command.add_option("--stop-bits", o.values.strStopBits, "1, 1.5 or 2")
        ->capture_default_str()
        ->transform(OneOf({"1", "1.5", "2"}, "a number of stop bits", "--stop-bits 1"));
    command
        .add_option("-t,--type", o.values.strUpgradeType,
                    "Upgrade type: Code, Database, \"Db Import/Export\" or Custom (any case)")
        ->capture_default_str()
        ->transform(OneOf({"Code", "Database", "Db Import/Export", "Custom"}, "an upgrade type",
                          "--type Database", true));
    command
        .add_option("--timeout", o.timeoutSeconds,
                    "Give up when the receiver stays silent this many seconds (0: wait for ever)")
        ->capture_default_str()
        ->check(velmora::cli::Seconds());
}

void AddJobOutputOptions(CLI::App& command, JobOptions& o) {
    CLI::Option* quiet = command.add_flag("-q,--quiet", o.quiet, "Show no progress");
    command
        .add_option("--progress", o.progress,
                    "How progress shows: auto (bars on a terminal, lines else), bars, lines, "
                    "or json (one JSON object per line on stdout)")
        ->capture_default_str()
        ->transform(velmora::cli::OneOf({"auto", "bars", "lines", "json"}, "a progress style",
                                        "--progress json"))
        ->excludes(quiet);
    command.add_flag("--force", o.force,
                     "Go on with a file that looks wrong for the job (a channel list sent as "
                     "an image, a .sdx that is not SATCODX, a database image or an empty file "
                     "as Code)");
}

// An unknown command gets a "did you mean"; true when one was reported.
bool ReportUnknownCommand(int argc, char** argv) {
    if (argc < 2 || argv[1][0] == '-') {
        return false;
    }
    std::vector<std::string> names;
    for (const CommandInfo& c : kCommands) {
        if (std::strcmp(argv[1], c.name) == 0) {
            return false;
        }
        names.emplace_back(c.name);
    }
    const std::string near = velmora::cli::ClosestMatch(argv[1], names);
    std::fprintf(stderr,
                 "velmora-cli: unknown command \"%s\".%s The commands are send, convert, "
                 "inspect and ports; for example:\n  %s\n",
                 argv[1], near.empty() ? "" : (" Did you mean " + near + "?").c_str(),
                 kCommands[0].example);
    return true;
}

int UsageError(const std::string& command, const std::string& text) {
    std::fprintf(stderr, "%s\n", text.c_str());
    // Option checks show an example of their own.
    if (text.find("for example") == std::string::npos) {
        std::fprintf(stderr, "For example:\n  %s\n", ExampleOf(command));
    }
    std::fprintf(stderr, "Run \"velmora-cli %s--help\" for all options.\n",
                 command.empty() ? "" : (command + " ").c_str());
    return velmora::cli::kExitUsage;
}

}  // namespace

namespace velmora::cli {

void AddDatabaseOptions(CLI::App& command, DialogValues& v) {
    command.add_option("-o,--offset", v.strOffset, "Flash offset of a database image, hex")
        ->capture_default_str()
        ->check(HexOffset());
    command.add_option("--model", v.strModelNo, "Receiver model")->capture_default_str();
    command.add_option("--project", v.strProjectName, "Project name: DVB-S or DVB-S+T")
        ->capture_default_str();
    const struct {
        const char* name;
        std::int32_t& value;
        const char* help;
        const char* example;
    } numbers[] = {
        {"--max-sat", v.nMaxSat, "Satellites in the database", "--max-sat 32"},
        {"--max-tp", v.nMaxTp, "Transponders in the database", "--max-tp 512"},
        {"--max-tv", v.nMaxTv, "TV channels in the database", "--max-tv 500"},
        {"--max-radio", v.nMaxRadio, "Radio channels in the database", "--max-radio 1"},
        {"--db-size", v.lDbSize, "Size of the database image, bytes", "--db-size 65535"},
        {"--lnb-c-high", v.nLnbCHigh, "C-band LNB high oscillator, MHz", "--lnb-c-high 5150"},
        {"--lnb-c-low", v.nLnbCLow, "C-band LNB low oscillator, MHz", "--lnb-c-low 5150"},
        {"--lnb-ku-high", v.nLnbKuHigh, "Ku-band LNB high oscillator, MHz", "--lnb-ku-high 10600"},
        {"--lnb-ku-low", v.nLnbKuLow, "Ku-band LNB low oscillator, MHz", "--lnb-ku-low 9750"},
    };
    for (const auto& n : numbers) {
        command.add_option(n.name, n.value, n.help)
            ->capture_default_str()
            ->check(WholeNumber(n.example));
    }
}

}  // namespace velmora::cli

namespace {

// The three commands and what their options fill in.
struct Commands {
    JobOptions send;
    JobOptions convert;
    velmora::cli::InspectOptions inspect;
    velmora::cli::PortsOptions ports;
    velmora::cli::StationOptions station;
    CLI::App* stationCommand = nullptr;
    CLI::App* sendCommand = nullptr;
    CLI::App* convertCommand = nullptr;
    CLI::App* inspectCommand = nullptr;
    CLI::App* portsCommand = nullptr;
};

void AddCommands(CLI::App& app, Commands& c) {
    c.sendCommand =
        app.add_subcommand("send", "Send a file (or a converted channel list) to the receiver");
    c.sendCommand
        ->add_option("FILE", c.send.file, "Program or database image, or a .sdx channel list")
        ->required();
    AddLineOptions(*c.sendCommand, c.send);
    velmora::cli::AddDatabaseOptions(*c.sendCommand, c.send.values);
    c.sendCommand->add_option("--work-dir", c.send.workDir,
                              "Folder for the conversion's working files (default: current "
                              "folder)");
    AddJobOutputOptions(*c.sendCommand, c.send);
    c.sendCommand->add_option("--log", c.send.log, "Append a JSON line on the job to this file")
        ->type_name("TEXT:FILE");

    c.convertCommand = app.add_subcommand(
        "convert", "Convert a SATCODX channel list into the receiver's database image");
    c.convertCommand->add_option("LIST", c.convert.file, "The .sdx channel list")->required();
    velmora::cli::AddDatabaseOptions(*c.convertCommand, c.convert.values);
    c.convertCommand->add_option(
        "--work-dir", c.convert.workDir,
        "Folder for db1.bin, tmp.bin and db.bin (default: current folder)");
    AddJobOutputOptions(*c.convertCommand, c.convert);
    c.convertCommand->add_flag("--json", c.convert.json,
                               "Print the conversion report as one JSON object on stdout");

    c.inspectCommand = app.add_subcommand(
        "inspect", "Show a database image as tables: satellites, transponders, channels");
    c.inspectCommand->add_option("IMAGE", c.inspect.image, "db1.bin, db.bin or another image")
        ->required();
    velmora::cli::AddDatabaseOptions(*c.inspectCommand, c.inspect.values);
    c.inspectCommand->add_flag("--json", c.inspect.json, "Print JSON instead of tables");
    c.portsCommand = velmora::cli::AddPortsCommand(app, c.ports);
    c.stationCommand = velmora::cli::AddStationCommand(app, c.station, [](CLI::App& s, JobOptions& o) {
        AddLineOptions(s, o);
        AddJobOutputOptions(s, o);
    });

    // Unknown options are collected, so that they get a "did you mean".
    for (CLI::App* command : {c.sendCommand, c.convertCommand, c.inspectCommand, c.portsCommand,
                              c.stationCommand}) {
        command->allow_extras();
    }
}

// The exit status of a usage error, or -1 when the arguments are all known.
int Parse(CLI::App& app, const Commands& c, int argc, char** argv) {
    if (ReportUnknownCommand(argc, argv)) {
        return velmora::cli::kExitUsage;
    }
    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& e) {
        if (e.get_exit_code() == 0) {
            return app.exit(e);  // --help
        }
        const std::string command = argc >= 2 && argv[1][0] != '-' ? argv[1] : "";
        return UsageError(command, std::string("velmora-cli: ") + e.what());
    }
    for (CLI::App* command : {c.sendCommand, c.convertCommand, c.inspectCommand, c.portsCommand,
                              c.stationCommand}) {
        if (command->parsed() && !command->remaining().empty()) {
            return UsageError(command->get_name(),
                              velmora::cli::ExtrasProblem(*command, command->remaining()));
        }
    }
    if (c.sendCommand->parsed() && c.sendCommand->count("--offset") > 0 &&
        c.send.values.strUpgradeType == "Code") {
        return UsageError("send",
                          "velmora-cli send: --offset does not apply to --type Code: a program "
                          "image always goes to 0x10000. Leave --offset out, or give --type "
                          "Database for a database image, for example --type Database --offset "
                          "1b0000");
    }
    return -1;
}

}  // namespace

int main(int argc, char** argv) {
    CLI::App app{"Velmora: upgrades a satellite receiver over a serial line."};
    app.footer(kExitStatusHelp);
    app.set_version_flag("--version", std::string("velmora-cli ") + velmora::kVersion);
    app.require_subcommand(1);
    // Paths such as /tmp/image.bin are files, not Windows-style options.
    app.allow_windows_style_options(false);
    Commands c;
    AddCommands(app, c);
    if (const int usage = Parse(app, c, argc, argv); usage >= 0) {
        return usage;
    }
    try {
        if (c.sendCommand->parsed()) {
            return velmora::cli::RunSend(c.send);
        }
        if (c.convertCommand->parsed()) {
            return velmora::cli::RunConvert(c.convert);
        }
        if (c.inspectCommand->parsed()) {
            return velmora::cli::RunInspect(c.inspect);
        }
        if (c.portsCommand->parsed()) {
            return velmora::cli::RunPorts(c.ports);
        }
        if (c.stationCommand->parsed()) {
            return velmora::cli::RunStation(c.station);
        }
    } catch (const std::exception& e) {
        std::fprintf(stderr, "velmora-cli: %s\n", e.what());
        return velmora::cli::kExitJobFailed;
    }
    return velmora::cli::kExitUsage;
}
