#include "serial/portlist_linux.h"

#include <libudev.h>

#include <filesystem>
#include <map>
#include <sstream>
#include <system_error>

namespace velmora {

namespace {

constexpr const char* kByIdFolder = "/dev/serial/by-id";

// Walks from `syspath` towards the top; the first device for which `match`
// holds, or an empty path.
template <typename Match>
std::string Ancestor(IDeviceTree& tree, std::string syspath, Match match) {
    while (!syspath.empty()) {
        if (match(syspath)) {
            return syspath;
        }
        syspath = tree.Parent(syspath);
    }
    return {};
}

// A tty that stands for hardware: virtual consoles, ptmx and the like hang
// off no device, and the serial core lists every possible built-in port with
// UART type 0 ("unknown") where no UART answered at boot.
bool IsRealPort(IDeviceTree& tree, const std::string& syspath) {
    if (syspath.find("/devices/virtual/") != std::string::npos || tree.Parent(syspath).empty() ||
        tree.DevNode(syspath).empty()) {
        return false;
    }
    const std::string type = tree.Attribute(syspath, "type");
    return type.empty() || type != "0";
}

// The first of udev's links to the device inside `folder`.
std::string LinkIn(IDeviceTree& tree, const std::string& syspath, const std::string& folder) {
    std::istringstream links(tree.Property(syspath, "DEVLINKS"));
    const std::string prefix = folder + "/";
    for (std::string link; links >> link;) {
        if (link.rfind(prefix, 0) == 0) {
            return link;
        }
    }
    return {};
}

std::string ByIdPath(IDeviceTree& tree, const std::string& syspath, const std::string& devnode) {
    if (std::string link = LinkIn(tree, syspath, kByIdFolder); !link.empty()) {
        return link;
    }
    // Without udev's database, the links themselves tell.
    for (const auto& [link, target] : tree.ByIdLinks()) {
        if (target == devnode) {
            return link;
        }
    }
    return {};
}

void AddUsbDetails(IDeviceTree& tree, const std::string& syspath, SerialPortInfo& info) {
    const std::string usbDevice = Ancestor(tree, syspath, [&](const std::string& p) {
        return tree.Subsystem(p) == "usb" && !tree.Attribute(p, "idVendor").empty();
    });
    if (usbDevice.empty()) {
        return;
    }
    info.usb = true;
    info.vendorId = tree.Attribute(usbDevice, "idVendor");
    info.productId = tree.Attribute(usbDevice, "idProduct");
    info.manufacturer = tree.Attribute(usbDevice, "manufacturer");
    info.product = tree.Attribute(usbDevice, "product");
    info.serialNumber = tree.Attribute(usbDevice, "serial");
    // Adapters without their own strings: the names from udev's USB database.
    if (info.manufacturer.empty()) {
        info.manufacturer = tree.Property(syspath, "ID_VENDOR_FROM_DATABASE");
    }
    if (info.product.empty()) {
        info.product = tree.Property(syspath, "ID_MODEL_FROM_DATABASE");
    }
}

}  // namespace

std::vector<SerialPortInfo> ListSerialPorts(IDeviceTree& tree) {
    std::vector<SerialPortInfo> ports;
    for (const std::string& syspath : tree.TtyDevices()) {
        if (!IsRealPort(tree, syspath)) {
            continue;
        }
        SerialPortInfo info;
        info.name = tree.DevNode(syspath);
        // The serial core's own port and controller devices (subsystem
        // "serial-base", drivers "port" and "ctrl") stand between a built-in
        // port and the driver that found its UART.
        const std::string withDriver = Ancestor(tree, tree.Parent(syspath), [&](const auto& p) {
            return !tree.Driver(p).empty() && tree.Subsystem(p) != "serial-base";
        });
        info.driver = withDriver.empty() ? std::string() : tree.Driver(withDriver);
        info.byIdPath = ByIdPath(tree, syspath, info.name);
        info.byPathPath = LinkIn(tree, syspath, "/dev/serial/by-path");
        AddUsbDetails(tree, syspath, info);
        ports.push_back(std::move(info));
    }
    SortPorts(ports);
    return ports;
}

namespace {

std::string Text(const char* value) {
    return value == nullptr ? std::string() : std::string(value);
}

// The device tree as libudev shows it: sysfs, plus udev's database where
// udevd runs.
class UdevDeviceTree final : public IDeviceTree {
public:
    UdevDeviceTree() : m_udev(udev_new()) {}
    ~UdevDeviceTree() override {
        for (auto& entry : m_devices) {
            udev_device_unref(entry.second);
        }
        udev_unref(m_udev);
    }
    UdevDeviceTree(const UdevDeviceTree&) = delete;
    UdevDeviceTree& operator=(const UdevDeviceTree&) = delete;

    std::vector<std::string> TtyDevices() override {
        std::vector<std::string> paths;
        udev_enumerate* enumerate = m_udev != nullptr ? udev_enumerate_new(m_udev) : nullptr;
        if (enumerate == nullptr) {
            return paths;
        }
        udev_enumerate_add_match_subsystem(enumerate, "tty");
        udev_enumerate_scan_devices(enumerate);
        for (udev_list_entry* e = udev_enumerate_get_list_entry(enumerate); e != nullptr;
             e = udev_list_entry_get_next(e)) {
            paths.push_back(Text(udev_list_entry_get_name(e)));
        }
        udev_enumerate_unref(enumerate);
        return paths;
    }
    std::string Parent(const std::string& syspath) override {
        udev_device* d = Device(syspath);
        udev_device* parent = d != nullptr ? udev_device_get_parent(d) : nullptr;
        return parent != nullptr ? Text(udev_device_get_syspath(parent)) : std::string();
    }
    std::string Subsystem(const std::string& syspath) override {
        udev_device* d = Device(syspath);
        return d != nullptr ? Text(udev_device_get_subsystem(d)) : std::string();
    }
    std::string Driver(const std::string& syspath) override {
        udev_device* d = Device(syspath);
        return d != nullptr ? Text(udev_device_get_driver(d)) : std::string();
    }
    std::string DevNode(const std::string& syspath) override {
        udev_device* d = Device(syspath);
        return d != nullptr ? Text(udev_device_get_devnode(d)) : std::string();
    }
    std::string Attribute(const std::string& syspath, const std::string& name) override {
        udev_device* d = Device(syspath);
        return d != nullptr ? Text(udev_device_get_sysattr_value(d, name.c_str())) : std::string();
    }
    std::string Property(const std::string& syspath, const std::string& key) override {
        udev_device* d = Device(syspath);
        return d != nullptr ? Text(udev_device_get_property_value(d, key.c_str())) : std::string();
    }
    std::vector<std::pair<std::string, std::string>> ByIdLinks() override {
        std::vector<std::pair<std::string, std::string>> links;
        std::error_code ec;
        for (const auto& entry : std::filesystem::directory_iterator(kByIdFolder, ec)) {
            const auto target = std::filesystem::canonical(entry.path(), ec);
            if (!ec) {
                links.emplace_back(entry.path().string(), target.string());
            }
        }
        return links;
    }

private:
    // Each device is made once; its parents belong to it.
    udev_device* Device(const std::string& syspath) {
        if (m_udev == nullptr) {
            return nullptr;
        }
        auto it = m_devices.find(syspath);
        if (it == m_devices.end()) {
            it = m_devices.emplace(syspath, udev_device_new_from_syspath(m_udev, syspath.c_str()))
                     .first;
        }
        return it->second;
    }

    udev* m_udev;
    std::map<std::string, udev_device*> m_devices;
};

}  // namespace

std::vector<SerialPortInfo> ListSerialPorts() {
    UdevDeviceTree tree;
    return ListSerialPorts(tree);
}

}  // namespace velmora
