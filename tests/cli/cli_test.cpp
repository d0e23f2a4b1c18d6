// The command line's own logic, without a port or a receiver.
#include <gtest/gtest.h>

#include <cctype>
#include <fstream>
#include <set>
#include <string>
#include <vector>

#include "cli/Arguments.h"
#include "cli/CommandTable.h"
#include "cli/PortChoice.h"
#include "serial/PortDevice.h"

namespace velmora::cli {
namespace {

SerialPortInfo Port(const std::string& name, bool usb) {
    SerialPortInfo port;
    port.name = name;
    port.usb = usb;
    return port;
}

TEST(ChoosePort, AutoTakesTheOnlyAdapterAndNamesAreTakenAsTechniciansWriteThem) {
    int listed = 0;
    auto lister = [&listed](std::vector<SerialPortInfo> ports) {
        return [&listed, ports] {
            ++listed;
            return ports;
        };
    };
    const SerialPortInfo builtIn = Port("/dev/ttyS0", false);
    const SerialPortInfo first = Port("/dev/ttyUSB0", true);
    const SerialPortInfo second = Port("/dev/ttyUSB1", true);

    PortChoice none = ChoosePort("auto", lister({}));
    EXPECT_NE(none.error.find("no USB serial adapter is plugged in"), std::string::npos);
    none = ChoosePort("auto", lister({builtIn}));
    EXPECT_NE(none.error.find("Serial ports present:\n  /dev/ttyS0"), std::string::npos);

    const PortChoice one = ChoosePort("AUTO", lister({builtIn, first}));
    EXPECT_EQ(one.error, "");
    EXPECT_EQ(one.device, "/dev/ttyUSB0");

    const PortChoice two = ChoosePort("auto", lister({first, second}));
    EXPECT_EQ(two.device, "");
    EXPECT_NE(two.error.find("2 USB serial adapters are plugged in"), std::string::npos);
    EXPECT_NE(two.error.find("/dev/ttyUSB0"), std::string::npos);
    EXPECT_NE(two.error.find("/dev/ttyUSB1"), std::string::npos);
    EXPECT_EQ(listed, 4);

    // Names other than auto never look at the ports present.
    const std::string byId = "/dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A1-if00-port0";
    EXPECT_EQ(ChoosePort(byId, lister({})).device, byId);
    for (const std::string com : {"COM3", "com3", "Com3", "\\\\.\\COM3"}) {
        const PortChoice dialogPort = ChoosePort(com, lister({}));
        EXPECT_EQ(dialogPort.portText, "COM3") << com;
        EXPECT_EQ(dialogPort.device, "") << com;
        EXPECT_EQ(dialogPort.error, "") << com;
    }
    const PortChoice high = ChoosePort("com12", lister({}));
    if (HighestComNumber() >= 12) {
        EXPECT_EQ(high.device, "COM12");  // beyond the dialog's eight, opened by name
    } else {
        EXPECT_NE(high.error.find("com12 is not a port here"), std::string::npos);
    }
    EXPECT_EQ(listed, 4);

    // An empty name (an unset variable in a script) is refused while parsing,
    // before it could fall back to the default port.
    for (std::string empty : {"", "  "}) {
        EXPECT_NE(PortName()(empty).find("the port name is empty"), std::string::npos);
    }
}

TEST(ClosestMatch, OffersWhatWasMeantAndNothingFarOff) {
    const std::vector<std::string> commands = {"send", "convert", "inspect", "ports"};
    EXPECT_EQ(ClosestMatch("sned", commands), "send");
    EXPECT_EQ(ClosestMatch("conver", commands), "convert");
    EXPECT_EQ(ClosestMatch("port", commands), "ports");
    EXPECT_EQ(ClosestMatch("upgrade", commands), "");
    EXPECT_EQ(ClosestMatch("x", {}), "");
    const std::vector<std::string> options = {"--port", "--baud", "--json", "--max-tv"};
    EXPECT_EQ(ClosestMatch("--jsn", options), "--json");
    EXPECT_EQ(ClosestMatch("--prot", options), "--port");
    EXPECT_EQ(ClosestMatch("--max-tc", options), "--max-tv");
    EXPECT_EQ(ClosestMatch("--timeout", options), "");
}

// The README's "| status | meaning |" table and the help's exit statuses name
// the same codes.
TEST(ExitTable, HasTheCodesTheReadmeLists) {
    std::ifstream readme(VELMORA_SOURCE_DIR "/README.md");
    ASSERT_TRUE(readme) << "README.md not found";
    std::set<int> documented;
    bool inTable = false;
    for (std::string line; std::getline(readme, line);) {
        if (line.rfind("| status | meaning |", 0) == 0) {
            inTable = true;
        } else if (inTable && line.rfind("| ", 0) == 0 && line.size() > 2 &&
                   std::isdigit(static_cast<unsigned char>(line[2])) != 0) {
            documented.insert(std::stoi(line.substr(2)));
        } else if (inTable && line.rfind("|", 0) != 0) {
            break;
        }
    }
    std::set<int> helped;
    for (const ExitRow& row : ExitTable()) {
        helped.insert(row.code);
    }
    EXPECT_FALSE(documented.empty());
    EXPECT_EQ(documented, helped);
}

}  // namespace
}  // namespace velmora::cli
