#include "serial/PortList.h"

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <system_error>

#include "serial/PortDevice.h"

namespace velmora {

std::string SerialPortInfo::Description() const {
    if (!product.empty()) {
        return product;
    }
    if (!manufacturer.empty()) {
        return manufacturer + (usb ? " USB serial adapter" : " serial port");
    }
    return {};
}

std::string SerialPortInfo::Label() const {
    const std::string description = Description();
    return description.empty() ? name : name + " \u2013 " + description;
}

std::string SerialPortInfo::StableName() const {
    if (!byIdPath.empty() && !serialNumber.empty()) {
        return byIdPath;
    }
    if (!byPathPath.empty()) {
        return byPathPath;
    }
    if (!byIdPath.empty()) {
        return byIdPath;
    }
    return location.empty() ? name : name + " at " + location;
}

namespace {

bool IsDigit(char c) {
    return std::isdigit(static_cast<unsigned char>(c)) != 0;
}

// Compares names with runs of digits taken as numbers.
bool NaturalLess(const std::string& a, const std::string& b) {
    std::size_t i = 0;
    std::size_t j = 0;
    while (i < a.size() && j < b.size()) {
        if (IsDigit(a[i]) && IsDigit(b[j])) {
            while (i < a.size() && a[i] == '0') {
                ++i;
            }
            while (j < b.size() && b[j] == '0') {
                ++j;
            }
            std::size_t ei = i;
            std::size_t ej = j;
            while (ei < a.size() && IsDigit(a[ei])) {
                ++ei;
            }
            while (ej < b.size() && IsDigit(b[ej])) {
                ++ej;
            }
            // Without leading zeros, the longer run is the larger number.
            const int order =
                ei - i != ej - j ? (ei - i < ej - j ? -1 : 1) : a.compare(i, ei - i, b, j, ej - j);
            if (order != 0) {
                return order < 0;
            }
            i = ei;
            j = ej;
            continue;
        }
        if (a[i] != b[j]) {
            return a[i] < b[j];
        }
        ++i;
        ++j;
    }
    return a.size() - i < b.size() - j;
}

}  // namespace

void SortPorts(std::vector<SerialPortInfo>& ports) {
    std::stable_sort(ports.begin(), ports.end(),
                     [](const SerialPortInfo& x, const SerialPortInfo& y) {
                         return NaturalLess(x.name, y.name);
                     });
}

namespace {

// The device a path finally names, links resolved; the path itself when it
// cannot be resolved.
std::string Resolved(const std::string& path) {
    std::error_code error;
    const std::filesystem::path resolved = std::filesystem::canonical(path, error);
    return error ? path : resolved.string();
}

}  // namespace

const SerialPortInfo* FindPort(const std::vector<SerialPortInfo>& ports,
                               const std::string& device) {
    const int com = ComNumberOf(device);
    const std::string resolved = com != 0 ? std::string() : Resolved(device);
    for (const SerialPortInfo& port : ports) {
        const bool same = com != 0
                              ? ComNumberOf(port.name) == com
                              : port.name == device || port.byIdPath == device ||
                                    port.byPathPath == device || Resolved(port.name) == resolved;
        if (same) {
            return &port;
        }
    }
    return nullptr;
}

}  // namespace velmora
