// The Win32 port layer against a scripted driver: what the driver is handed at
// open and close, how reads and writes finish (completed, pending, never
// finished), device loss, and the bounded, interruptible wait.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <deque>
#include <mutex>
#include <thread>
#include <vector>

#include "serial/SerialPort.h"
#include "serial/port_win32.h"

namespace velmora {
namespace {

using namespace std::chrono_literals;

// A driver that keeps its state in memory. Events are real ones, so that the
// port's waits behave as on Windows.
class FakeDriver final : public Win32CommApi {
public:
    enum class Completion { Sync, PendingThenDone, PendingForever };

    const HANDLE device = reinterpret_cast<HANDLE>(static_cast<std::uintptr_t>(0x4D00));

    // What open was given.
    std::string openedName;
    DWORD access = 0, share = 0xFFFF, disposition = 0, flags = 0;
    COMMTIMEOUTS timeouts{};
    std::vector<DCB> statesSet;
    DWORD inQueue = 0, outQueue = 0;
    int deviceCloses = 0;
    DWORD purged = 0;        // what PurgeComm was asked to drop
    int closesAtPurge = -1;  // device closes before it

    // The device.
    DCB state{};
    DWORD createError = 0, getStateError = 0, setStateError = 0, setupError = 0;
    DWORD statusError = 0;  // ClearCommError fails with it
    DWORD writeError = 0;   // WriteFile fails with it
    Completion readCompletion = Completion::Sync;
    Completion writeCompletion = Completion::Sync;

    // Counters.
    int readCalls = 0, ioWaits = 0, cancels = 0;
    std::vector<std::uint8_t> written;

    void Receive(std::initializer_list<std::uint8_t> bytes) {
        std::lock_guard lock(m_mutex);
        m_rx.insert(m_rx.end(), bytes.begin(), bytes.end());
    }
    std::size_t LiveEvents() const { return m_events.size(); }

    HANDLE CreateFileA(LPCSTR name, DWORD a, DWORD s, LPSECURITY_ATTRIBUTES, DWORD d, DWORD f,
                       HANDLE) override {
        openedName = name;
        access = a;
        share = s;
        disposition = d;
        flags = f;
        if (createError != 0) {
            m_lastError = createError;
            return INVALID_HANDLE_VALUE;
        }
        return device;
    }
    BOOL CloseHandle(HANDLE h) override {
        if (h == device) {
            ++deviceCloses;
            return TRUE;
        }
        for (auto it = m_events.begin(); it != m_events.end(); ++it) {
            if (*it == h) {
                m_events.erase(it);
                return ::CloseHandle(h);
            }
        }
        ADD_FAILURE() << "closed a handle that was never handed out";
        return FALSE;
    }
    HANDLE CreateEventA(LPSECURITY_ATTRIBUTES, BOOL manual, BOOL initial, LPCSTR) override {
        EXPECT_TRUE(manual) << "the I/O events are manual-reset";
        EXPECT_FALSE(initial) << "the I/O events start unsignalled";
        HANDLE h = ::CreateEventA(nullptr, manual, initial, nullptr);
        m_events.push_back(h);
        return h;
    }
    BOOL GetCommState(HANDLE, LPDCB dcb) override {
        EXPECT_EQ(dcb->DCBlength, 28U);
        if (getStateError != 0) {
            m_lastError = getStateError;
            return FALSE;
        }
        *dcb = state;
        return TRUE;
    }
    BOOL SetCommState(HANDLE, LPDCB dcb) override {
        statesSet.push_back(*dcb);
        if (setStateError != 0) {
            m_lastError = setStateError;
            return FALSE;
        }
        state = *dcb;
        return TRUE;
    }
    BOOL SetCommTimeouts(HANDLE, LPCOMMTIMEOUTS t) override {
        timeouts = *t;
        return TRUE;
    }
    BOOL SetupComm(HANDLE, DWORD in, DWORD out) override {
        inQueue = in;
        outQueue = out;
        if (setupError != 0) {
            m_lastError = setupError;
            return FALSE;
        }
        return TRUE;
    }
    BOOL ClearCommError(HANDLE, LPDWORD errors, LPCOMSTAT stat) override {
        if (statusError != 0) {
            m_lastError = statusError;
            return FALSE;
        }
        std::lock_guard lock(m_mutex);
        *errors = 0;
        *stat = COMSTAT{};
        stat->cbInQue = static_cast<DWORD>(m_rx.size());
        return TRUE;
    }
    BOOL ReadFile(HANDLE, LPVOID buffer, DWORD count, LPDWORD done, LPOVERLAPPED ov) override {
        ++readCalls;
        DWORD n = 0;
        {
            std::lock_guard lock(m_mutex);
            n = std::min<DWORD>(count, static_cast<DWORD>(m_rx.size()));
            if (readCompletion != Completion::PendingForever) {
                for (DWORD i = 0; i < n; ++i) {
                    static_cast<std::uint8_t*>(buffer)[i] = m_rx.front();
                    m_rx.pop_front();
                }
            }
        }
        return Finish(readCompletion, n, done, ov);
    }
    BOOL WriteFile(HANDLE, LPCVOID data, DWORD count, LPDWORD done, LPOVERLAPPED ov) override {
        EXPECT_EQ(count, 1U) << "bytes go out one at a time";
        if (writeError != 0) {
            m_lastError = writeError;
            return FALSE;
        }
        if (writeCompletion != Completion::PendingForever) {
            written.push_back(*static_cast<const std::uint8_t*>(data));
        }
        return Finish(writeCompletion, count, done, ov);
    }
    BOOL GetOverlappedResult(HANDLE, LPOVERLAPPED ov, LPDWORD done, BOOL wait) override {
        EXPECT_FALSE(wait) << "the result is collected only after the event came";
        if (ov->Internal == kCancelled) {
            m_lastError = ERROR_OPERATION_ABORTED;
            return FALSE;
        }
        *done = static_cast<DWORD>(ov->InternalHigh);
        return TRUE;
    }
    BOOL PurgeComm(HANDLE, DWORD what) override {
        purged = what;
        closesAtPurge = deviceCloses;
        return TRUE;
    }
    BOOL CancelIoEx(HANDLE, LPOVERLAPPED ov) override {
        ++cancels;
        ov->Internal = kCancelled;
        ::SetEvent(ov->hEvent);  // the driver lets go of the request
        return TRUE;
    }
    // Waits on I/O events never block here: an event that is not set stands
    // for the whole 5 s having passed.
    DWORD WaitForSingleObject(HANDLE h, DWORD) override {
        ++ioWaits;
        return ::WaitForSingleObject(h, 0);
    }
    DWORD GetLastError() override { return m_lastError; }

private:
    static constexpr ULONG_PTR kCancelled = 0xC0000120;  // STATUS_CANCELLED

    BOOL Finish(Completion how, DWORD n, LPDWORD done, LPOVERLAPPED ov) {
        ::ResetEvent(ov->hEvent);  // as every read or write does when it begins
        switch (how) {
            case Completion::Sync:
                // As Wine does for a synchronous handle: the count comes back
                // from the call and the record's event is never signalled.
                *done = n;
                return TRUE;
            case Completion::PendingThenDone:
                ov->Internal = 0;
                ov->InternalHigh = n;
                ::SetEvent(ov->hEvent);
                break;
            case Completion::PendingForever:
                ov->Internal = STATUS_PENDING;
                break;
        }
        *done = 0;
        m_lastError = ERROR_IO_PENDING;
        return FALSE;
    }

    std::mutex m_mutex;
    std::deque<std::uint8_t> m_rx;
    std::vector<HANDLE> m_events;
    DWORD m_lastError = 0;
};

// A device state with every field set to something other than what open sets.
DCB UnusualState() {
    DCB dcb{};
    dcb.DCBlength = sizeof(DCB);
    dcb.BaudRate = 9600;
    dcb.fBinary = FALSE;
    dcb.fParity = TRUE;
    dcb.fOutxCtsFlow = TRUE;
    dcb.fOutxDsrFlow = TRUE;
    dcb.fDtrControl = DTR_CONTROL_HANDSHAKE;
    dcb.fDsrSensitivity = TRUE;
    dcb.fTXContinueOnXoff = TRUE;
    dcb.fOutX = TRUE;
    dcb.fInX = TRUE;
    dcb.fErrorChar = TRUE;
    dcb.fNull = TRUE;
    dcb.fRtsControl = RTS_CONTROL_TOGGLE;
    dcb.fAbortOnError = TRUE;
    dcb.XonLim = 2048;
    dcb.XoffLim = 512;
    dcb.ByteSize = 7;
    dcb.Parity = EVENPARITY;
    dcb.StopBits = TWOSTOPBITS;
    dcb.XonChar = 0x01;
    dcb.XoffChar = 0x02;
    dcb.ErrorChar = 0x3F;
    dcb.EofChar = 0x1A;
    dcb.EvtChar = 0x7E;
    return dcb;
}

const LineConfig k115200_8N1{115200, 8, 0, 0};

TEST(Win32Port, OpenChangesOnlyTheLineFormatAndCloseHandsTheLineBack) {
    static_assert(sizeof(DCB) == 28);
    FakeDriver driver;
    driver.state = UnusualState();
    Win32PortDevice port(driver);
    ASSERT_TRUE(port.Open("COM3", k115200_8N1)) << port.ErrorText();

    EXPECT_EQ(driver.openedName, "COM3");
    EXPECT_EQ(driver.access, static_cast<DWORD>(GENERIC_READ | GENERIC_WRITE));
    EXPECT_EQ(driver.share, 0U) << "exclusive";
    EXPECT_EQ(driver.disposition, static_cast<DWORD>(OPEN_EXISTING));
    EXPECT_EQ(driver.flags & FILE_FLAG_OVERLAPPED, 0U) << "a synchronous handle";

    EXPECT_EQ(driver.timeouts.ReadIntervalTimeout, MAXDWORD);
    EXPECT_EQ(driver.timeouts.ReadTotalTimeoutMultiplier, 100U);
    EXPECT_EQ(driver.timeouts.ReadTotalTimeoutConstant, 1000U);
    EXPECT_EQ(driver.timeouts.WriteTotalTimeoutMultiplier, 100U);
    EXPECT_EQ(driver.timeouts.WriteTotalTimeoutConstant, 5000U);
    EXPECT_EQ(driver.inQueue, 16U);
    EXPECT_EQ(driver.outQueue, 4096U);
    EXPECT_EQ(driver.LiveEvents(), 2U);

    // Exactly the listed fields differ from what the device had.
    DCB expected = UnusualState();
    expected.BaudRate = 115200;
    expected.ByteSize = 8;
    expected.Parity = NOPARITY;
    expected.StopBits = ONESTOPBIT;
    expected.fBinary = TRUE;
    expected.XonLim = 100;
    expected.XoffLim = 100;
    expected.XonChar = 0x11;
    expected.XoffChar = 0x13;
    ASSERT_EQ(driver.statesSet.size(), 1U);
    EXPECT_EQ(0, std::memcmp(&driver.statesSet[0], &expected, sizeof(DCB)))
        << "flow control, parity checking and the modem lines stay as the device had them";

    EXPECT_FALSE(port.Open("COM3", k115200_8N1)) << "already open";
    EXPECT_EQ(driver.statesSet.size(), 1U) << "the open port is left as it was";

    EXPECT_TRUE(port.Close());
    EXPECT_EQ(driver.purged, static_cast<DWORD>(PURGE_TXABORT | PURGE_TXCLEAR))
        << "unsent output is dropped, so that a held line cannot keep the close waiting";
    EXPECT_EQ(driver.closesAtPurge, 0);
    ASSERT_EQ(driver.statesSet.size(), 2U);
    const DCB original = UnusualState();
    EXPECT_EQ(0, std::memcmp(&driver.statesSet[1], &original, sizeof(DCB)));
    EXPECT_EQ(driver.deviceCloses, 1);
    EXPECT_EQ(driver.LiveEvents(), 0U);
    EXPECT_TRUE(port.Close()) << "a second close does nothing";
    EXPECT_EQ(driver.deviceCloses, 1);
}

TEST(Win32Port, FailedOpenReleasesEverythingAndSaysWhatToDo) {
    struct Case {
        const char* what;
        void (*arrange)(FakeDriver&);
        const char* says;
        int deviceCloses;
        PortFailureKind kind;
    };
    const Case cases[] = {
        {"missing", [](FakeDriver& d) { d.createError = ERROR_FILE_NOT_FOUND; },
         "COM3 does not exist", 0, PortFailureKind::Missing},
        {"busy", [](FakeDriver& d) { d.createError = ERROR_ACCESS_DENIED; },
         "COM3 is in use by another program", 0, PortFailureKind::Busy},
        {"no state", [](FakeDriver& d) { d.getStateError = ERROR_INVALID_FUNCTION; },
         "Cannot read the line settings of COM3", 1, PortFailureKind::NotSerial},
        {"state refused", [](FakeDriver& d) { d.setStateError = ERROR_INVALID_PARAMETER; },
         "The driver of COM3 refused 115200 baud", 1, PortFailureKind::Other},
        {"queues refused", [](FakeDriver& d) { d.setupError = ERROR_INVALID_PARAMETER; },
         "The driver of COM3 refused its queue sizes", 1, PortFailureKind::Other},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        FakeDriver driver;
        driver.state = UnusualState();
        c.arrange(driver);
        Win32PortDevice port(driver);
        EXPECT_FALSE(port.Open("COM3", k115200_8N1));
        EXPECT_NE(port.ErrorText().find(c.says), std::string::npos) << port.ErrorText();
        EXPECT_EQ(port.OpenFailure().kind, c.kind);
        EXPECT_EQ(driver.deviceCloses, c.deviceCloses);
        EXPECT_EQ(driver.LiveEvents(), 0U);
        EXPECT_EQ(port.BytesWaiting(), 0U) << "the port stays closed";

        // The object can be opened once the device is there.
        driver.createError = driver.getStateError = driver.setStateError = driver.setupError = 0;
        EXPECT_TRUE(port.Open("COM3", k115200_8N1)) << port.ErrorText();
    }
}

TEST(Win32Port, ReadsTakeTheCountFromACompletedCallAndWaitOnlyWhenPending) {
    FakeDriver driver;
    Win32PortDevice port(driver);
    ASSERT_TRUE(port.Open("COM1", k115200_8N1));
    std::uint8_t buffer[16];
    std::fill(std::begin(buffer), std::end(buffer), 0xEE);

    EXPECT_EQ(port.Read(buffer, 10), 0);
    EXPECT_EQ(driver.readCalls, 0) << "nothing queued: no read is started";
    EXPECT_EQ(buffer[0], 0xEE);

    // Completed at once (TRUE): the count is taken from the call, and the
    // record's event, which Wine never sets for such a read, is not waited for.
    driver.Receive({1, 2, 3, 4, 5});
    EXPECT_EQ(port.Read(buffer, 1), 1);
    EXPECT_EQ(buffer[0], 1);
    EXPECT_EQ(port.BytesWaiting(), 4U);
    EXPECT_EQ(port.Read(buffer, 10), 4);
    EXPECT_EQ(buffer[3], 5);
    EXPECT_EQ(driver.ioWaits, 0);

    // Reported as pending: the event is waited for and the result collected.
    driver.readCompletion = FakeDriver::Completion::PendingThenDone;
    driver.Receive({7, 8, 9});
    EXPECT_EQ(port.Read(buffer, 10), 3);
    EXPECT_EQ(buffer[2], 9);
    EXPECT_EQ(driver.ioWaits, 1);

    // Pending and never finished: the request is withdrawn before the read
    // returns, and a line that only aborted the request is not a lost device.
    driver.readCompletion = FakeDriver::Completion::PendingForever;
    driver.Receive({10});
    EXPECT_EQ(port.Read(buffer, 10), 0);
    EXPECT_EQ(driver.cancels, 1);
    EXPECT_FALSE(port.IsLost());
}

TEST(Win32Port, WritesGoOutOneByteAtATimeAndAStuckWriteIsWithdrawn) {
    FakeDriver driver;
    CSerialPort port(std::make_unique<Win32PortDevice>(driver));
    ASSERT_EQ(port.Open(1, 115200, 8, 0, 0), 1);
    const std::uint8_t data[4] = {0x40, 0x11, 0x13, 0x00};
    EXPECT_EQ(port.Write(data, 0), 0);
    EXPECT_EQ(port.Write(data, 4), 4);
    EXPECT_EQ(driver.written, std::vector<std::uint8_t>(data, data + 4));
    EXPECT_EQ(driver.ioWaits, 0);

    driver.writeCompletion = FakeDriver::Completion::PendingForever;
    EXPECT_EQ(port.WriteByte(0x55), 1);
    EXPECT_EQ(driver.cancels, 1);
    EXPECT_FALSE(port.IsDeviceLost());
}

TEST(Win32Port, DeviceErrorsMarkTheDeviceLostAndEndWaitsAtOnce) {
    for (const DWORD error :
         {DWORD{ERROR_ACCESS_DENIED}, DWORD{ERROR_BAD_COMMAND}, DWORD{ERROR_DEVICE_REMOVED},
          DWORD{ERROR_GEN_FAILURE}, DWORD{ERROR_NOT_READY}}) {
        SCOPED_TRACE(error);
        FakeDriver driver;
        CSerialPort port(std::make_unique<Win32PortDevice>(driver));
        ASSERT_EQ(port.Open(1, 115200, 8, 0, 0), 1);
        driver.statusError = error;
        const auto before = std::chrono::steady_clock::now();
        EXPECT_FALSE(port.WaitForData(10s));
        EXPECT_LT(std::chrono::steady_clock::now() - before, 1s);
        EXPECT_TRUE(port.IsDeviceLost());
        EXPECT_EQ(port.BytesWaiting(), 0);
        EXPECT_EQ(port.Close(), 1);
        EXPECT_EQ(driver.statesSet.size(), 1U) << "a lost device is not given settings back";
    }

    FakeDriver driver;
    Win32PortDevice port(driver);
    ASSERT_TRUE(port.Open("COM1", k115200_8N1));
    driver.writeError = ERROR_INVALID_PARAMETER;
    port.WriteByte(1);
    EXPECT_FALSE(port.IsLost()) << "an error of one call is not a lost device";
    driver.writeError = ERROR_OPERATION_ABORTED;
    port.WriteByte(2);
    EXPECT_FALSE(port.IsLost()) << "aborted after a line error, and the device still answers";
    driver.statusError = ERROR_DEVICE_REMOVED;
    port.WriteByte(3);
    EXPECT_TRUE(port.IsLost()) << "aborted, and the device no longer answers";
}

// CPU time that the calling thread has used.
std::chrono::microseconds ThreadCpuTime() {
    FILETIME created{}, exited{}, kernel{}, user{};
    ::GetThreadTimes(::GetCurrentThread(), &created, &exited, &kernel, &user);
    auto ticks = [](const FILETIME& t) {
        return (static_cast<std::uint64_t>(t.dwHighDateTime) << 32) | t.dwLowDateTime;
    };
    return std::chrono::microseconds((ticks(kernel) + ticks(user)) / 10);
}

TEST(Win32Port, WaitForDataIsBoundedWakesOnDataAndOnInterrupt) {
    FakeDriver driver;
    Win32PortDevice port(driver);
    ASSERT_TRUE(port.Open("COM1", k115200_8N1));

    // Bounded, and asleep while it waits.
    const auto cpuBefore = ThreadCpuTime();
    auto before = std::chrono::steady_clock::now();
    EXPECT_FALSE(port.WaitReadable(300ms));
    auto waited = std::chrono::steady_clock::now() - before;
    EXPECT_GE(waited, 290ms);
    EXPECT_LT(waited, 3s);
    EXPECT_LT(ThreadCpuTime() - cpuBefore, 150ms) << "the wait must not spin";

    // A byte that arrives during the wait ends it.
    std::thread sender([&] {
        std::this_thread::sleep_for(50ms);
        driver.Receive({0x4F});
    });
    before = std::chrono::steady_clock::now();
    EXPECT_TRUE(port.WaitReadable(10s));
    EXPECT_LT(std::chrono::steady_clock::now() - before, 3s);
    sender.join();
    std::uint8_t byte = 0;
    ASSERT_EQ(port.Read(&byte, 1), 1);

    // Interrupt from another thread ends a wait, and every later one, and
    // keeps bytes from being written, until the next open.
    std::thread canceller([&] {
        std::this_thread::sleep_for(50ms);
        port.Interrupt();
    });
    before = std::chrono::steady_clock::now();
    EXPECT_FALSE(port.WaitReadable(10s));
    EXPECT_LT(std::chrono::steady_clock::now() - before, 3s);
    canceller.join();
    before = std::chrono::steady_clock::now();
    EXPECT_FALSE(port.WaitReadable(10s));
    EXPECT_LT(std::chrono::steady_clock::now() - before, 1s);
    port.WriteByte(0x40);
    EXPECT_TRUE(driver.written.empty());

    ASSERT_TRUE(port.Close());
    ASSERT_TRUE(port.Open("COM1", k115200_8N1));
    before = std::chrono::steady_clock::now();
    EXPECT_FALSE(port.WaitReadable(100ms));
    EXPECT_GE(std::chrono::steady_clock::now() - before, 90ms);
    port.WriteByte(0x40);
    EXPECT_EQ(driver.written.size(), 1U);
}

}  // namespace
}  // namespace velmora
