// Port discovery on Windows: the devices of the Ports class from SetupAPI,
// with their friendly names and hardware ids, and the COM names of the
// SERIALCOMM registry key for ports that no such device stands for (virtual
// ports, Wine's mapped ports). Reached through a small interface, so that
// tests can run the discovery over a fake.
#pragma once

#include <string>
#include <vector>

#include "serial/PortList.h"

namespace velmora {

// One device of the Ports class, as SetupAPI describes it.
struct Win32PortRecord {
    std::string portName;      // "COM11" (the device's PortName)
    std::string friendlyName;  // "USB Serial Port (COM11)"
    std::string description;   // "USB Serial Port"
    std::string manufacturer;  // "FTDI"
    std::string
        hardwareId;  // "FTDIBUS\\COMPORT&VID_0403&PID_6001" or "USB\\VID_2341&PID_0043&REV_0001"
    std::string instanceId;  // "FTDIBUS\\VID_0403+PID_6001+A50285BIA\\0000"
    std::string service;     // "FTDIBUS", "usbser", "Serial"
    // Where it is plugged in: the first location path
    // ("PCIROOT(0)#PCI(1400)#USBROOT(0)#USB(2)#USB(1)"), else the location
    // information ("Port_#0001.Hub_#0002").
    std::string location;
};

class IWin32PortSource {
public:
    virtual ~IWin32PortSource() = default;
    virtual std::vector<Win32PortRecord> PortsClassDevices() = 0;
    // The data of every value of HKLM\HARDWARE\DEVICEMAP\SERIALCOMM: "COM1", ...
    virtual std::vector<std::string> SerialCommNames() = 0;
};

std::vector<SerialPortInfo> ListSerialPorts(IWin32PortSource& source);

}  // namespace velmora
