#include "cli/CommandTable.h"

#include <array>
#include <cstdio>

#include "cli/ExitCodes.h"

namespace velmora::cli {

namespace {

constexpr std::array kCommands = {
    CommandRow{"send", "Send a file (or a converted channel list) to the receiver",
               "velmora-cli send fw.bin --port /dev/ttyUSB0"},
    CommandRow{"convert",
               "Convert a channel list (SATCODX, Enigma2 lamedb, VDR channels.conf) into the "
               "receiver's database image",
               "velmora-cli convert lamedb --satellite 19.2E --work-dir out"},
    CommandRow{"inspect", "Show a database image as tables: satellites, transponders, channels",
               "velmora-cli inspect db1.bin"},
    CommandRow{"ports",
               "List the serial ports present (USB adapters with their ids and by-id paths)",
               "velmora-cli ports --json"},
    CommandRow{"station",
               "Send one file to many receivers at once, one per port, receiver after receiver",
               "velmora-cli station fw.bin --port /dev/ttyUSB0 --port /dev/ttyUSB1"},
    CommandRow{"log",
               "Show the jobs of the job log or of the shop record, with finished and failed "
               "per hour, day and bench",
               "velmora-cli log --since today"},
};

constexpr std::array kExitStatuses = {
    ExitRow{kExitOk, "done (\"Data send finish !\" for send, the image written for convert)"},
    ExitRow{kExitUsage, "bad arguments"},
    ExitRow{kExitFileMissing,
            "file missing, a folder, a pipe or a device; a job log or connection file that "
            "cannot be read, or a connection file that others may read"},
    ExitRow{kExitPortFailed,
            "serial port not opened (missing, in use by another program, no permission)"},
    ExitRow{kExitRefused,
            "job refused (database limits, a channel list, a database image or an empty file "
            "with --type Code, type Custom, a file that is wrong for the job or too large, a "
            "channel list with nothing to convert, an image that cannot be made)"},
    ExitRow{kExitJobFailed,
            "job failed (device lost, file shrank or changed, receiver restarted, timed out, "
            "file or conversion error); the shop record could not be read (log)"},
    ExitRow{kExitHangUp, "stopped by a hang-up (the terminal or ssh session closed)"},
    ExitRow{kExitInterrupted, "stopped with Ctrl-C or SIGTERM"},
    ExitRow{kExitQuit, "stopped with SIGQUIT"},
};

// Lines of the help end by column 82; longer meanings go on under their start.
constexpr std::size_t kHelpWidth = 82;
constexpr std::size_t kMeaningColumn = 7;

std::string HelpEntry(const ExitRow& row) {
    char code[16];
    std::snprintf(code, sizeof code, "  %-4d ", row.code);
    std::string out = code;
    std::size_t lineStart = 0;
    const std::string meaning = row.meaning;
    for (std::size_t at = 0; at < meaning.size();) {
        const std::size_t end = std::min(meaning.find(' ', at), meaning.size());
        const std::string word = meaning.substr(at, end - at);
        const bool first = out.size() == lineStart + kMeaningColumn;
        if (!first && out.size() - lineStart + 1 + word.size() > kHelpWidth) {
            out += "\n";
            lineStart = out.size();
            out += std::string(kMeaningColumn, ' ');
        } else if (!first) {
            out += ' ';
        }
        out += word;
        at = end + 1;
    }
    return out;
}

}  // namespace

std::span<const CommandRow> CommandTable() {
    return kCommands;
}

std::span<const ExitRow> ExitTable() {
    return kExitStatuses;
}

const CommandRow* FindCommand(const std::string& name) {
    for (const CommandRow& row : kCommands) {
        if (name == row.name) {
            return &row;
        }
    }
    return nullptr;
}

std::string CommandNames() {
    std::string names;
    for (std::size_t i = 0; i < kCommands.size(); ++i) {
        names += i == 0 ? "" : (i + 1 == kCommands.size() ? " and " : ", ");
        names += kCommands[i].name;
    }
    return names;
}

std::string ExitStatusHelp() {
    std::string help = "Exit status:";
    for (const ExitRow& row : kExitStatuses) {
        help += "\n" + HelpEntry(row);
    }
    return help;
}

}  // namespace velmora::cli
