// velmora-cli: the upgrade tool's command line, over the same engine as the dialog.
#include <CLI/CLI.hpp>
#include <cstdio>
#include <exception>
#include <string>
#include <vector>

#include "cli/Arguments.h"
#include "cli/CommandOptions.h"
#include "cli/CommandTable.h"
#include "cli/Commands.h"
#include "cli/ExitCodes.h"
#include "cli/Terminal.h"
#include "velmora/Version.h"

namespace {

// The example shown after a usage error of `command`; the main command's
// when there is none.
const char* ExampleOf(const std::string& command) {
    const velmora::cli::CommandRow* row = velmora::cli::FindCommand(command);
    return (row != nullptr ? *row : velmora::cli::CommandTable().front()).example;
}

// An unknown command gets a "did you mean"; true when one was reported.
bool ReportUnknownCommand(int argc, char** argv) {
    if (argc < 2 || argv[1][0] == '-') {
        return false;
    }
    if (velmora::cli::FindCommand(argv[1]) != nullptr) {
        return false;
    }
    std::vector<std::string> names;
    for (const velmora::cli::CommandRow& c : velmora::cli::CommandTable()) {
        names.emplace_back(c.name);
    }
    const std::string near = velmora::cli::ClosestMatch(argv[1], names);
    std::fprintf(stderr,
                 "velmora-cli: unknown command \"%s\".%s The commands are %s; for example:\n"
                 "  %s\n",
                 argv[1], near.empty() ? "" : (" Did you mean " + near + "?").c_str(),
                 velmora::cli::CommandNames().c_str(), ExampleOf(""));
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

// The exit status of a usage error found by CLI11 or by a command.
int Parse(CLI::App& app, int argc, char** argv) {
    try {
        app.parse(argc, argv);
    } catch (const velmora::cli::UsageProblem& e) {
        return UsageError(e.Command(), e.what());
    } catch (const CLI::ParseError& e) {
        if (e.get_exit_code() == 0) {
            return app.exit(e);  // --help
        }
        const std::string command = argc >= 2 && argv[1][0] != '-' ? argv[1] : "";
        return UsageError(command, std::string("velmora-cli: ") + e.what());
    }
    return -1;
}

}  // namespace

int main(int argc, char** argv) {
    velmora::cli::PrepareConsoleForUtf8();
    CLI::App app{"Velmora: upgrades a satellite receiver over a serial line."};
    app.footer(velmora::cli::ExitStatusHelp());
    app.set_version_flag("--version", std::string("velmora-cli ") + velmora::kVersion);
    app.require_subcommand(1);
    // Paths such as /tmp/image.bin are files, not Windows-style options.
    app.allow_windows_style_options(false);
    int status = velmora::cli::kExitUsage;
    velmora::cli::SetupSendCommand(app, status);
    velmora::cli::SetupConvertCommand(app, status);
    velmora::cli::SetupInspectCommand(app, status);
    velmora::cli::SetupPortsCommand(app, status);
    velmora::cli::SetupStationCommand(app, status);
    velmora::cli::SetupLogCommand(app, status);
    if (ReportUnknownCommand(argc, argv)) {
        return velmora::cli::kExitUsage;
    }
    try {
        if (const int usage = Parse(app, argc, argv); usage >= 0) {
            return usage;
        }
    } catch (const std::exception& e) {
        std::fprintf(stderr, "velmora-cli: %s\n", e.what());
        return velmora::cli::kExitJobFailed;
    }
    return status;
}
