#include "serial/port_win32.h"
#include "serial/win32_text.h"

#include <mmsystem.h>

#include <algorithm>
#include <cstring>

namespace velmora {

// ---- the real calls ------------------------------------------------------

HANDLE Win32CommApi::CreateFileA(LPCSTR name, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES sa,
                                 DWORD disposition, DWORD flags, HANDLE templateFile) {
    return ::CreateFileA(name, access, share, sa, disposition, flags, templateFile);
}
BOOL Win32CommApi::CloseHandle(HANDLE handle) {
    return ::CloseHandle(handle);
}
HANDLE Win32CommApi::CreateEventA(LPSECURITY_ATTRIBUTES sa, BOOL manualReset, BOOL initialState,
                                  LPCSTR name) {
    return ::CreateEventA(sa, manualReset, initialState, name);
}
BOOL Win32CommApi::GetCommState(HANDLE comm, LPDCB dcb) {
    return ::GetCommState(comm, dcb);
}
BOOL Win32CommApi::SetCommState(HANDLE comm, LPDCB dcb) {
    return ::SetCommState(comm, dcb);
}
BOOL Win32CommApi::SetCommTimeouts(HANDLE comm, LPCOMMTIMEOUTS timeouts) {
    return ::SetCommTimeouts(comm, timeouts);
}
BOOL Win32CommApi::SetupComm(HANDLE comm, DWORD inQueue, DWORD outQueue) {
    return ::SetupComm(comm, inQueue, outQueue);
}
BOOL Win32CommApi::ClearCommError(HANDLE comm, LPDWORD errors, LPCOMSTAT stat) {
    return ::ClearCommError(comm, errors, stat);
}
BOOL Win32CommApi::ReadFile(HANDLE file, LPVOID buffer, DWORD count, LPDWORD done,
                            LPOVERLAPPED overlapped) {
    return ::ReadFile(file, buffer, count, done, overlapped);
}
BOOL Win32CommApi::WriteFile(HANDLE file, LPCVOID data, DWORD count, LPDWORD done,
                             LPOVERLAPPED overlapped) {
    return ::WriteFile(file, data, count, done, overlapped);
}
BOOL Win32CommApi::GetOverlappedResult(HANDLE file, LPOVERLAPPED overlapped, LPDWORD done,
                                       BOOL wait) {
    return ::GetOverlappedResult(file, overlapped, done, wait);
}
BOOL Win32CommApi::CancelIoEx(HANDLE file, LPOVERLAPPED overlapped) {
    return ::CancelIoEx(file, overlapped);
}
BOOL Win32CommApi::PurgeComm(HANDLE comm, DWORD flags) {
    return ::PurgeComm(comm, flags);
}
DWORD Win32CommApi::WaitForSingleObject(HANDLE handle, DWORD milliseconds) {
    return ::WaitForSingleObject(handle, milliseconds);
}
DWORD Win32CommApi::GetLastError() {
    return ::GetLastError();
}

Win32CommApi& RealCommApi() {
    static Win32CommApi api;
    return api;
}

// ---- helpers ---------------------------------------------------------------

namespace {

// "COM3" for "COM3" and for "\\.\COM3": the name a technician knows.
std::string ShortName(const std::string& device) {
    constexpr const char* kPrefix = "\\\\.\\";
    if (device.rfind(kPrefix, 0) == 0) {
        return device.substr(std::strlen(kPrefix));
    }
    return device;
}

std::string SystemText(DWORD error) {
    return Win32ErrorText(error);
}

// Every wait for received bytes sleeps on the interrupt event in slices and
// looks at the receive queue between them. The slices start short, so that an
// acknowledgement is seen within a millisecond or two, and grow while the
// line stays quiet, so that a long wait costs almost nothing.
constexpr DWORD kFirstSliceMs = 1;
constexpr DWORD kLongestSliceMs = 16;

// ERROR_NO_SUCH_DEVICE (433): older SDK headers lack the name.
constexpr DWORD kErrorNoSuchDevice = 433;

}  // namespace

bool IsDeviceGoneError(DWORD error) {
    switch (error) {
        case ERROR_ACCESS_DENIED:  // USB serial driver after removal
        case ERROR_BAD_COMMAND:    // the same, older drivers
        case ERROR_DEVICE_REMOVED:
        case ERROR_DEVICE_NOT_CONNECTED:
        case ERROR_GEN_FAILURE:
        case ERROR_NOT_READY:  // Wine: the pty was hung up (EIO)
        case kErrorNoSuchDevice:
        case ERROR_INVALID_HANDLE:
            return true;
        default:
            return false;
    }
}

std::string ResolvePortName(int portNumber) {
    // Above COM9 only the device-namespace form opens.
    const std::string name = "COM" + std::to_string(portNumber);
    return portNumber > 9 ? "\\\\.\\" + name : name;
}

int HighestComNumber() {
    return 255;
}

std::unique_ptr<IPortDevice> CreatePlatformPortDevice() {
    return std::make_unique<Win32PortDevice>();
}

// ---- the device ------------------------------------------------------------

Win32PortDevice::Win32PortDevice(Win32CommApi& api) : m_api(api) {
    m_hInterrupt = ::CreateEventA(nullptr, TRUE, FALSE, nullptr);
}

Win32PortDevice::~Win32PortDevice() {
    Close();
    if (m_hInterrupt != nullptr) {
        ::CloseHandle(m_hInterrupt);
    }
}

void Win32PortDevice::ReleaseAll() {
    for (OVERLAPPED* record : {&m_ovRead, &m_ovWrite}) {
        if (record->hEvent != nullptr) {
            m_api.CloseHandle(record->hEvent);
            record->hEvent = nullptr;
        }
    }
    if (m_hComm != INVALID_HANDLE_VALUE) {
        m_api.CloseHandle(m_hComm);
        m_hComm = INVALID_HANDLE_VALUE;
    }
    if (m_timerRaised) {
        ::timeEndPeriod(1);
        m_timerRaised = false;
    }
    m_savedValid = false;
    m_drained = false;
}

bool Win32PortDevice::Fail(PortFailureKind kind, const std::string& reason,
                           const std::string& remedy) {
    m_failure = {kind, reason, remedy, {}, 0};
    m_error = m_failure.Text();
    ReleaseAll();
    return false;
}

bool Win32PortDevice::Open(const std::string& device, const LineConfig& config) {
    if (m_hComm != INVALID_HANDLE_VALUE) {
        m_failure = {PortFailureKind::Busy,
                     "The port " + ShortName(m_device) + " is already open.",
                     {},
                     {},
                     0};
        m_error = m_failure.Text();
        return false;
    }
    m_device = device;
    const std::string name = ShortName(device);
    m_error.clear();
    m_failure = {};
    m_lost.store(false);
    m_interrupted.store(false);
    if (m_hInterrupt == nullptr) {
        return Fail(
            PortFailureKind::Other,
            "Cannot create an event for " + name + ": " + SystemText(::GetLastError()) + ".",
            "Close other programs and try again.");
    }
    ::ResetEvent(m_hInterrupt);
    if (!OpenHandle(name)) {
        return false;
    }
    SetTimeoutsAndEvents();
    if (!ConfigureLine(name, config) || !SetQueues(name)) {
        return false;
    }
    // Acknowledgements are waited for in slices of a millisecond or two; the
    // system timer has to tick that finely while the port is open.
    m_timerRaised = ::timeBeginPeriod(1) == TIMERR_NOERROR;
    return true;
}

// Exclusive, existing device only, ordinary synchronous I/O.
bool Win32PortDevice::OpenHandle(const std::string& name) {
    m_hComm = m_api.CreateFileA(m_device.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (m_hComm != INVALID_HANDLE_VALUE) {
        return true;
    }
    const DWORD err = m_api.GetLastError();
    if (err == ERROR_FILE_NOT_FOUND || err == ERROR_PATH_NOT_FOUND) {
        return Fail(PortFailureKind::Missing, name + " does not exist.",
                    "Check that the adapter is plugged in and which COM number Device Manager "
                    "shows for it.");
    }
    if (err == ERROR_ACCESS_DENIED || err == ERROR_SHARING_VIOLATION) {
        // A COM port is opened exclusively: "access denied" means another
        // program has it. Windows does not say which.
        return Fail(PortFailureKind::Busy, name + " is in use by another program.",
                    "Close it and try again.");
    }
    return Fail(PortFailureKind::Other, "Cannot open " + name + ": " + SystemText(err) + ".");
}

// Reads take what is queued; a write of one byte may take 100 ms plus 5 s
// when flow control holds the line. The outcome does not matter: the reads
// never ask for more than is queued.
void Win32PortDevice::SetTimeoutsAndEvents() {
    m_ovRead = OVERLAPPED{};
    m_ovWrite = OVERLAPPED{};
    COMMTIMEOUTS timeouts{};
    timeouts.ReadIntervalTimeout = MAXDWORD;
    timeouts.ReadTotalTimeoutMultiplier = 100;
    timeouts.ReadTotalTimeoutConstant = 1000;
    timeouts.WriteTotalTimeoutMultiplier = static_cast<DWORD>(kWriteTimeoutPerByte.count());
    timeouts.WriteTotalTimeoutConstant = static_cast<DWORD>(kWriteTimeoutConstant.count());
    m_api.SetCommTimeouts(m_hComm, &timeouts);
    m_ovRead.hEvent = m_api.CreateEventA(nullptr, TRUE, FALSE, nullptr);
    m_ovWrite.hEvent = m_api.CreateEventA(nullptr, TRUE, FALSE, nullptr);
}

// Only the line format and the XON/XOFF parameters change; flow control,
// parity checking and the modem lines stay as the device had them.
bool Win32PortDevice::ConfigureLine(const std::string& name, const LineConfig& config) {
    DCB dcb{};
    dcb.DCBlength = sizeof(DCB);
    if (!m_api.GetCommState(m_hComm, &dcb)) {
        const DWORD err = m_api.GetLastError();
        return Fail(PortFailureKind::NotSerial,
                    "Cannot read the line settings of " + name + ": " + SystemText(err) + ".",
                    "Check that " + name + " is a serial port.");
    }
    m_saved = dcb;
    m_savedValid = true;
    dcb.BaudRate = config.nBaudRate;
    dcb.ByteSize = config.nDataBits;
    dcb.Parity = config.nParity;
    dcb.StopBits = config.nStopBits;
    dcb.fBinary = TRUE;
    dcb.XonLim = 100;
    dcb.XoffLim = 100;
    dcb.XonChar = 0x11;
    dcb.XoffChar = 0x13;
    if (m_api.SetCommState(m_hComm, &dcb)) {
        return true;
    }
    const DWORD err = m_api.GetLastError();
    return Fail(PortFailureKind::Other,
                "The driver of " + name + " refused " + std::to_string(config.nBaudRate) +
                    " baud, " + std::to_string(config.nDataBits) +
                    " data bits and that parity and stop bits: " + SystemText(err) + ".",
                "Choose settings the adapter supports.");
}

// The receive queue is the small one.
bool Win32PortDevice::SetQueues(const std::string& name) {
    if (!m_api.SetupComm(m_hComm, kReceiveQueueSize, kTransmitQueueSize)) {
        const DWORD err = m_api.GetLastError();
        return Fail(PortFailureKind::Other,
                    "The driver of " + name + " refused its queue sizes: " + SystemText(err) + ".",
                    "Try another port or adapter.");
    }
    if (m_ovRead.hEvent == nullptr || m_ovWrite.hEvent == nullptr) {
        return Fail(PortFailureKind::Other, "Cannot create the I/O events for " + name + ".",
                    "Close other programs and try again.");
    }
    return true;
}

bool Win32PortDevice::DrainOutput(std::chrono::milliseconds bound) {
    // FlushFileBuffers has no bound: the queue is looked at until it is empty.
    const auto deadline = std::chrono::steady_clock::now() + bound;
    for (;;) {
        if (m_hComm == INVALID_HANDLE_VALUE || m_lost.load() || m_interrupted.load()) {
            return false;
        }
        DWORD errors = 0;
        COMSTAT stat{};
        if (!m_api.ClearCommError(m_hComm, &errors, &stat)) {
            NoteError(m_api.GetLastError());
            return false;
        }
        if (stat.cbOutQue == 0) {
            m_drained = true;
            return true;
        }
        if (std::chrono::steady_clock::now() >= deadline) {
            return false;
        }
        // Interrupt() ends the wait at once.
        ::WaitForSingleObject(m_hInterrupt, 2);
    }
}

bool Win32PortDevice::Close() {
    if (m_hComm == INVALID_HANDLE_VALUE) {
        return true;
    }
    bool ok = true;
    // What is still queued for a held line, or for a job that was cancelled
    // or failed, is dropped: the driver would otherwise drain it at close.
    // A finished job drained its output first.
    if (!m_lost.load() && !m_drained) {
        m_api.PurgeComm(m_hComm, PURGE_TXABORT | PURGE_TXCLEAR);
    }
    // Hand the line back as we found it. A lost device cannot take settings.
    if (m_savedValid && !m_lost.load()) {
        DCB saved = m_saved;
        if (!m_api.SetCommState(m_hComm, &saved)) {
            const DWORD err = m_api.GetLastError();
            if (!IsDeviceGoneError(err)) {
                ok = false;
                m_error = "Cannot restore the line settings of " + ShortName(m_device) + ": " +
                          SystemText(err) + ".";
            }
        }
    }
    ReleaseAll();
    return ok;
}

void Win32PortDevice::NoteError(DWORD error) {
    if (IsDeviceGoneError(error)) {
        m_lost.store(true);
        return;
    }
    if (error == ERROR_OPERATION_ABORTED) {
        // Either the device went away, or the driver aborts I/O after a line
        // error (the device's abort-on-error flag): the status query clears
        // that condition, and fails only when the device is gone.
        DWORD errors = 0;
        COMSTAT stat{};
        if (!m_api.ClearCommError(m_hComm, &errors, &stat) &&
            IsDeviceGoneError(m_api.GetLastError())) {
            m_lost.store(true);
        }
    }
}

// Finishes a read or write that the call `started`. Only a call that reports
// ERROR_IO_PENDING is waited for: a call that returned TRUE has put its count
// in `done`, and its record's event may never be signalled (Wine leaves the
// record of a synchronous transfer of 0 bytes pending).
Win32PortDevice::Io Win32PortDevice::Complete(BOOL started, OVERLAPPED& record, DWORD& done) {
    if (started) {
        return Io::Done;
    }
    const DWORD err = m_api.GetLastError();
    if (err != ERROR_IO_PENDING) {
        NoteError(err);
        done = 0;
        return Io::Failed;
    }
    if (m_api.WaitForSingleObject(record.hEvent, kPendingWaitMs) != WAIT_OBJECT_0) {
        // The driver did not finish in time. Withdraw the request and make
        // sure it has let go of the record before it is used again.
        m_api.CancelIoEx(m_hComm, &record);
        if (m_api.WaitForSingleObject(record.hEvent, kPendingWaitMs) != WAIT_OBJECT_0) {
            // A driver that holds on to a cancelled request is unusable.
            m_lost.store(true);
            done = 0;
            return Io::Failed;
        }
    }
    if (!m_api.GetOverlappedResult(m_hComm, &record, &done, FALSE)) {
        NoteError(m_api.GetLastError());
        done = 0;
        return Io::Failed;
    }
    return Io::Done;
}

std::uint32_t Win32PortDevice::BytesWaiting() {
    if (m_hComm == INVALID_HANDLE_VALUE) {
        return 0;
    }
    DWORD errors = 0;
    COMSTAT stat{};
    // Also clears line errors (framing, overrun, parity, break).
    if (!m_api.ClearCommError(m_hComm, &errors, &stat)) {
        NoteError(m_api.GetLastError());
        return 0;
    }
    return stat.cbInQue;
}

int Win32PortDevice::Read(std::uint8_t* buffer, int maxCount) {
    if (m_hComm == INVALID_HANDLE_VALUE || maxCount <= 0 || m_lost.load()) {
        return 0;
    }
    const std::uint32_t queued = BytesWaiting();
    if (queued == 0) {
        return 0;
    }
    const DWORD want = std::min<DWORD>(
        {queued, static_cast<DWORD>(maxCount), static_cast<DWORD>(sizeof m_readBuffer)});
    DWORD done = 0;
    const BOOL started = m_api.ReadFile(m_hComm, m_readBuffer, want, &done, &m_ovRead);
    if (Complete(started, m_ovRead, done) != Io::Done) {
        return 0;
    }
    done = std::min(done, want);
    std::memcpy(buffer, m_readBuffer, done);
    return static_cast<int>(done);
}

void Win32PortDevice::WriteByte(std::uint8_t byte) {
    // After Interrupt() the job is ending: a byte that could hold it for the
    // whole write time-out is not written.
    if (m_hComm == INVALID_HANDLE_VALUE || m_lost.load() || m_interrupted.load()) {
        return;
    }
    m_writeByte = byte;
    DWORD done = 0;
    const BOOL started = m_api.WriteFile(m_hComm, &m_writeByte, 1, &done, &m_ovWrite);
    // A write time-out (flow control) completes with 0 bytes: the byte is dropped.
    Complete(started, m_ovWrite, done);
}

// A held line (CTS, DSR, RLSD or XOFF) or a full transmit queue would keep
// the write waiting for its time-out: the byte is not offered then.
WriteResult Win32PortDevice::TryWriteByte(std::uint8_t byte) {
    if (m_hComm == INVALID_HANDLE_VALUE || m_lost.load()) {
        return WriteResult::Failed;
    }
    DWORD errors = 0;
    COMSTAT stat{};
    if (!m_api.ClearCommError(m_hComm, &errors, &stat)) {
        NoteError(m_api.GetLastError());
        return WriteResult::Failed;
    }
    if (stat.fCtsHold || stat.fDsrHold || stat.fRlsdHold || stat.fXoffHold ||
        stat.cbOutQue >= kTransmitQueueSize) {
        return WriteResult::Full;
    }
    WriteByte(byte);
    return WriteResult::Written;
}

bool Win32PortDevice::WaitReadable(std::chrono::milliseconds bound) {
    if (m_hComm == INVALID_HANDLE_VALUE) {
        return false;
    }
    const auto deadline = std::chrono::steady_clock::now() + bound;
    DWORD slice = kFirstSliceMs;
    for (;;) {
        if (BytesWaiting() > 0) {
            return true;
        }
        if (m_lost.load() || m_interrupted.load()) {
            return false;
        }
        const auto now = std::chrono::steady_clock::now();
        if (now >= deadline) {
            return false;
        }
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - now).count();
        const DWORD wait = static_cast<DWORD>(std::min<long long>(slice, left));
        if (::WaitForSingleObject(m_hInterrupt, wait) == WAIT_OBJECT_0) {
            return false;
        }
        slice = std::min(slice * 2, kLongestSliceMs);
    }
}

void Win32PortDevice::Interrupt() {
    m_interrupted.store(true);
    if (m_hInterrupt != nullptr) {
        ::SetEvent(m_hInterrupt);
    }
}

}  // namespace velmora
