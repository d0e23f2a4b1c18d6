// Why a serial port could not be opened, in a form that a front end can show:
// a kind to choose its wording or icon by, the plain reason, and what to do.
#pragma once

#include <string>

namespace velmora {

enum class PortFailureKind {
    None,        // the last open succeeded (or none was tried)
    Permission,  // the system refused access: group membership, rights
    Busy,        // another program (or this one) holds the port
    Missing,     // no such device: adapter unplugged, wrong name
    NotSerial,   // the name exists but is not a serial port
    Other,       // the driver refused the settings, or another system error
};

struct PortOpenFailure {
    PortFailureKind kind = PortFailureKind::None;
    // For example "/dev/ttyUSB0 is in use by screen (pid 4242)."
    std::string reason;
    // For example "Close it and try again."; may be empty.
    std::string remedy;
    // Busy: the program that holds the port and its process id, where the
    // system shows them (empty and 0 otherwise).
    std::string holderProgram;
    int holderPid = 0;

    // Reason and remedy as one text.
    std::string Text() const { return remedy.empty() ? reason : reason + " " + remedy; }
};

}  // namespace velmora
