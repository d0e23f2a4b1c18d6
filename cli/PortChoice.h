// What --port names: a COM name, a device path (a by-id path too), or "auto"
// for the only USB serial adapter present; and what to say after a port
// could not be opened.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "serial/PortList.h"

namespace velmora {
class CUpgradeController;
}

namespace velmora::cli {

class Console;

struct PortChoice {
    // The dialog's port text: "COM1" to "COM8" go through its last-character rule.
    std::string portText = "COM1";
    // A device opened exactly as named instead; empty for the port text.
    std::string device;
    // Why no port could be chosen; empty when one was.
    std::string error;
    // Where the job waits, for the command line's messages: "COM1 (/dev/ttyS0)".
    std::string Where() const;
};

PortChoice ChoosePort(
    const std::string& text, const std::function<std::vector<SerialPortInfo>()>& listPorts = [] {
        return ListSerialPorts();
    });

// After a failed open: why (unless the controller's message said it already)
// and the ports that are present, as a technician needs them to choose again.
void ReportPortFailure(Console& console, const CUpgradeController& controller,
                       const PortChoice& choice);

}  // namespace velmora::cli
