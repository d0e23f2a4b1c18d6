// velmora-cli: the upgrade tool's command line, over the same engine as the dialog.
#include <CLI/CLI.hpp>
#include <cstdio>
#include <cstring>
#include <exception>
#include <string>

#include "cli/Arguments.h"
#include "cli/CommandOptions.h"
#include "cli/Commands.h"
#include "cli/ExitCodes.h"
#include "velmora/Version.h"

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
};

const char* ExampleOf(const std::string& command) {
    for (const CommandInfo& c : kCommands) {
        if (command == c.name) {
            return c.example;
        }
    }
    return kCommands[0].example;
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
    CLI::App app{"Velmora: upgrades a satellite receiver over a serial line."};
    app.footer(kExitStatusHelp);
    app.set_version_flag("--version", std::string("velmora-cli ") + velmora::kVersion);
    app.require_subcommand(1);
    // Paths such as /tmp/image.bin are files, not Windows-style options.
    app.allow_windows_style_options(false);
    int status = velmora::cli::kExitUsage;
    velmora::cli::SetupSendCommand(app, status);
    velmora::cli::SetupConvertCommand(app, status);
    velmora::cli::SetupInspectCommand(app, status);
    velmora::cli::SetupPortsCommand(app, status);
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
