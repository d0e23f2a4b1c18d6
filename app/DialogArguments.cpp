#include "app/DialogArguments.h"

#include "velmora/Version.h"

namespace velmora {

std::string DialogUsage() {
    return "Usage: velmora.exe [--help] [--version] [FILE]\n\n"
           "Upgrades a DVB-S receiver over a serial line. FILE, when given, is taken as if it "
           "had been chosen with Select File.\n\n"
           "FILE\tImage (.bin) or channel list (.sdx) to send.\n"
           "--help\tShows this help.\n"
           "--version\tShows the version.\n\n"
           "velmora.exe --station [FILE] [OPTIONS] opens the station window, which upgrades "
           "many receivers at once; velmora.exe --station --help shows its options.";
}

DialogArguments ParseDialogArguments(const std::vector<std::string>& arguments) {
    DialogArguments parsed;
    std::vector<std::string> files;
    bool options = true;
    for (const std::string& argument : arguments) {
        if (options && argument == "--") {
            options = false;
        } else if (options && argument == "--help") {
            return {DialogArguments::Action::Help, {}, DialogUsage()};
        } else if (options && argument == "--version") {
            return {DialogArguments::Action::Version, {}, std::string("velmora ") + kVersion};
        } else if (options && argument.rfind("--", 0) == 0) {
            return {DialogArguments::Action::Refused,
                    {},
                    "Unknown option " + argument + ".\n\n" + DialogUsage()};
        } else {
            files.push_back(argument);
        }
    }
    if (files.size() > 1) {
        return {DialogArguments::Action::Refused,
                {},
                "Give at most one file to send; " + std::to_string(files.size()) +
                    " were given.\n\n" + DialogUsage()};
    }
    if (!files.empty()) {
        parsed.file = files.front();
    }
    return parsed;
}

}  // namespace velmora
