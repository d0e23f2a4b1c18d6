// Port discovery on Linux over the device tree that udev keeps. The tree is
// reached through a small interface, so that tests can run the discovery over
// a fake tree; the real one is libudev's.
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "serial/PortList.h"

namespace velmora {

class IDeviceTree {
public:
    virtual ~IDeviceTree() = default;
    // The sysfs paths of every device of the "tty" subsystem.
    virtual std::vector<std::string> TtyDevices() = 0;
    // The device's parent in the tree; empty at the top.
    virtual std::string Parent(const std::string& syspath) = 0;
    virtual std::string Subsystem(const std::string& syspath) = 0;
    virtual std::string Driver(const std::string& syspath) = 0;
    virtual std::string DevNode(const std::string& syspath) = 0;
    // A sysfs attribute ("type", "idVendor"), empty when the device has none.
    virtual std::string Attribute(const std::string& syspath, const std::string& name) = 0;
    // A property from udev's database ("DEVLINKS", "ID_MODEL_FROM_DATABASE"),
    // empty when udev has not recorded it.
    virtual std::string Property(const std::string& syspath, const std::string& key) = 0;
    // The links in /dev/serial/by-id, each with the device node it leads to.
    virtual std::vector<std::pair<std::string, std::string>> ByIdLinks() = 0;
};

std::vector<SerialPortInfo> ListSerialPorts(IDeviceTree& tree);

}  // namespace velmora
