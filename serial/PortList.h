// The serial ports present on this machine, for choosing the adapter: the
// command line's `ports` and `--port auto`, and the dialog's port list. Cheap
// enough to call each time a list opens: no port is opened.
#pragma once

#include <string>
#include <vector>

namespace velmora {

struct SerialPortInfo {
    std::string name;          // "/dev/ttyUSB0" on Linux, "COM11" on Windows
    std::string byIdPath;      // "/dev/serial/by-id/usb-FTDI_..."; empty where there is none
    std::string byPathPath;    // "/dev/serial/by-path/pci-0000:00:14.0-usb-0:2:1.0-port0"
    std::string location;      // on Windows the USB socket, "USB(2)#USB(1)"; else empty
    std::string driver;        // "ftdi_sio", "cdc_acm", "serial"; on Windows the service
    std::string vendorId;      // USB vendor id, four hex digits ("0403"); empty if not USB
    std::string productId;     // USB product id ("6001")
    std::string manufacturer;  // "FTDI"
    std::string product;       // "FT232R USB UART"; on Windows the friendly name
    std::string serialNumber;  // the adapter's own serial number, where it has one
    bool usb = false;

    // What a technician recognises the port by: "FT232R USB UART" on Linux,
    // "USB Serial Port" on Windows; empty when nothing is known.
    std::string Description() const;
    // "/dev/ttyUSB0 – FT232R USB UART", or the name alone.
    std::string Label() const;
    // A name that stays with the adapter, or with its USB socket, across a
    // replug: the by-id link of an adapter with a serial number, else the
    // by-path link; on Windows "COM11 at USB(2)#USB(1)"; else the name.
    std::string StableName() const;
};

// Every serial port present, in a stable order (by name, numbers compared as
// numbers: COM2 before COM11, ttyUSB2 before ttyUSB10).
std::vector<SerialPortInfo> ListSerialPorts();

// The port among `ports` that `device` names: the same COM port ("COM11",
// "\\.\COM11"), or a path that leads to the same device (a by-id link);
// null when none does.
const SerialPortInfo* FindPort(const std::vector<SerialPortInfo>& ports, const std::string& device);

// Sorts ports as ListSerialPorts() returns them.
void SortPorts(std::vector<SerialPortInfo>& ports);

}  // namespace velmora
