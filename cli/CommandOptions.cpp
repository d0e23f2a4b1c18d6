#include "cli/CommandOptions.h"

#include <cstdint>
#include <utility>

#include "cli/Arguments.h"
#include "cli/CommandTable.h"
#include "cli/Commands.h"

namespace velmora::cli {

CLI::App* AddCommand(CLI::App& app, const std::string& name) {
    const CommandRow* row = FindCommand(name);
    if (row == nullptr) {
        throw std::logic_error("velmora-cli: the command " + name + " is not in the command table");
    }
    CLI::App* command = app.add_subcommand(row->name, row->description);
    command->allow_extras();
    return command;
}

void OnRun(CLI::App& command, int& status, std::function<int()> run) {
    command.callback([&command, &status, run = std::move(run)] {
        if (!command.remaining().empty()) {
            throw UsageProblem(command.get_name(), ExtrasProblem(command, command.remaining()));
        }
        status = run();
    });
}

void AddLineOptions(CLI::App& command, JobOptions& o) {
    command
        .add_option("-p,--port", o.port,
                    "COM name, device path (/dev/ttyUSB0, a /dev/serial/by-id path), or auto: "
                    "the only USB serial adapter")
        ->capture_default_str()
        ->check(PortName());
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
        ->check(Seconds());
}

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

void AddListOptions(CLI::App& command, ListChoice& choice) {
    command
        .add_option("--satellite", choice.positions,
                    "Of an Enigma2 or VDR list, only the services at this orbital position "
                    "(19.2E, 13E, 30W); repeat it for more")
        ->type_name("POS")
        ->allow_extra_args(false)
        ->transform(OrbitalPosition());
    command
        .add_option("--bouquet", choice.bouquets,
                    "Of an Enigma2 list, only the services this bouquet file names "
                    "(userbouquet.*.tv), in its order; repeat it for more")
        ->type_name("TEXT:FILE")
        ->allow_extra_args(false);
    command.add_flag("--free-only", choice.freeOnly,
                     "Of an Enigma2 or VDR list, only the services without conditional access");
    command
        .add_option("--satellites-xml", choice.satellitesXml,
                    "The Enigma2 satellites.xml that names the satellites' positions (default: "
                    "satellites.xml beside the list)")
        ->type_name("TEXT:FILE");
}

ListChoice ListChoiceOf(const JobOptions& options) {
    ListChoice choice = options.list;
    choice.anyVersion = options.force;
    return choice;
}

void AddJobOutputOptions(CLI::App& command, JobOptions& o) {
    CLI::Option* quiet = command.add_flag("-q,--quiet", o.quiet, "Show no progress");
    command
        .add_option("--progress", o.progress,
                    "How progress shows: auto (bars on a terminal, lines else), bars, lines, "
                    "or json (one JSON object per line on stdout)")
        ->capture_default_str()
        ->transform(OneOf({"auto", "bars", "lines", "json"}, "a progress style", "--progress json"))
        ->excludes(quiet);
    command.add_flag("--force", o.force,
                     "Go on with a file that looks wrong for the job (a channel list sent as "
                     "an image, a .sdx that is not SATCODX, an Enigma2 list of an unknown "
                     "version, a database image or an empty file as Code)");
}

}  // namespace velmora::cli
