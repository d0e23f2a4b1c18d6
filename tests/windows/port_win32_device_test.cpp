// The Win32 port layer on real COM ports: two ports joined as by a null-modem
// cable, named by VELMORA_TEST_COM_PAIR (for example "COM5,COM6"). Under
// Wine, scripts/test-windows.sh maps two such ports to a linked pair of
// pseudo-terminals; on Windows, a virtual null-modem pair does the same.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "serial/SerialPort.h"
#include "serial/port_win32.h"

namespace velmora {
namespace {

using namespace std::chrono_literals;

bool RunningUnderWine() {
    const HMODULE ntdll = ::GetModuleHandleA("ntdll.dll");
    return ntdll != nullptr && ::GetProcAddress(ntdll, "wine_get_version") != nullptr;
}

const LineConfig k115200_8N1{115200, 8, 0, 0};

class ComPair : public ::testing::Test {
protected:
    void SetUp() override {
        const char* pair = std::getenv("VELMORA_TEST_COM_PAIR");
        const std::string text = pair != nullptr ? pair : "";
        const auto comma = text.find(',');
        if (comma == std::string::npos) {
            GTEST_SKIP() << "VELMORA_TEST_COM_PAIR does not name two joined COM ports";
        }
        m_near = text.substr(0, comma);
        m_far = text.substr(comma + 1);
        ASSERT_TRUE(m_farPort.Open(m_far, k115200_8N1)) << m_farPort.ErrorText();
    }

    // Waits, with a deadline, until `port` has `n` bytes queued.
    static bool WaitQueued(IPortDevice& port, std::uint32_t n) {
        const auto deadline = std::chrono::steady_clock::now() + 3s;
        while (port.BytesWaiting() < n) {
            if (std::chrono::steady_clock::now() > deadline) {
                return false;
            }
            port.WaitReadable(50ms);
        }
        return true;
    }
    void SendFromFar(const std::vector<std::uint8_t>& bytes) {
        for (const std::uint8_t b : bytes) {
            m_farPort.WriteByte(b);
        }
    }

    std::string m_near;
    std::string m_far;
    Win32PortDevice m_farPort;
};

TEST_F(ComPair, ReadsTakeOnlyWhatIsQueuedAndNeverWait) {
    Win32PortDevice port;
    ASSERT_TRUE(port.Open(m_near, k115200_8N1)) << port.ErrorText();
    std::uint8_t buffer[16];
    std::fill(std::begin(buffer), std::end(buffer), 0xEE);
    auto before = std::chrono::steady_clock::now();
    EXPECT_EQ(port.Read(buffer, 10), 0);
    EXPECT_LT(std::chrono::steady_clock::now() - before, 500ms);
    EXPECT_EQ(buffer[0], 0xEE);

    SendFromFar({1, 2, 3, 4, 5});
    ASSERT_TRUE(WaitQueued(port, 5));
    // Every read completes inside the call; one that waited on its record's
    // event would take 5 s here.
    before = std::chrono::steady_clock::now();
    EXPECT_EQ(port.Read(buffer, 1), 1);
    EXPECT_EQ(buffer[0], 1);
    EXPECT_EQ(port.BytesWaiting(), 4U);
    EXPECT_EQ(port.Read(buffer, 1), 1);
    EXPECT_EQ(port.Read(buffer, 10), 3);
    EXPECT_EQ(buffer[2], 5);
    EXPECT_LT(std::chrono::steady_clock::now() - before, 1s);
    EXPECT_EQ(port.Read(buffer, 10), 0);
}

TEST_F(ComPair, EveryByteValueCrossesTheLineUntranslated) {
    CSerialPort port(std::make_unique<Win32PortDevice>());
    ASSERT_EQ(port.OpenDevice(m_near, 115200, 8, 0, 0), 1) << port.LastError();
    std::vector<std::uint8_t> all(256);
    for (std::size_t i = 0; i < all.size(); ++i) {
        all[i] = static_cast<std::uint8_t>(i);
    }
    // Near to far through CSerialPort::Write, far to near byte by byte.
    ASSERT_EQ(port.Write(all.data(), static_cast<int>(all.size())), 256);
    std::vector<std::uint8_t> got;
    const auto deadline = std::chrono::steady_clock::now() + 5s;
    while (got.size() < all.size() && std::chrono::steady_clock::now() < deadline) {
        std::uint8_t chunk[64];
        m_farPort.WaitReadable(50ms);
        const int n = m_farPort.Read(chunk, 64);
        got.insert(got.end(), chunk, chunk + n);
    }
    EXPECT_EQ(got, all) << "binary mode: XON/XOFF, CR and LF pass as data";

    SendFromFar(all);
    got.clear();
    while (got.size() < all.size() && std::chrono::steady_clock::now() < deadline) {
        std::uint8_t byte = 0;
        if (port.BytesWaiting() == 0) {
            port.WaitForData(50ms);
        }
        if (port.Read(&byte, 1) == 1) {
            got.push_back(byte);
        }
    }
    EXPECT_EQ(got, all);
}

TEST_F(ComPair, WaitForDataWakesOnArrivalAndOnInterrupt) {
    CSerialPort port(std::make_unique<Win32PortDevice>());
    ASSERT_EQ(port.OpenDevice(m_near, 115200, 8, 0, 0), 1) << port.LastError();
    auto before = std::chrono::steady_clock::now();
    EXPECT_FALSE(port.WaitForData(200ms));
    EXPECT_GE(std::chrono::steady_clock::now() - before, 190ms);

    std::thread sender([this] {
        std::this_thread::sleep_for(100ms);
        SendFromFar({0xAB});
    });
    before = std::chrono::steady_clock::now();
    EXPECT_TRUE(port.WaitForData(10s));
    EXPECT_LT(std::chrono::steady_clock::now() - before, 3s);
    sender.join();

    std::uint8_t byte = 0;
    ASSERT_EQ(port.Read(&byte, 1), 1);
    std::thread canceller([&port] {
        std::this_thread::sleep_for(100ms);
        port.Interrupt();
    });
    before = std::chrono::steady_clock::now();
    EXPECT_FALSE(port.WaitForData(10s));
    EXPECT_LT(std::chrono::steady_clock::now() - before, 3s);
    canceller.join();
    EXPECT_FALSE(port.IsDeviceLost());
}

TEST_F(ComPair, TheLineRunsAsAskedAndIsHandedBackAsFound) {
    // Give the port a state of its own first.
    {
        const HANDLE raw = ::CreateFileA(m_near.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                         OPEN_EXISTING, 0, nullptr);
        ASSERT_NE(raw, INVALID_HANDLE_VALUE);
        DCB dcb{};
        dcb.DCBlength = sizeof(DCB);
        ASSERT_TRUE(::GetCommState(raw, &dcb));
        dcb.BaudRate = 19200;
        dcb.ByteSize = 8;
        dcb.Parity = NOPARITY;
        dcb.StopBits = ONESTOPBIT;
        ASSERT_TRUE(::SetCommState(raw, &dcb));
        ::CloseHandle(raw);
    }
    // Data bits and parity are not asked for here: a pseudo-terminal always
    // runs at 8 bits without parity (the driver test covers what is handed over).
    Win32PortDevice port;
    ASSERT_TRUE(port.Open(m_near, LineConfig{57600, 8, 0, 2})) << port.ErrorText();
    DCB now{};
    now.DCBlength = sizeof(DCB);
    ASSERT_TRUE(::GetCommState(port.NativeHandle(), &now));
    EXPECT_EQ(now.BaudRate, 57600U);
    EXPECT_EQ(now.ByteSize, 8);
    EXPECT_EQ(now.StopBits, TWOSTOPBITS);
    EXPECT_TRUE(now.fBinary);
    ASSERT_TRUE(port.Close()) << port.ErrorText();

    const HANDLE raw = ::CreateFileA(m_near.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                     OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(raw, INVALID_HANDLE_VALUE);
    DCB after{};
    after.DCBlength = sizeof(DCB);
    EXPECT_TRUE(::GetCommState(raw, &after));
    ::CloseHandle(raw);
    EXPECT_EQ(after.BaudRate, 19200U);
    EXPECT_EQ(after.StopBits, ONESTOPBIT);
}

TEST_F(ComPair, ASecondOpenerIsKeptOut) {
    if (RunningUnderWine()) {
        GTEST_SKIP() << "Wine does not enforce exclusive opens of COM ports: a second "
                        "CreateFileA with no sharing succeeds there";
    }
    Win32PortDevice first;
    ASSERT_TRUE(first.Open(m_near, k115200_8N1)) << first.ErrorText();
    Win32PortDevice second;
    EXPECT_FALSE(second.Open(m_near, k115200_8N1));
    EXPECT_NE(second.ErrorText().find("in use by another program"), std::string::npos)
        << second.ErrorText();
}

TEST(Win32PortDevice, AMissingPortIsReportedByName) {
    CSerialPort port;
    EXPECT_EQ(port.Open(42, 115200, 8, 0, 0), 0);
    EXPECT_FALSE(port.IsOpen());
    EXPECT_NE(port.LastError().find("COM42"), std::string::npos) << port.LastError();
}

}  // namespace
}  // namespace velmora
