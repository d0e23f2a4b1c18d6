// velmora-cli: the upgrade tool's command line, over the same engine as the dialog.
#include <CLI/CLI.hpp>
#include <cstdio>
#include <exception>

#include "cli/Commands.h"
#include "cli/ExitCodes.h"

using velmora::cli::JobOptions;

namespace {

const char* const kExitStatusHelp =
    "Exit status:\n"
    "  0  done (\"Data send finish !\" for send, the image written for convert)\n"
    "  2  bad arguments\n"
    "  3  file missing\n"
    "  4  serial port not opened (missing, in use by another program, no permission)\n"
    "  5  job refused (database limits, a channel list with --type Code, type Custom)\n"
    "  6  job failed (device lost, file shrank, cancelled, timed out, file or conversion error)";

void AddLineOptions(CLI::App& command, JobOptions& o) {
    command
        .add_option("--port", o.port,
                    "COM name, device path (/dev/ttyUSB0, a /dev/serial/by-id path), or auto: "
                    "the only USB serial adapter")
        ->capture_default_str();
    command.add_option("--baud", o.values.strBaudRate, "Baud rate")
        ->capture_default_str()
        ->check(CLI::IsMember({"110", "300", "600", "1200", "2400", "4800", "9600", "14400",
                               "19200", "38400", "56000", "57600", "115200", "128000", "256000"}));
    command.add_option("--data-bits", o.values.strDataBits, "Data bits")
        ->capture_default_str()
        ->check(CLI::IsMember({"5", "6", "7", "8"}));
    command.add_option("--parity", o.values.strParity, "NONE, ODD or EVEN")
        ->capture_default_str()
        ->transform(CLI::IsMember({"NONE", "ODD", "EVEN"}, CLI::ignore_case));
    command.add_option("--stop-bits", o.values.strStopBits, "1, 1.5 or 2")
        ->capture_default_str()
        ->check(CLI::IsMember({"1", "1.5", "2"}));
    command
        .add_option("--type", o.values.strUpgradeType,
                    "Upgrade type: Code, Database, \"Db Import/Export\" or Custom")
        ->capture_default_str()
        ->check(CLI::IsMember({"Code", "Database", "Db Import/Export", "Custom"}));
    command
        .add_option("--timeout", o.timeoutSeconds,
                    "Give up when the receiver stays silent this many seconds (0: wait for ever)")
        ->capture_default_str()
        ->check(CLI::NonNegativeNumber);
}

}  // namespace

namespace velmora::cli {

void AddDatabaseOptions(CLI::App& command, DialogValues& v) {
    command.add_option("--offset", v.strOffset, "Flash offset of a database image, hex")
        ->capture_default_str();
    command.add_option("--model", v.strModelNo, "Receiver model")->capture_default_str();
    command.add_option("--project", v.strProjectName, "Project name: DVB-S or DVB-S+T")
        ->capture_default_str();
    command.add_option("--max-sat", v.nMaxSat, "Satellites in the database")->capture_default_str();
    command.add_option("--max-tp", v.nMaxTp, "Transponders in the database")->capture_default_str();
    command.add_option("--max-tv", v.nMaxTv, "TV channels in the database")->capture_default_str();
    command.add_option("--max-radio", v.nMaxRadio, "Radio channels in the database")
        ->capture_default_str();
    command.add_option("--db-size", v.lDbSize, "Size of the database image, bytes")
        ->capture_default_str();
    command.add_option("--lnb-c-high", v.nLnbCHigh, "C-band LNB high oscillator, MHz")
        ->capture_default_str();
    command.add_option("--lnb-c-low", v.nLnbCLow, "C-band LNB low oscillator, MHz")
        ->capture_default_str();
    command.add_option("--lnb-ku-high", v.nLnbKuHigh, "Ku-band LNB high oscillator, MHz")
        ->capture_default_str();
    command.add_option("--lnb-ku-low", v.nLnbKuLow, "Ku-band LNB low oscillator, MHz")
        ->capture_default_str();
}

}  // namespace velmora::cli

int main(int argc, char** argv) {
    CLI::App app{"Velmora: upgrades a satellite receiver over a serial line."};
    app.footer(kExitStatusHelp);
    app.require_subcommand(1);
    // Paths such as /tmp/image.bin are files, not Windows-style options.
    app.allow_windows_style_options(false);

    JobOptions send;
    CLI::App* sendCommand =
        app.add_subcommand("send", "Send a file (or a converted channel list) to the receiver");
    sendCommand->add_option("FILE", send.file, "Program or database image, or a .sdx channel list")
        ->required();
    AddLineOptions(*sendCommand, send);
    velmora::cli::AddDatabaseOptions(*sendCommand, send.values);
    sendCommand->add_option("--work-dir", send.workDir,
                            "Folder for the conversion's working files (default: current folder)");
    sendCommand->add_flag("-q,--quiet", send.quiet, "Show no progress");

    JobOptions convert;
    CLI::App* convertCommand = app.add_subcommand(
        "convert", "Convert a SATCODX channel list into the receiver's database image");
    convertCommand->add_option("LIST", convert.file, "The .sdx channel list")->required();
    velmora::cli::AddDatabaseOptions(*convertCommand, convert.values);
    convertCommand->add_option("--work-dir", convert.workDir,
                               "Folder for db1.bin, tmp.bin and db.bin (default: current folder)");
    convertCommand->add_flag("-q,--quiet", convert.quiet, "Show no progress");

    velmora::cli::InspectOptions inspect;
    CLI::App* inspectCommand = app.add_subcommand(
        "inspect", "Show a database image as tables: satellites, transponders, channels");
    inspectCommand->add_option("IMAGE", inspect.image, "db1.bin, db.bin or another image")
        ->required();
    velmora::cli::AddDatabaseOptions(*inspectCommand, inspect.values);
    inspectCommand->add_flag("--json", inspect.json, "Print JSON instead of tables");

    velmora::cli::PortsOptions ports;
    CLI::App* portsCommand = velmora::cli::AddPortsCommand(app, ports);

    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& e) {
        const int rc = app.exit(e);
        return rc == 0 ? velmora::cli::kExitOk : velmora::cli::kExitUsage;
    }

    try {
        if (sendCommand->parsed()) {
            return velmora::cli::RunSend(send);
        }
        if (convertCommand->parsed()) {
            return velmora::cli::RunConvert(convert);
        }
        if (inspectCommand->parsed()) {
            return velmora::cli::RunInspect(inspect);
        }
        if (portsCommand->parsed()) {
            return velmora::cli::RunPorts(ports);
        }
    } catch (const std::exception& e) {
        std::fprintf(stderr, "velmora-cli: %s\n", e.what());
        return velmora::cli::kExitJobFailed;
    }
    return velmora::cli::kExitUsage;
}
