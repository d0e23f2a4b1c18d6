#include "cli/PortChoice.h"

#include <algorithm>

#include "base/TextFormat.h"
#include "cli/Console.h"
#include "serial/PortDevice.h"
#include "transfer/UpgradeController.h"

namespace velmora::cli {

namespace {

// COM1 to COM8 stand for the dialog's ports on every system.
constexpr int kDialogPorts = 8;

std::string ListOf(const std::vector<SerialPortInfo>& ports) {
    std::string text;
    for (const SerialPortInfo& port : ports) {
        text += "\n  " + port.Label();
    }
    return text;
}

PortChoice ChooseAuto(const std::vector<SerialPortInfo>& present) {
    std::vector<SerialPortInfo> usb;
    std::copy_if(present.begin(), present.end(), std::back_inserter(usb),
                 [](const SerialPortInfo& p) { return p.usb; });
    PortChoice choice;
    if (usb.size() == 1) {
        choice.device = usb.front().name;
    } else if (usb.empty()) {
        choice.error =
            "--port auto: no USB serial adapter is plugged in. Plug it in, or name the "
            "port with --port.";
        if (!present.empty()) {
            choice.error += " Serial ports present:" + ListOf(present);
        }
    } else {
        choice.error =
            "--port auto: " + std::to_string(usb.size()) +
            " USB serial adapters are plugged in; name the one to use with --port:" + ListOf(usb);
    }
    return choice;
}

}  // namespace

std::string PortChoice::Where() const {
    if (!device.empty()) {
        return device;
    }
    const std::string resolved = ResolvePortName(ComNumberOf(portText));
    return resolved == portText ? portText : portText + " (" + resolved + ")";
}

PortChoice ChoosePort(const std::string& text,
                      const std::function<std::vector<SerialPortInfo>()>& listPorts) {
    if (AsciiLower(text) == "auto") {
        return ChooseAuto(listPorts());
    }
    PortChoice choice;
    const int number = ComNumberOf(text);
    if (number == 0 && AsciiLower(text).rfind("com", 0) != 0) {
        choice.device = text;  // a device path, opened as given
    } else if (number >= 1 && number <= kDialogPorts) {
        choice.portText = "COM" + std::to_string(number);
    } else if (number > kDialogPorts && number <= HighestComNumber()) {
        choice.device = "COM" + std::to_string(number);
    } else {
        choice.error = text + " is not a port here: COM1 to COM" +
                       std::to_string(std::min(HighestComNumber(), kDialogPorts)) +
                       " name the built-in ports. Give the adapter's device instead (--port "
                       "auto, or a name from 'velmora-cli ports').";
    }
    return choice;
}

void ReportPortFailure(Console& console, const CUpgradeController& controller,
                       const PortChoice& choice) {
    // For a path, the controller's message was the reason itself.
    const bool said = !choice.device.empty() && ComNumberOf(choice.device) == 0;
    if (!said && !controller.LastPortError().empty()) {
        console.Say(controller.LastPortError());
    }
    const std::vector<SerialPortInfo> present = ListSerialPorts();
    console.Say(present.empty() ? "No serial ports are present: plug the adapter in."
                                : "Serial ports present:" + ListOf(present));
}

}  // namespace velmora::cli
