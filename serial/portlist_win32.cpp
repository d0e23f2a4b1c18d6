#include "serial/portlist_win32.h"

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>
// windows.h first.
#include <setupapi.h>

#include <algorithm>
#include <cctype>

#include "serial/PortDevice.h"

namespace velmora {

namespace {

std::string Upper(std::string text) {
    for (char& c : text) {
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    }
    return text;
}

// The four hex digits after "VID_" (or "PID_") in a hardware or instance id.
std::string IdAfter(const std::string& id, const char* key) {
    const std::size_t at = Upper(id).find(key);
    if (at == std::string::npos || at + 8 > id.size()) {
        return {};
    }
    return Upper(id.substr(at + 4, 4));
}

// The adapter's serial number from its instance id: the last part of a USB
// id ("USB\VID_2341&PID_0043\75735323730351A0A1C1") unless Windows made it
// up (it then holds '&'); the third '+' field of an FTDI id, without the
// letter of the chip's channel ("FTDIBUS\VID_0403+PID_6001+A50285BIA\0000").
std::string SerialFromInstance(const std::string& instanceId) {
    const std::string upper = Upper(instanceId);
    if (upper.rfind("FTDIBUS\\", 0) == 0) {
        const std::size_t first = instanceId.find('+');
        const std::size_t second =
            first == std::string::npos ? first : instanceId.find('+', first + 1);
        if (second == std::string::npos) {
            return {};
        }
        std::string serial =
            instanceId.substr(second + 1, instanceId.find('\\', second) - second - 1);
        if (serial.size() > 1) {
            serial.pop_back();
        }
        return serial;
    }
    if (upper.rfind("USB\\", 0) == 0) {
        const std::string last = instanceId.substr(instanceId.rfind('\\') + 1);
        return last.find('&') == std::string::npos ? last : std::string();
    }
    return {};
}

// The USB socket of a location path, the part below the root hub
// ("USB(2)#USB(1)"); other locations as they are.
std::string UsbSocket(const std::string& location) {
    const std::size_t root = location.find("USBROOT(");
    const std::size_t after = root == std::string::npos ? root : location.find('#', root);
    return after == std::string::npos ? location : location.substr(after + 1);
}

// "USB Serial Port (COM11)" without its " (COM11)".
std::string WithoutComSuffix(const std::string& friendly, const std::string& port) {
    const std::string suffix = " (" + port + ")";
    if (friendly.size() > suffix.size() &&
        friendly.compare(friendly.size() - suffix.size(), suffix.size(), suffix) == 0) {
        return friendly.substr(0, friendly.size() - suffix.size());
    }
    return friendly;
}

SerialPortInfo FromDevice(const Win32PortRecord& d) {
    SerialPortInfo info;
    info.name = Upper(d.portName);
    info.driver = d.service;
    info.manufacturer = d.manufacturer;
    info.product =
        d.friendlyName.empty() ? d.description : WithoutComSuffix(d.friendlyName, d.portName);
    info.vendorId = IdAfter(d.hardwareId, "VID_");
    info.productId = IdAfter(d.hardwareId, "PID_");
    if (info.vendorId.empty()) {
        info.vendorId = IdAfter(d.instanceId, "VID_");
        info.productId = IdAfter(d.instanceId, "PID_");
    }
    info.usb = !info.vendorId.empty();
    info.serialNumber = SerialFromInstance(d.instanceId);
    info.location = info.usb ? UsbSocket(d.location) : std::string();
    return info;
}

}  // namespace

std::vector<SerialPortInfo> ListSerialPorts(IWin32PortSource& source) {
    std::vector<SerialPortInfo> ports;
    for (const Win32PortRecord& device : source.PortsClassDevices()) {
        // The Ports class also holds printer ports (LPT1).
        if (ComNumberOf(device.portName) > 0) {
            ports.push_back(FromDevice(device));
        }
    }
    for (const std::string& name : source.SerialCommNames()) {
        const bool known = std::any_of(ports.begin(), ports.end(), [&](const SerialPortInfo& p) {
            return p.name == Upper(name);
        });
        if (ComNumberOf(name) > 0 && !known) {
            SerialPortInfo info;
            info.name = Upper(name);
            ports.push_back(info);
        }
    }
    SortPorts(ports);
    return ports;
}

namespace {

// {4D36E978-E325-11CE-BFC1-08002BE10318}: the Ports (COM and LPT) class.
constexpr GUID kPortsClass = {
    0x4D36E978, 0xE325, 0x11CE, {0xBF, 0xC1, 0x08, 0x00, 0x2B, 0xE1, 0x03, 0x18}};

std::string RegistryProperty(HDEVINFO set, SP_DEVINFO_DATA& data, DWORD property) {
    char buffer[1024] = {};
    DWORD type = 0;
    if (!::SetupDiGetDeviceRegistryPropertyA(set, &data, property, &type,
                                             reinterpret_cast<PBYTE>(buffer), sizeof buffer - 2,
                                             nullptr)) {
        return {};
    }
    return buffer;  // a multi-string's first string
}

std::string PortNameOf(HDEVINFO set, SP_DEVINFO_DATA& data) {
    HKEY key = ::SetupDiOpenDevRegKey(set, &data, DICS_FLAG_GLOBAL, 0, DIREG_DEV, KEY_READ);
    if (key == INVALID_HANDLE_VALUE) {
        return {};
    }
    char name[64] = {};
    DWORD size = sizeof name - 1;
    DWORD type = 0;
    const LONG rc =
        ::RegQueryValueExA(key, "PortName", nullptr, &type, reinterpret_cast<LPBYTE>(name), &size);
    ::RegCloseKey(key);
    return rc == ERROR_SUCCESS && type == REG_SZ ? std::string(name) : std::string();
}

class SetupApiPortSource final : public IWin32PortSource {
public:
    std::vector<Win32PortRecord> PortsClassDevices() override {
        std::vector<Win32PortRecord> devices;
        HDEVINFO set = ::SetupDiGetClassDevsA(&kPortsClass, nullptr, nullptr, DIGCF_PRESENT);
        if (set == INVALID_HANDLE_VALUE) {
            return devices;
        }
        SP_DEVINFO_DATA data{};
        data.cbSize = sizeof data;
        for (DWORD i = 0; ::SetupDiEnumDeviceInfo(set, i, &data); ++i) {
            Win32PortRecord d;
            d.portName = PortNameOf(set, data);
            d.friendlyName = RegistryProperty(set, data, SPDRP_FRIENDLYNAME);
            d.description = RegistryProperty(set, data, SPDRP_DEVICEDESC);
            d.manufacturer = RegistryProperty(set, data, SPDRP_MFG);
            d.hardwareId = RegistryProperty(set, data, SPDRP_HARDWAREID);
            d.service = RegistryProperty(set, data, SPDRP_SERVICE);
            d.location = RegistryProperty(set, data, SPDRP_LOCATION_PATHS);
            if (d.location.empty()) {
                d.location = RegistryProperty(set, data, SPDRP_LOCATION_INFORMATION);
            }
            char instance[512] = {};
            if (::SetupDiGetDeviceInstanceIdA(set, &data, instance, sizeof instance, nullptr)) {
                d.instanceId = instance;
            }
            devices.push_back(std::move(d));
        }
        ::SetupDiDestroyDeviceInfoList(set);
        return devices;
    }

    std::vector<std::string> SerialCommNames() override {
        std::vector<std::string> names;
        HKEY key = nullptr;
        if (::RegOpenKeyExA(HKEY_LOCAL_MACHINE, "HARDWARE\\DEVICEMAP\\SERIALCOMM", 0, KEY_READ,
                            &key) != ERROR_SUCCESS) {
            return names;
        }
        for (DWORD i = 0;; ++i) {
            char valueName[256] = {};
            DWORD nameSize = sizeof valueName;
            char data[64] = {};
            DWORD dataSize = sizeof data - 1;
            DWORD type = 0;
            const LONG rc = ::RegEnumValueA(key, i, valueName, &nameSize, nullptr, &type,
                                            reinterpret_cast<LPBYTE>(data), &dataSize);
            if (rc == ERROR_NO_MORE_ITEMS) {
                break;
            }
            if (rc == ERROR_SUCCESS && type == REG_SZ) {
                names.emplace_back(data);
            }
        }
        ::RegCloseKey(key);
        return names;
    }
};

}  // namespace

std::vector<SerialPortInfo> ListSerialPorts() {
    SetupApiPortSource source;
    return ListSerialPorts(source);
}

}  // namespace velmora
