// Port discovery on Windows over a fake SetupAPI and SERIALCOMM, and over the
// system's own (under Wine, its mapped COM ports).
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>

#include "serial/portlist_win32.h"

namespace velmora {
namespace {

class FakePortSource final : public IWin32PortSource {
public:
    std::vector<Win32PortRecord> devices;
    std::vector<std::string> serialComm;
    std::vector<Win32PortRecord> PortsClassDevices() override { return devices; }
    std::vector<std::string> SerialCommNames() override { return serialComm; }
};

TEST(PortListWin32, DevicesWithTheirNamesAndIdsThenPortsOnlyTheRegistryKnows) {
    FakePortSource source;
    source.devices = {
        {"COM11", "USB Serial Port (COM11)", "USB Serial Port", "FTDI",
         "FTDIBUS\\COMPORT&VID_0403&PID_6001", "FTDIBUS\\VID_0403+PID_6001+A50285BIA\\0000",
         "FTDIBUS", "PCIROOT(0)#PCI(1400)#USBROOT(0)#USB(2)#USB(1)"},
        {"COM3", "Arduino Uno (COM3)", "Arduino Uno", "Arduino LLC",
         "USB\\VID_2341&PID_0043&REV_0001", "USB\\VID_2341&PID_0043\\75735323730351A0A1C1",
         "usbser", ""},
        {"COM1", "Communications Port (COM1)", "Communications Port", "(Standard port types)",
         "ACPI\\PNP0501", "ACPI\\PNP0501\\1", "Serial", ""},
        {"LPT1", "Printer Port (LPT1)", "Printer Port", "(Standard port types)", "ACPI\\PNP0400",
         "ACPI\\PNP0400\\1", "Parport", ""},
    };
    source.serialComm = {"COM1", "COM3", "COM11", "COM20"};
    const std::vector<SerialPortInfo> ports = ListSerialPorts(source);
    ASSERT_EQ(ports.size(), 4U) << "no printer port, no port twice";
    EXPECT_EQ(ports[0].Label(), "COM1 \u2013 Communications Port");
    EXPECT_FALSE(ports[0].usb);
    EXPECT_EQ(ports[1].name, "COM3");
    EXPECT_EQ(ports[1].serialNumber, "75735323730351A0A1C1");
    EXPECT_EQ(ports[2].name, "COM11") << "COM3 before COM11";
    EXPECT_EQ(ports[2].Description(), "USB Serial Port");
    EXPECT_TRUE(ports[2].usb);
    EXPECT_EQ(ports[2].vendorId + ":" + ports[2].productId, "0403:6001");
    EXPECT_EQ(ports[2].serialNumber, "A50285BI");
    EXPECT_EQ(ports[2].driver, "FTDIBUS");
    EXPECT_EQ(ports[2].StableName(), "COM11 at USB(2)#USB(1)") << "the USB socket below the root";
    EXPECT_EQ(ports[3].Label(), "COM20") << "a virtual port with no device behind it";
}

TEST(PortListWin32, TheSystemListsTheMappedTestPorts) {
    const char* pair = std::getenv("VELMORA_TEST_COM_PAIR");  // "COM5,COM6" under Wine
    if (pair == nullptr) {
        GTEST_SKIP() << "VELMORA_TEST_COM_PAIR names no ports";
    }
    const std::vector<SerialPortInfo> ports = ListSerialPorts();
    const std::string names(pair);
    for (const std::string& name :
         {names.substr(0, names.find(',')), names.substr(names.find(',') + 1)}) {
        EXPECT_TRUE(std::any_of(ports.begin(), ports.end(), [&](const SerialPortInfo& p) {
            return p.name == name;
        })) << name;
    }
}

}  // namespace
}  // namespace velmora
