// Port discovery over a fake device tree, and over this machine's own.
#include <gtest/gtest.h>

#include <fstream>
#include <map>

#include "serial/portlist_linux.h"

namespace velmora {
namespace {

// A device tree in memory: each device by its sysfs path, its parent being
// the longest path of the tree that its own path begins with.
class FakeTree final : public IDeviceTree {
public:
    struct Node {
        std::string subsystem, driver, devnode;
        std::map<std::string, std::string> attributes, properties;
    };
    std::map<std::string, Node> nodes;
    std::vector<std::pair<std::string, std::string>> byId;

    std::vector<std::string> TtyDevices() override {
        std::vector<std::string> ttys;
        for (const auto& [path, node] : nodes) {
            if (node.subsystem == "tty") {
                ttys.push_back(path);
            }
        }
        return ttys;
    }
    std::string Parent(const std::string& path) override {
        for (std::string p = path.substr(0, path.rfind('/')); p.size() > 1;
             p = p.substr(0, p.rfind('/'))) {
            if (nodes.count(p) != 0) {
                return p;
            }
        }
        return {};
    }
    std::string Subsystem(const std::string& p) override { return nodes[p].subsystem; }
    std::string Driver(const std::string& p) override { return nodes[p].driver; }
    std::string DevNode(const std::string& p) override { return nodes[p].devnode; }
    std::string Attribute(const std::string& p, const std::string& name) override {
        return nodes[p].attributes[name];
    }
    std::string Property(const std::string& p, const std::string& key) override {
        return nodes[p].properties[key];
    }
    std::vector<std::pair<std::string, std::string>> ByIdLinks() override { return byId; }
};

FakeTree PcWithAdapters() {
    FakeTree t;
    const std::string usb = "/sys/devices/pci0000:00/0000:00:14.0/usb1";
    // A real 16550A on the mainboard, and a serial-core slot with no UART.
    t.nodes["/sys/devices/pnp0/00:04"] = {"pnp", "serial", "", {}, {}};
    t.nodes["/sys/devices/pnp0/00:04/00:04:0"] = {"serial-base", "ctrl", "", {}, {}};
    t.nodes["/sys/devices/pnp0/00:04/00:04:0/00:04:0.0"] = {"serial-base", "port", "", {}, {}};
    t.nodes["/sys/devices/pnp0/00:04/00:04:0/00:04:0.0/tty/ttyS0"] = {
        "tty", "", "/dev/ttyS0", {{"type", "4"}}, {}};
    t.nodes["/sys/devices/platform/serial8250"] = {"platform", "serial8250", "", {}, {}};
    t.nodes["/sys/devices/platform/serial8250/tty/ttyS1"] = {
        "tty", "", "/dev/ttyS1", {{"type", "0"}}, {}};
    t.nodes["/sys/devices/virtual/tty/tty0"] = {"tty", "", "/dev/tty0", {}, {}};
    // An FTDI adapter, as udev has recorded it.
    t.nodes[usb + "/1-2"] = {"usb",
                             "usb",
                             "",
                             {{"idVendor", "0403"},
                              {"idProduct", "6001"},
                              {"manufacturer", "FTDI"},
                              {"product", "FT232R USB UART"},
                              {"serial", "A50285BI"}},
                             {}};
    t.nodes[usb + "/1-2/1-2:1.0"] = {"usb", "ftdi_sio", "", {}, {}};
    t.nodes[usb + "/1-2/1-2:1.0/ttyUSB10"] = {"usb-serial", "ftdi_sio", "", {}, {}};
    t.nodes[usb + "/1-2/1-2:1.0/ttyUSB10/tty/ttyUSB10"] = {
        "tty",
        "",
        "/dev/ttyUSB10",
        {},
        {{"DEVLINKS",
          "/dev/serial/by-path/pci-0000:00:14.0-usb-0:2:1.0-port0 "
          "/dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A50285BI-if00-port0"}}};
    // A CH340 without strings of its own and without udev's database.
    t.nodes[usb + "/1-3"] = {"usb", "usb", "", {{"idVendor", "1a86"}, {"idProduct", "7523"}}, {}};
    t.nodes[usb + "/1-3/1-3:1.0"] = {"usb", "ch341", "", {}, {}};
    t.nodes[usb + "/1-3/1-3:1.0/ttyUSB2"] = {"usb-serial", "ch341", "", {}, {}};
    t.nodes[usb + "/1-3/1-3:1.0/ttyUSB2/tty/ttyUSB2"] = {
        "tty", "", "/dev/ttyUSB2", {}, {{"ID_MODEL_FROM_DATABASE", "CH340 serial converter"}}};
    t.byId = {{"/dev/serial/by-id/usb-1a86_USB_Serial-if00-port0", "/dev/ttyUSB2"}};
    return t;
}

TEST(PortListLinux, RealPortsWithTheirUsbDetailsInNaturalOrder) {
    FakeTree tree = PcWithAdapters();
    const std::vector<SerialPortInfo> ports = ListSerialPorts(tree);
    ASSERT_EQ(ports.size(), 3U) << "no phantom ttyS1, no virtual tty0";
    EXPECT_EQ(ports[0].name, "/dev/ttyS0");
    EXPECT_EQ(ports[0].driver, "serial");
    EXPECT_FALSE(ports[0].usb);
    EXPECT_EQ(ports[0].Label(), "/dev/ttyS0");

    const SerialPortInfo& ch340 = ports[1];
    EXPECT_EQ(ch340.name, "/dev/ttyUSB2") << "ttyUSB2 before ttyUSB10";
    EXPECT_EQ(ch340.byIdPath, "/dev/serial/by-id/usb-1a86_USB_Serial-if00-port0");
    EXPECT_EQ(ch340.Description(), "CH340 serial converter");
    EXPECT_EQ(ch340.driver, "ch341");

    const SerialPortInfo& ftdi = ports[2];
    EXPECT_TRUE(ftdi.usb);
    EXPECT_EQ(ftdi.byIdPath, "/dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A50285BI-if00-port0");
    EXPECT_EQ(ftdi.driver, "ftdi_sio");
    EXPECT_EQ(ftdi.vendorId + ":" + ftdi.productId, "0403:6001");
    EXPECT_EQ(ftdi.manufacturer, "FTDI");
    EXPECT_EQ(ftdi.serialNumber, "A50285BI");
    EXPECT_EQ(ftdi.Label(), "/dev/ttyUSB10 \u2013 FT232R USB UART");
    // The names a station shows: the adapter's own while it has a serial
    // number, else the USB socket's; a bare by-id link as the last resort.
    EXPECT_EQ(ftdi.byPathPath, "/dev/serial/by-path/pci-0000:00:14.0-usb-0:2:1.0-port0");
    EXPECT_EQ(ftdi.StableName(), ftdi.byIdPath);
    EXPECT_EQ(ch340.StableName(), ch340.byIdPath);
    EXPECT_EQ(ports[0].StableName(), "/dev/ttyS0");
}

TEST(PortListLinux, ThisMachineListsNoPhantomOrVirtualTty) {
    for (const SerialPortInfo& port : ListSerialPorts()) {
        SCOPED_TRACE(port.name);
        ASSERT_EQ(port.name.rfind("/dev/", 0), 0U);
        const std::string name = port.name.substr(5);
        EXPECT_EQ(name.rfind("tty", 0), 0U);
        EXPECT_NE(name, "tty");
        EXPECT_NE(name, "ttyprintk");
        std::ifstream type("/sys/class/tty/" + name + "/type");
        std::string value;
        if (type >> value) {
            EXPECT_NE(value, "0") << "a serial-core port without a UART";
        }
    }
}

}  // namespace
}  // namespace velmora
