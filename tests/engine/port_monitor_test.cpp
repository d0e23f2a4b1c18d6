// Following adapters as they come and go, over a list that changes between
// readings.
#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <mutex>

#include "serial/PortMonitor.h"

namespace velmora {
namespace {

using namespace std::chrono_literals;

SerialPortInfo Adapter(const std::string& node, const std::string& serial, const std::string& byPath) {
    SerialPortInfo p;
    p.name = node;
    p.usb = true;
    p.vendorId = "0403";
    p.productId = "6001";
    p.serialNumber = serial;
    p.byIdPath = serial.empty() ? "" : "/dev/serial/by-id/usb-FTDI_" + serial;
    p.byPathPath = byPath;
    return p;
}

TEST(PortMonitor, ReportsTheAdaptersPresentThenEachPlugAndUnplug) {
    SerialPortInfo builtIn;
    builtIn.name = "/dev/ttyS0";
    const auto a = Adapter("/dev/ttyUSB0", "A1", "/dev/serial/by-path/usb-0:2");
    const auto b = Adapter("/dev/ttyUSB1", "", "/dev/serial/by-path/usb-0:3");
    const auto c = Adapter("/dev/ttyUSB0", "C3", "/dev/serial/by-path/usb-0:2");
    // Readings in turn: two adapters beside a built-in port; the same again;
    // one unplugged and the other swapped for another adapter on its node;
    // the unplugged one back in its socket.
    const std::vector<std::vector<SerialPortInfo>> readings = {
        {builtIn, a, b}, {builtIn, a, b}, {builtIn, c}, {builtIn, c, b}};

    std::mutex mutex;
    std::condition_variable changed;
    std::size_t reads = 0;
    std::vector<std::string> seen;
    PollingPortMonitor monitor(
        [&] {
            std::lock_guard lock(mutex);
            const auto& reading = readings[std::min(reads, readings.size() - 1)];
            ++reads;
            changed.notify_all();
            return reading;
        },
        1ms);
    std::string error;
    ASSERT_TRUE(monitor.Start(
        [&](const PortEvent& e) {
            std::lock_guard lock(mutex);
            seen.push_back((e.kind == PortEvent::Kind::Added ? "+ " : "- ") + e.port.StableName());
        },
        error))
        << error;
    {
        std::unique_lock lock(mutex);
        ASSERT_TRUE(changed.wait_for(lock, 10s, [&] { return reads > readings.size(); }));
    }
    monitor.Stop();
    EXPECT_EQ(seen, (std::vector<std::string>{
                        "+ /dev/serial/by-id/usb-FTDI_A1",
                        "+ /dev/serial/by-path/usb-0:3",
                        "- /dev/serial/by-id/usb-FTDI_A1",
                        "- /dev/serial/by-path/usb-0:3",
                        "+ /dev/serial/by-id/usb-FTDI_C3",
                        "+ /dev/serial/by-path/usb-0:3",
                    }));
}

}  // namespace
}  // namespace velmora
