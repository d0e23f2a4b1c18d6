// The command line of the station window, for velmora and velmora.exe alike:
//
//   velmora --station [FILE] [OPTIONS]
//
// takes every option of `velmora-cli station` with the same meaning (their
// definitions are the command line's own) and --start, which starts the
// station as soon as the window is shown, as a bench's desktop shortcut does.
#pragma once

#include <string>
#include <vector>

#include "ui/StationModel.h"

namespace velmora {

struct StationArguments {
    enum class Action {
        Run,      // open the station window with `choices`
        Help,     // show `text` (the usage) and end
        Refused,  // show `text` (what is wrong, then where the usage is) and end with status 2
    };
    Action action = Action::Run;
    ui::StationChoices choices;
    bool start = false;
    std::string text;
};

// True when `arguments` (without the program name, UTF-8) ask for the station
// window: --station before any "--".
bool IsStationCommandLine(const std::vector<std::string>& arguments);

// Parses the arguments of a station command line. The file and the log stay
// as given (relative to the current folder); each --port is resolved as the
// command line resolves it.
StationArguments ParseStationArguments(const std::vector<std::string>& arguments);

}  // namespace velmora
