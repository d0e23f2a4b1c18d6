#include "app/StationArguments.h"

#include <CLI/CLI.hpp>
#include <algorithm>

#include "base/TextFormat.h"
#include "cli/CommandOptions.h"
#include "cli/JobSetup.h"
#include "cli/PortChoice.h"
#include "cli/StationCommand.h"

namespace velmora {

namespace {

constexpr const char* kStationFlag = "--station";

// The ports as the station opens them; false with `error` for a name that
// is no port here.
bool ResolvePorts(const std::vector<std::string>& texts, ui::StationChoices& choices,
                  std::string& error) {
    if (cli::ServesEveryAdapter(texts)) {
        choices.everyAdapter = true;
        return true;
    }
    for (const std::string& text : texts) {
        if (AsciiLower(text) == "all") {
            error =
                "--port all serves every USB serial adapter; give it alone, without other ports.";
            return false;
        }
        const cli::PortChoice port = cli::ChoosePort(text);
        if (!port.error.empty()) {
            error = port.error;
            return false;
        }
        choices.ports.push_back(port.device.empty() ? port.portText : port.device);
    }
    return true;
}

ui::StationChoices ChoicesOf(const cli::StationOptions& options) {
    ui::StationChoices choices;
    choices.file = options.job.file;
    choices.values = options.job.values;
    choices.once = options.once;
    choices.log = options.job.log;
    choices.force = options.job.force;
    choices.workDir = options.job.workDir;
    choices.listChoice = cli::ListChoiceOf(options.job);
    // The window's field takes a connection string or the path of its file.
    choices.record = options.job.recordFile.empty() ? options.job.record : options.job.recordFile;
    choices.bench = options.job.bench;
    if (options.job.timeoutSeconds > 0) {
        choices.waitLimit = cli::WaitLimit(options.job.timeoutSeconds);
    }
    return choices;
}

}  // namespace

bool IsStationCommandLine(const std::vector<std::string>& arguments) {
    const auto end = std::find(arguments.begin(), arguments.end(), "--");
    return std::find(arguments.begin(), end, kStationFlag) != end;
}

StationArguments ParseStationArguments(const std::vector<std::string>& arguments) {
    CLI::App app{
        "Opens the station window: one file to many receivers, one per port. FILE "
        "and the options are those of velmora-cli station (--quiet and --progress "
        "change nothing in the window); --start starts at once.",
        "velmora --station"};
    app.allow_windows_style_options(false);
    cli::StationOptions options;
    cli::AddStationOptions(app, options);
    bool start = false;
    app.add_flag("--start", start, "Start the station as soon as the window is shown");
    std::vector<std::string> rest;
    bool station = false;
    for (const std::string& argument : arguments) {
        if (!station && argument == kStationFlag) {
            station = true;  // the first is the window's; a second is an error
        } else {
            rest.push_back(argument);
        }
    }
    std::reverse(rest.begin(), rest.end());  // CLI11 takes them last first
    StationArguments parsed;
    try {
        app.parse(rest);
    } catch (const CLI::CallForHelp&) {
        return {StationArguments::Action::Help, {}, false, app.help()};
    } catch (const CLI::ParseError& e) {
        return {StationArguments::Action::Refused,
                {},
                false,
                std::string("velmora --station: ") + e.what() +
                    "\n\nRun \"velmora --station --help\" for all options."};
    }
    parsed.choices = ChoicesOf(options);
    parsed.start = start;
    if (std::string error; !ResolvePorts(options.ports, parsed.choices, error)) {
        return {StationArguments::Action::Refused, {}, false, "velmora --station: " + error};
    }
    return parsed;
}

}  // namespace velmora
