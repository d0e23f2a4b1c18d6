// The command line of velmora.exe, which has no console to print to:
// `velmora.exe [FILE]`, `--help` and `--version`. What to show comes back as
// text for a message box. (The Linux program parses its own with Qt.)
#pragma once

#include <string>
#include <vector>

namespace velmora {

struct DialogArguments {
    enum class Action {
        Run,      // open the dialog, with `file` when one was given
        Help,     // show `text` (the usage) and end
        Version,  // show `text` (the version) and end
        Refused,  // show `text` (what is wrong, then the usage) and end with status 2
    };
    Action action = Action::Run;
    std::string file;
    std::string text;
};

// `arguments` without the program name, in UTF-8. "--" ends the options, so
// that a file whose name begins with "--" can still be given.
DialogArguments ParseDialogArguments(const std::vector<std::string>& arguments);

// The usage of velmora.exe.
std::string DialogUsage();

}  // namespace velmora
