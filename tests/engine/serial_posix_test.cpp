// CSerialPort over the POSIX layer, on a real pseudo-terminal. The test holds
// the master side; the port opens the slave like a serial device.
#include <fcntl.h>
#include <linux/serial.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <thread>
#include <vector>

#include "serial/SerialPort.h"
#include "serial/port_holders_linux.h"
#include "serial/port_posix.h"
#include "tests/engine/termios2_probe.h"
#include "tests/support/TempDir.h"

extern char** environ;

namespace velmora {
namespace {

using namespace std::chrono_literals;

class Pty {
public:
    // `raw`: the test's own hold on the slave puts it in raw mode; otherwise
    // the line keeps the kernel's defaults (IXON, ICRNL, OPOST, ECHO, ICANON,
    // ISIG), as a freshly plugged adapter has them.
    explicit Pty(bool raw = true) {
        m_master = ::posix_openpt(O_RDWR | O_NOCTTY);
        EXPECT_GE(m_master, 0);
        ::grantpt(m_master);
        ::unlockpt(m_master);
        char name[128] = {};
        ::ptsname_r(m_master, name, sizeof name);
        m_slave = name;
        // Keep the slave open so that the master never sees a hang-up between tests.
        m_keep = ::open(name, O_RDWR | O_NOCTTY);
        if (raw) {
            termios tio{};
            ::tcgetattr(m_keep, &tio);
            ::cfmakeraw(&tio);
            ::tcsetattr(m_keep, TCSANOW, &tio);
        }
    }
    ~Pty() {
        if (m_keep >= 0) {
            ::close(m_keep);
        }
        if (m_master >= 0) {
            ::close(m_master);
        }
    }
    const std::string& Slave() const { return m_slave; }
    int Master() const { return m_master; }
    void Send(std::initializer_list<std::uint8_t> bytes) {
        for (const std::uint8_t b : bytes) {
            ASSERT_EQ(::write(m_master, &b, 1), 1);
        }
    }
    // The slave's settings as the kernel holds them (the master shares them).
    termios SlaveSettings() const {
        termios tio{};
        ::tcgetattr(m_keep, &tio);
        return tio;
    }
    void SetSlaveSettings(const termios& tio) { ::tcsetattr(m_keep, TCSANOW, &tio); }
    // Suspends the line's output, as a receiver holding CTS low would.
    void HoldOutput() { ::tcflow(m_keep, TCOOFF); }
    void HangUp() {
        ::close(m_keep);
        m_keep = -1;
        ::close(m_master);
        m_master = -1;
    }
    // Reads exactly n bytes from the master side, or fewer at the deadline.
    std::vector<std::uint8_t> ReadMaster(std::size_t n, std::chrono::milliseconds deadline) {
        std::vector<std::uint8_t> got;
        const auto end = std::chrono::steady_clock::now() + deadline;
        while (got.size() < n && std::chrono::steady_clock::now() < end) {
            pollfd fd{m_master, POLLIN, 0};
            if (::poll(&fd, 1, 50) == 1) {
                std::uint8_t buffer[256];
                const ssize_t r = ::read(m_master, buffer, std::min(sizeof buffer, n - got.size()));
                if (r <= 0) {
                    break;
                }
                got.insert(got.end(), buffer, buffer + r);
            }
        }
        return got;
    }
    // Waits (with a deadline) until the slave's receive queue holds n bytes.
    bool WaitQueued(CSerialPort& port, int n) {
        const auto deadline = std::chrono::steady_clock::now() + 2s;
        while (port.BytesWaiting() < n) {
            if (std::chrono::steady_clock::now() > deadline) {
                return false;
            }
            port.WaitForData(50ms);
        }
        return true;
    }

private:
    int m_master = -1;
    int m_keep = -1;
    std::string m_slave;
};

int OpenDefault(CSerialPort& port, const std::string& device, std::uint32_t baud = 115200,
                std::uint8_t dataBits = 8, std::uint8_t parity = 0, std::uint8_t stopBits = 0) {
    return port.OpenDevice(device, baud, dataBits, parity, stopBits);
}

TEST(SerialPosix, ReadsTakeOnlyWhatIsQueuedAndNeverWait) {
    Pty pty;
    CSerialPort port;
    ASSERT_EQ(OpenDefault(port, pty.Slave()), 1) << port.LastError();

    std::uint8_t buffer[16];
    std::fill(std::begin(buffer), std::end(buffer), 0xEE);
    const auto before = std::chrono::steady_clock::now();
    EXPECT_EQ(port.Read(buffer, 10), 0);
    EXPECT_LT(std::chrono::steady_clock::now() - before, 500ms);
    EXPECT_EQ(buffer[0], 0xEE) << "an empty read leaves the buffer alone";

    pty.Send({1, 2, 3, 4, 5});
    ASSERT_TRUE(pty.WaitQueued(port, 5));
    EXPECT_EQ(port.Read(buffer, 1), 1);
    EXPECT_EQ(buffer[0], 1);
    EXPECT_EQ(port.BytesWaiting(), 4);
    EXPECT_EQ(port.Read(buffer, 10), 4);
    EXPECT_EQ(buffer[3], 5);

    pty.Send({7, 8, 9});
    ASSERT_TRUE(pty.WaitQueued(port, 3));
    EXPECT_EQ(port.Read(buffer, 10), 3);
    EXPECT_EQ(port.Read(buffer, 0), 0);
}

TEST(SerialPosix, WritesGoOutByteForByteAndCountsFollowTheRules) {
    Pty pty;
    CSerialPort port;
    ASSERT_EQ(OpenDefault(port, pty.Slave()), 1);
    const std::uint8_t data[12] = {0x00, 0x0A, 0x0D, 0x11, 0x13, 0x7F, 0x80, 0xFF, 1, 2, 3, 4};
    EXPECT_EQ(port.Write(data, 0), 0);
    EXPECT_EQ(port.Write(data, 12), 12);  // nobody reads the master yet
    EXPECT_EQ(port.WriteByte(0x40), 1);
    std::uint8_t got[13] = {};
    std::size_t have = 0;
    const auto deadline = std::chrono::steady_clock::now() + 2s;
    while (have < 13 && std::chrono::steady_clock::now() < deadline) {
        const ssize_t n = ::read(pty.Master(), got + have, 13 - have);
        ASSERT_GT(n, 0);
        have += static_cast<std::size_t>(n);
    }
    ASSERT_EQ(have, 13U);
    EXPECT_EQ(0, std::memcmp(got, data, 12)) << "raw mode: no byte may be translated";
    EXPECT_EQ(got[12], 0x40);
}

TEST(SerialPosix, ClosedPortDoesNothingAndCloseIsIdempotent) {
    CSerialPort port;
    std::uint8_t b = 0;
    EXPECT_EQ(port.BytesWaiting(), 0);
    EXPECT_EQ(port.Read(&b, 1), 0);
    EXPECT_EQ(port.Write(&b, 1), 0);
    EXPECT_EQ(port.Close(), 1);
    EXPECT_EQ(port.Close(), 1);
    Pty pty;
    ASSERT_EQ(OpenDefault(port, pty.Slave()), 1);
    EXPECT_EQ(port.Close(), 1);
    EXPECT_EQ(port.Close(), 1);
    EXPECT_EQ(port.Read(&b, 1), 0);
}

TEST(SerialPosix, OpenIsExclusive) {
    Pty pty;
    CSerialPort port;
    ASSERT_EQ(OpenDefault(port, pty.Slave()), 1);

    // Through the same object: refused, and the open port keeps working.
    EXPECT_EQ(OpenDefault(port, pty.Slave()), 0);
    EXPECT_TRUE(port.IsOpen());
    pty.Send({0x42});
    ASSERT_TRUE(pty.WaitQueued(port, 1));
    std::uint8_t b = 0;
    EXPECT_EQ(port.Read(&b, 1), 1);
    EXPECT_EQ(b, 0x42);

    // Through another object of this process.
    CSerialPort second;
    EXPECT_EQ(OpenDefault(second, pty.Slave()), 0);
    EXPECT_NE(second.LastError().find("in use"), std::string::npos) << second.LastError();

    // From another process.
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        CSerialPort other;
        const int opened = OpenDefault(other, pty.Slave());
        ::_exit(opened == 0 ? 0 : 1);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "the other process got the port";

    // Once closed, it can be opened again.
    port.Close();
    EXPECT_EQ(OpenDefault(second, pty.Slave()), 1) << second.LastError();
}

TEST(SerialPosix, MissingDeviceFailsWithAPlainReason) {
    CSerialPort port;
    EXPECT_EQ(OpenDefault(port, "/dev/velmora-no-such-port"), 0);
    EXPECT_FALSE(port.IsOpen());
    EXPECT_NE(port.LastError().find("Cannot open /dev/velmora-no-such-port"), std::string::npos);
    EXPECT_EQ(OpenDefault(port, "/dev/null"), 0);
    EXPECT_NE(port.LastError().find("not a serial port"), std::string::npos) << port.LastError();
}

TEST(SerialPosix, ComNamesResolveThroughTheEnvironment) {
    ::setenv("VELMORA_COM7", "/dev/ttyUSB3", 1);
    EXPECT_EQ(ResolvePortName(7), "/dev/ttyUSB3");
    ::unsetenv("VELMORA_COM7");
    EXPECT_EQ(ResolvePortName(7), "/dev/ttyS6");
    EXPECT_EQ(ResolvePortName(1),
              ::getenv("VELMORA_COM1") ? ::getenv("VELMORA_COM1") : "/dev/ttyS0");
}

TEST(SerialPosix, LineSettingsAreAppliedAndTheRestIsKept) {
    Pty pty;
    termios before = pty.SlaveSettings();
    // Flow control and modem-line handling as a device might have them.
    before.c_iflag |= IXON | IXOFF;
    before.c_cflag |= CRTSCTS | CLOCAL;
    pty.SetSlaveSettings(before);
    before = pty.SlaveSettings();

    CSerialPort port;
    ASSERT_EQ(OpenDefault(port, pty.Slave(), 115200, 8, 0, 0), 1) << port.LastError();
    const termios during = pty.SlaveSettings();
    EXPECT_EQ(::cfgetospeed(&during), B115200);
    EXPECT_EQ(during.c_cflag & CSIZE, static_cast<tcflag_t>(CS8));
    EXPECT_EQ(during.c_cflag & (PARENB | CSTOPB), 0U);
    EXPECT_EQ(during.c_lflag & (ICANON | ECHO | ISIG), 0U);
    EXPECT_EQ(during.c_oflag & OPOST, 0U);
    EXPECT_EQ(during.c_iflag & (IXON | IXOFF | IXANY), 0U) << "no software flow control";
    EXPECT_NE(during.c_cflag & CRTSCTS, 0U) << "hardware flow control stays as found";
    EXPECT_NE(during.c_cflag & CLOCAL, 0U);

    port.Close();
    const termios after = pty.SlaveSettings();
    EXPECT_EQ(after.c_cflag, before.c_cflag) << "the settings found at open are restored";
    EXPECT_EQ(after.c_iflag, before.c_iflag);
    EXPECT_EQ(after.c_lflag, before.c_lflag);
    EXPECT_EQ(after.c_oflag, before.c_oflag);
}

TEST(SerialPosix, AFreshLineCarriesEveryByteAndAnXoffCannotStopIt) {
    // The kernel's defaults, and an XOFF from the receiver both before the
    // port is opened and while it is open.
    Pty pty(false);
    pty.Send({0x13});
    CSerialPort port;
    ASSERT_EQ(OpenDefault(port, pty.Slave()), 1) << port.LastError();
    pty.Send({0x13, 0x0D, 0x03, 0x1A, 0x0A, 0x11});
    ASSERT_TRUE(pty.WaitQueued(port, 6));
    std::uint8_t in[6] = {};
    ASSERT_EQ(port.Read(in, 6), 6);
    EXPECT_EQ(std::vector<std::uint8_t>(in, in + 6),
              (std::vector<std::uint8_t>{0x13, 0x0D, 0x03, 0x1A, 0x0A, 0x11}))
        << "control bytes arrive as data, untranslated";

    pty.Send({0x13});
    const std::uint8_t out[6] = {0x40, 0x0A, 0x0D, 0x11, 0x13, 0xFF};
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(port.Write(out, 6), 6);
    EXPECT_LT(std::chrono::steady_clock::now() - start, 1s) << "the writes were held";
    EXPECT_EQ(pty.ReadMaster(6, 2s), std::vector<std::uint8_t>(out, out + 6))
        << "no output processing, no echo";
}

TEST(SerialPosix, EveryRateOfTheListAndEveryFrameShape) {
    Pty pty;
    for (const std::uint32_t baud : {110U, 300U, 600U, 1200U, 2400U, 4800U, 9600U, 14400U, 19200U,
                                     38400U, 56000U, 57600U, 115200U, 128000U, 256000U}) {
        CSerialPort port;
        ASSERT_EQ(OpenDefault(port, pty.Slave(), baud), 1) << baud << ": " << port.LastError();
        EXPECT_EQ(test::OutputSpeedOf(pty.Master()), baud);
    }
    // A pty keeps only 8 data bits without parity; the frame shape is checked
    // on what the port layer hands the driver, read back as a UART would.
    using U = test::UartLikeSysCalls;
    struct Shape {
        std::uint8_t dataBits, parity, stopBits;
        std::uint32_t size;
        std::uint32_t flags;
    };
    const Shape shapes[] = {{5, 0, 0, U::Cs5(), 0},
                            {6, 1, 0, U::Cs6(), U::Parenb() | U::Parodd()},
                            {7, 2, 2, U::Cs7(), U::Parenb() | U::Cstopb()},
                            {8, 0, 2, U::Cs8(), U::Cstopb()},
                            {5, 2, 1, U::Cs5(), U::Parenb() | U::Cstopb()}};  // 1.5 on 5-bit chars
    for (const Shape& s : shapes) {
        U sys;
        CSerialPort port(std::make_unique<PosixPortDevice>(sys));
        ASSERT_EQ(OpenDefault(port, pty.Slave(), 9600, s.dataBits, s.parity, s.stopBits), 1)
            << port.LastError();
        ASSERT_TRUE(sys.HasSettings());
        EXPECT_EQ(sys.Cflag() & U::CsizeMask(), s.size);
        EXPECT_EQ(sys.Cflag() & (U::Parenb() | U::Parodd() | U::Cstopb()), s.flags);
        EXPECT_EQ(sys.Speed(), 9600U);
        port.Close();
    }
}

TEST(SerialPosix, ADriverThatDropsASettingRefusesTheOpen) {
    // The pty driver forces 8 data bits: asking for 7 must not be reported as success.
    Pty pty;
    CSerialPort port;
    EXPECT_EQ(OpenDefault(port, pty.Slave(), 9600, 7, 2, 0), 0);
    EXPECT_NE(port.LastError().find("cannot use 7 data bits"), std::string::npos)
        << port.LastError();
    EXPECT_EQ(OpenDefault(port, pty.Slave()), 1) << "the refused open left the device free";
}

TEST(SerialPosix, ImpossibleLinesAreRefusedAndLeaveTheDeviceAlone) {
    Pty pty;
    const termios before = pty.SlaveSettings();
    CSerialPort port;
    EXPECT_EQ(OpenDefault(port, pty.Slave(), 9600, 8, 0, 1), 0);  // 1.5 stop bits, 8 data bits
    EXPECT_NE(port.LastError().find("1.5 stop bits"), std::string::npos) << port.LastError();
    EXPECT_EQ(OpenDefault(port, pty.Slave(), 9600, 9, 0, 0), 0);
    EXPECT_EQ(OpenDefault(port, pty.Slave(), 0, 8, 0, 0), 0);
    EXPECT_FALSE(port.IsOpen());
    EXPECT_EQ(pty.SlaveSettings().c_cflag, before.c_cflag);
    // And the device is free again.
    EXPECT_EQ(OpenDefault(port, pty.Slave()), 1) << port.LastError();
}

TEST(SerialPosix, HangUpIsSeenAsDeviceLossAtOnce) {
    Pty pty;
    CSerialPort port;
    ASSERT_EQ(OpenDefault(port, pty.Slave()), 1);
    EXPECT_FALSE(port.IsDeviceLost());
    pty.HangUp();
    const auto before = std::chrono::steady_clock::now();
    EXPECT_FALSE(port.WaitForData(5s));
    EXPECT_LT(std::chrono::steady_clock::now() - before, 1s);
    EXPECT_TRUE(port.IsDeviceLost());
    EXPECT_EQ(port.Close(), 1);
}

TEST(SerialPosix, InterruptWakesAWaitFromAnotherThread) {
    Pty pty;
    CSerialPort port;
    ASSERT_EQ(OpenDefault(port, pty.Slave()), 1);
    std::atomic<bool> returned{false};
    std::thread waiter([&] {
        port.WaitForData(10s);
        returned.store(true);
    });
    port.Interrupt();
    waiter.join();
    EXPECT_TRUE(returned.load());
    // A new open starts without the interruption.
    port.Close();
    ASSERT_EQ(OpenDefault(port, pty.Slave()), 1);
    pty.Send({1});
    EXPECT_TRUE(port.WaitForData(2s));
}

TEST(SerialPosix, WriteOnAHeldLineIsBoundedAndCloseDoesNotWaitForIt) {
    // The receiver holds the line and never lets go: a byte is dropped after
    // at most 100 ms + 5000 ms instead of blocking the job for ever.
    Pty pty;
    CSerialPort port;
    ASSERT_EQ(OpenDefault(port, pty.Slave()), 1);
    pty.HoldOutput();
    const auto start = std::chrono::steady_clock::now();
    std::uint8_t b = 0x55;
    int writes = 0;
    while (std::chrono::steady_clock::now() - start < 8s) {
        const auto t0 = std::chrono::steady_clock::now();
        port.Write(&b, 1);
        ++writes;
        if (std::chrono::steady_clock::now() - t0 > 1s) {
            break;  // this write waited for the time-out
        }
    }
    EXPECT_LT(std::chrono::steady_clock::now() - start, 8s) << "after " << writes << " writes";
    const auto closing = std::chrono::steady_clock::now();
    EXPECT_EQ(port.Close(), 1);
    EXPECT_LT(std::chrono::steady_clock::now() - closing, 200ms);
}

// System calls that fail on demand, on top of the real ones.
class FlakySysCalls final : public PosixSysCalls {
public:
    std::atomic<int> eintrReads{0};
    std::atomic<int> eintrPolls{0};
    std::atomic<int> eintrWrites{0};
    std::atomic<bool> readEio{false};
    std::atomic<bool> exclNotTty{false};

    ssize_t Read(int fd, void* buffer, size_t count) override {
        if (eintrReads.load() > 0) {
            --eintrReads;
            errno = EINTR;
            return -1;
        }
        if (readEio.load()) {
            errno = EIO;
            return -1;
        }
        return PosixSysCalls::Read(fd, buffer, count);
    }
    ssize_t Write(int fd, const void* data, size_t count) override {
        if (eintrWrites.load() > 0) {
            --eintrWrites;
            errno = EINTR;
            return -1;
        }
        return PosixSysCalls::Write(fd, data, count);
    }
    int Poll(pollfd* fds, nfds_t count, int timeoutMs) override {
        if (eintrPolls.load() > 0) {
            --eintrPolls;
            errno = EINTR;
            return -1;
        }
        return PosixSysCalls::Poll(fds, count, timeoutMs);
    }
    int Ioctl(int fd, unsigned long request, void* argument) override {
        if (exclNotTty.load() && request == TIOCEXCL) {
            errno = ENOTTY;
            return -1;
        }
        return PosixSysCalls::Ioctl(fd, request, argument);
    }
};

TEST(SerialPosix, InterruptedCallsAreRetriedAndDeviceErrorsMeanLoss) {
    Pty pty;
    FlakySysCalls sys;
    sys.exclNotTty = true;  // a driver without exclusive mode still opens
    CSerialPort port(std::make_unique<PosixPortDevice>(sys));
    ASSERT_EQ(OpenDefault(port, pty.Slave()), 1) << port.LastError();

    sys.eintrWrites = 3;
    EXPECT_EQ(port.WriteByte(0x40), 1);
    std::uint8_t got = 0;
    ASSERT_EQ(::read(pty.Master(), &got, 1), 1);
    EXPECT_EQ(got, 0x40) << "the byte goes out once EINTR has passed";

    sys.eintrPolls = 2;
    pty.Send({0xAB});
    EXPECT_TRUE(port.WaitForData(2s));
    sys.eintrReads = 2;
    std::uint8_t b = 0;
    EXPECT_EQ(port.Read(&b, 1), 1);
    EXPECT_EQ(b, 0xAB);

    pty.Send({0xAC});
    ASSERT_TRUE(port.WaitForData(2s));
    sys.readEio = true;
    EXPECT_EQ(port.Read(&b, 1), 0);
    EXPECT_TRUE(port.IsDeviceLost());
    sys.readEio = false;
    EXPECT_EQ(port.Close(), 1);
}

// A program that holds the port open the plain way (no TIOCEXCL, no flock,
// no lock file), as a forgotten terminal or a probing service does.
class Holder {
public:
    explicit Holder(const std::string& device) {
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, device.c_str(),
                                         O_RDWR | O_NOCTTY | O_NONBLOCK, 0);
        char sleep[] = "sleep";
        char seconds[] = "60";
        char* argv[] = {sleep, seconds, nullptr};
        EXPECT_EQ(::posix_spawnp(&m_pid, "sleep", &actions, nullptr, argv, environ), 0);
        posix_spawn_file_actions_destroy(&actions);
        // posix_spawn returns as the child starts its exec, a moment before
        // the process takes its new name.
        const auto deadline = std::chrono::steady_clock::now() + 5s;
        while (ProgramOfProcess(m_pid) != "sleep" && std::chrono::steady_clock::now() < deadline) {
            std::this_thread::sleep_for(1ms);
        }
    }
    ~Holder() { End(); }
    void End() {
        if (m_pid > 0) {
            ::kill(m_pid, SIGKILL);
            ::waitpid(m_pid, nullptr, 0);
            m_pid = -1;
        }
    }
    pid_t Pid() const { return m_pid; }

private:
    pid_t m_pid = -1;
};

TEST(SerialPosix, APortAnotherProgramHasOpenIsRefusedAndTheProgramNamed) {
    Pty pty;
    test::TempDir locks;
    Holder holder(pty.Slave());
    CSerialPort port(std::make_unique<PosixPortDevice>(RealSysCalls(), locks.path().string()));
    EXPECT_EQ(OpenDefault(port, pty.Slave()), 0);
    const PortOpenFailure& failure = port.LastOpenFailure();
    EXPECT_EQ(failure.kind, PortFailureKind::Busy);
    EXPECT_EQ(failure.holderPid, holder.Pid());
    EXPECT_EQ(port.LastError(), pty.Slave() + " is in use by sleep (pid " +
                                    std::to_string(holder.Pid()) + "). Close it and try again.");
    EXPECT_TRUE(std::filesystem::is_empty(locks.path())) << "a refused open leaves no lock behind";

    holder.End();
    EXPECT_EQ(OpenDefault(port, pty.Slave()), 1) << port.LastError();
    EXPECT_EQ(port.LastOpenFailure().kind, PortFailureKind::None);
}

TEST(SerialPosix, UucpLockFilesAreHonouredMadeAndRemovedAndStaleOnesTakenOver) {
    Pty pty;
    test::TempDir locks;
    const std::string lockFile = (locks.path() / UucpLockName(pty.Slave())).string();
    auto writeLock = [&](pid_t pid) {
        std::ofstream(lockFile) << std::string(10 - std::to_string(pid).size(), ' ') << pid << "\n";
    };
    CSerialPort port(std::make_unique<PosixPortDevice>(RealSysCalls(), locks.path().string()));

    {
        // A terminal program's lock, the program alive (and not holding the port).
        Holder elsewhere("/dev/null");
        writeLock(elsewhere.Pid());
        EXPECT_EQ(OpenDefault(port, pty.Slave()), 0);
        EXPECT_EQ(port.LastOpenFailure().kind, PortFailureKind::Busy);
        EXPECT_NE(
            port.LastError().find("in use by sleep (pid " + std::to_string(elsewhere.Pid()) + ")"),
            std::string::npos)
            << port.LastError();
        EXPECT_TRUE(std::filesystem::exists(lockFile)) << "someone else's lock is not touched";
    }
    // The program has died: its lock is stale and ours now, until the port closes.
    ASSERT_EQ(OpenDefault(port, pty.Slave()), 1) << port.LastError();
    std::ifstream in(lockFile);
    std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    EXPECT_EQ(text, std::string(10 - std::to_string(::getpid()).size(), ' ') +
                        std::to_string(::getpid()) + "\n");
    port.Close();
    EXPECT_FALSE(std::filesystem::exists(lockFile));
    EXPECT_TRUE(std::filesystem::is_empty(locks.path()));
}

// A lock file's content in the ASCII (HDB) and the binary format.
std::string AsciiLock(pid_t pid) {
    char text[16];
    std::snprintf(text, sizeof text, "%10d\n", static_cast<int>(pid));
    return text;
}
std::string BinaryLock(pid_t pid) {
    const std::int32_t value = pid;
    return std::string(reinterpret_cast<const char*>(&value), sizeof value);
}
std::string FileText(const std::string& path) {
    const auto bytes = test::ReadFileBytes(path);
    return std::string(bytes.begin(), bytes.end());
}
void WriteFileText(const std::string& path, const std::string& text) {
    std::filesystem::remove(path);
    std::ofstream(path, std::ios::binary) << text;
}

TEST(SerialPosix, LocksOfLiveOrUnknownOwnersAreHonouredAndOnlyDeadOnesTakenOver) {
    Pty pty;
    test::TempDir locks;
    const std::string lockFile = (locks.path() / UucpLockName(pty.Slave())).string();
    const pid_t self = ::getpid();
    const pid_t dead = ::fork();
    if (dead == 0) {
        ::_exit(0);
    }
    ASSERT_GT(dead, 0);
    ::waitpid(dead, nullptr, 0);
    CSerialPort port(std::make_unique<PosixPortDevice>(RealSysCalls(), locks.path().string()));

    // A live owner (this test), in the ASCII or the binary format, or a lock
    // that names nobody: the port is refused, and the lock left as it is.
    const std::pair<std::string, std::string> honoured[] = {
        {AsciiLock(self), "(pid " + std::to_string(self) + ")"},
        {BinaryLock(self), "(pid " + std::to_string(self) + ")"},
        {"garbage\n", lockFile + ", which does not say which program made it"},
        {"", lockFile},
    };
    for (const auto& [content, named] : honoured) {
        WriteFileText(lockFile, content);
        EXPECT_EQ(OpenDefault(port, pty.Slave()), 0);
        EXPECT_EQ(port.LastOpenFailure().kind, PortFailureKind::Busy);
        EXPECT_NE(port.LastError().find(named), std::string::npos) << port.LastError();
        EXPECT_EQ(FileText(lockFile), content);
    }
    // A dead owner's lock, in either format, is stale: taken over, and gone at close.
    for (const std::string& content : {AsciiLock(dead), BinaryLock(dead)}) {
        WriteFileText(lockFile, content);
        ASSERT_EQ(OpenDefault(port, pty.Slave()), 1) << port.LastError();
        EXPECT_EQ(FileText(lockFile), AsciiLock(self));
        port.Close();
        EXPECT_FALSE(std::filesystem::exists(lockFile));
    }
}

TEST(SerialPosix, NoLinkPlantedInTheLockFolderIsFollowed) {
    Pty pty;
    test::TempDir locks;
    test::TempDir elsewhere;
    const std::string lockFile = (locks.path() / UucpLockName(pty.Slave())).string();
    const std::string precious = elsewhere.Write("precious", {'k', 'e', 'e', 'p'});
    CSerialPort port(std::make_unique<PosixPortDevice>(RealSysCalls(), locks.path().string()));

    // At the lock's name: not our lock, and not to be taken as stale.
    ASSERT_EQ(::symlink(precious.c_str(), lockFile.c_str()), 0);
    EXPECT_EQ(OpenDefault(port, pty.Slave()), 0) << "a lock that is a link is not ours";
    std::filesystem::remove(lockFile);
    // At the names of our temporary files: what they point at stays as it was.
    for (int serial = 0; serial < 1024; ++serial) {
        const auto planted =
            locks.path() / ("LTMP." + std::to_string(::getpid()) + "." + std::to_string(serial));
        ASSERT_EQ(::symlink(precious.c_str(), planted.c_str()), 0);
    }
    ASSERT_EQ(OpenDefault(port, pty.Slave()), 1) << port.LastError();
    EXPECT_EQ(FileText(lockFile), AsciiLock(::getpid()));
    EXPECT_EQ(FileText(precious), "keep");
    // A lock that someone else put in place of ours meanwhile stays at close.
    WriteFileText(lockFile, AsciiLock(1));
    port.Close();
    EXPECT_EQ(FileText(lockFile), AsciiLock(1));
}

TEST(SerialPosix, WhenSomeProcessesCannotBeLookedAtTheOpenSaysWhatMayHoldThePort) {
    Pty pty;
    test::TempDir locks;
    test::TempDir proc;
    // A process whose open files cannot be listed, as another user's are for
    // a user other than root.
    std::filesystem::create_directories(proc.path() / "4242");
    proc.Write("4242/fd", {});
    CSerialPort port(std::make_unique<PosixPortDevice>(RealSysCalls(), locks.path().string(),
                                                       proc.path().string()));
    ASSERT_EQ(OpenDefault(port, pty.Slave()), 1) << port.LastError();
    EXPECT_EQ(port.HolderHint(), "Another program may hold " + pty.Slave() + "; `sudo fuser -v " +
                                     pty.Slave() + "` shows it.");
    port.Close();

    // Every process looked at: nothing to add.
    std::filesystem::remove(proc.path() / "4242/fd");
    std::filesystem::create_directories(proc.path() / "4242/fd");
    ASSERT_EQ(OpenDefault(port, pty.Slave()), 1) << port.LastError();
    EXPECT_EQ(port.HolderHint(), "");
}

// A USB serial driver as far as the port layer can tell: the serial-info
// ioctls of the low-latency flag, on top of a pty. Records the order of
// output flushes, setting writes and the close.
class UsbSerialLikeSysCalls final : public PosixSysCalls {
public:
    int flags = 0;
    bool refuseSet = false;
    std::vector<std::string> events;
    // What the output queue holds at each look; the last count stays.
    std::vector<int> outQueue;

    int Ioctl(int fd, unsigned long request, void* argument) override {
        if (request == TIOCGSERIAL) {
            serial_struct info{};
            info.flags = flags;
            std::memcpy(argument, &info, sizeof info);
            return 0;
        }
        if (request == TIOCSSERIAL) {
            if (refuseSet) {
                errno = EINVAL;
                return -1;
            }
            flags = static_cast<const serial_struct*>(argument)->flags;
            const bool on = (flags & static_cast<int>(ASYNC_LOW_LATENCY)) != 0;
            events.push_back(on ? "low latency on" : "low latency off");
            return 0;
        }
        if (request == TIOCOUTQ && !outQueue.empty()) {
            *static_cast<int*>(argument) = outQueue.front();
            if (outQueue.size() > 1) {
                outQueue.erase(outQueue.begin());
            }
            return 0;
        }
        if (request == TCFLSH) {
            const auto queue = reinterpret_cast<long>(argument);
            events.push_back(queue == TCOFLUSH ? "discard output" : "flush");
        }
        return PosixSysCalls::Ioctl(fd, request, argument);
    }
    int Close(int fd) override {
        events.push_back("close");
        return PosixSysCalls::Close(fd);
    }
};

TEST(SerialPosix, LowLatencyWhileOpenAndCloseDiscardsUnsentOutputFirst) {
    Pty pty;
    UsbSerialLikeSysCalls sys;
    sys.flags = static_cast<int>(ASYNC_SKIP_TEST);  // a flag of the driver's own, kept throughout
    CSerialPort port(std::make_unique<PosixPortDevice>(sys));
    ASSERT_EQ(OpenDefault(port, pty.Slave()), 1) << port.LastError();
    EXPECT_EQ(sys.flags, static_cast<int>(ASYNC_SKIP_TEST | ASYNC_LOW_LATENCY));
    sys.events.clear();
    port.Close();
    EXPECT_EQ(sys.flags, static_cast<int>(ASYNC_SKIP_TEST)) << "the flag is handed back as found";
    EXPECT_EQ(sys.events, (std::vector<std::string>{"discard output", "low latency off", "close"}));

    // Already on: left on at close. Refused by the driver: the open goes on.
    sys.flags = static_cast<int>(ASYNC_LOW_LATENCY);
    ASSERT_EQ(OpenDefault(port, pty.Slave()), 1);
    port.Close();
    EXPECT_EQ(sys.flags, static_cast<int>(ASYNC_LOW_LATENCY));
    sys.flags = 0;
    sys.refuseSet = true;
    EXPECT_EQ(OpenDefault(port, pty.Slave()), 1) << port.LastError();
    port.Close();
}

TEST(SerialPosix, CloseLetsDrainedOutputGoAndDiscardsWhatAHeldLineKept) {
    Pty pty;
    UsbSerialLikeSysCalls sys;
    CSerialPort port(std::make_unique<PosixPortDevice>(sys));
    sys.outQueue = {240, 12, 0};  // the last block leaves the queue
    ASSERT_EQ(OpenDefault(port, pty.Slave()), 1) << port.LastError();
    EXPECT_TRUE(port.DrainOutput(std::chrono::seconds(5)));
    sys.events.clear();
    port.Close();
    EXPECT_EQ(sys.events, (std::vector<std::string>{"low latency off", "close"}));

    sys.outQueue = {240};  // a held line: the bound passes
    ASSERT_EQ(OpenDefault(port, pty.Slave()), 1) << port.LastError();
    EXPECT_FALSE(port.DrainOutput(std::chrono::milliseconds(20)));
    sys.events.clear();
    port.Close();
    EXPECT_EQ(sys.events, (std::vector<std::string>{"discard output", "low latency off", "close"}));
}

}  // namespace
}  // namespace velmora
