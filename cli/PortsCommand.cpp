// velmora-cli ports: the serial ports present, as a table or as JSON.
#include <cstdio>
#include <memory>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "base/Json.h"
#include "cli/CommandOptions.h"
#include "cli/Commands.h"
#include "cli/ExitCodes.h"
#include "serial/PortList.h"

namespace velmora::cli {

namespace {

struct PortsOptions {
    bool json = false;
};

// A JSON array with one port a line.
std::string PortsJson(const std::vector<SerialPortInfo>& ports) {
    Json list = Json::array();
    for (const SerialPortInfo& p : ports) {
        list.push_back({{"port", p.name},
                        {"byId", p.byIdPath},
                        {"driver", p.driver},
                        {"usb", p.usb},
                        {"vendorId", p.vendorId},
                        {"productId", p.productId},
                        {"manufacturer", p.manufacturer},
                        {"product", p.product},
                        {"serialNumber", p.serialNumber},
                        {"description", p.Description()}});
    }
    return JsonArrayLines(list) + "\n";
}

// Display width of UTF-8 text: one column a character.
std::size_t Width(const std::string& text) {
    std::size_t width = 0;
    for (const char c : text) {
        width += (static_cast<unsigned char>(c) & 0xC0) != 0x80 ? 1 : 0;
    }
    return width;
}

std::string PortsTable(const std::vector<SerialPortInfo>& ports) {
    const std::vector<std::string> heads = {"PORT",    "DRIVER", "USB ID", "MANUFACTURER",
                                            "PRODUCT", "SERIAL", "BY-ID"};
    std::vector<std::vector<std::string>> rows;
    for (const SerialPortInfo& p : ports) {
        rows.push_back({p.name, p.driver, p.usb ? p.vendorId + ":" + p.productId : std::string(),
                        p.manufacturer, p.product, p.serialNumber, p.byIdPath});
    }
    // Columns that no port fills are left out (BY-ID on Windows, say).
    std::vector<std::size_t> widths(heads.size(), 0);
    for (const auto& row : rows) {
        for (std::size_t c = 0; c < row.size(); ++c) {
            widths[c] = std::max(widths[c], Width(row[c]));
        }
    }
    std::string out;
    auto addLine = [&](const std::vector<std::string>& cells) {
        std::string line;
        for (std::size_t c = 0; c < cells.size(); ++c) {
            if (c > 0 && widths[c] == 0) {
                continue;
            }
            const std::string cell = cells[c].empty() ? "-" : cells[c];
            const std::size_t width = std::max(widths[c], Width(heads[c]));
            line += cell + std::string(width + 2 - std::min(width, Width(cell)), ' ');
        }
        out += line.substr(0, line.find_last_not_of(' ') + 1) + "\n";
    };
    addLine(heads);
    for (const auto& row : rows) {
        addLine(row);
    }
    return out;
}

int RunPorts(const PortsOptions& options) {
    const std::vector<SerialPortInfo> ports = ListSerialPorts();
    if (options.json) {
        std::fputs(PortsJson(ports).c_str(), stdout);
    } else if (ports.empty()) {
        std::puts(
            "No serial ports found. Plug the adapter in (built-in ports are listed only "
            "where the machine has them).");
    } else {
        std::fputs(PortsTable(ports).c_str(), stdout);
    }
    return kExitOk;
}

}  // namespace

void SetupPortsCommand(CLI::App& app, int& status) {
    auto options = std::make_shared<PortsOptions>();
    CLI::App* command = AddCommand(app, "ports");
    command->add_flag("--json", options->json, "Print JSON instead of a table");
    OnRun(*command, status, [options] { return RunPorts(*options); });
}

}  // namespace velmora::cli
