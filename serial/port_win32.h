// The Win32 port layer: a COM port opened exclusively as an ordinary
// synchronous handle, driven through the Windows serial-communications calls.
#pragma once

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

#include <atomic>
#include <chrono>
#include <string>

#include "serial/PortDevice.h"

namespace velmora {

// A seam around the Windows calls the port layer makes, so that tests can
// inspect what the driver is given and inject pending I/O and device errors.
// The defaults call Windows.
class Win32CommApi {
public:
    virtual ~Win32CommApi() = default;
    virtual HANDLE CreateFileA(LPCSTR name, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES sa,
                               DWORD disposition, DWORD flags, HANDLE templateFile);
    virtual BOOL CloseHandle(HANDLE handle);
    virtual HANDLE CreateEventA(LPSECURITY_ATTRIBUTES sa, BOOL manualReset, BOOL initialState,
                                LPCSTR name);
    virtual BOOL GetCommState(HANDLE comm, LPDCB dcb);
    virtual BOOL SetCommState(HANDLE comm, LPDCB dcb);
    virtual BOOL SetCommTimeouts(HANDLE comm, LPCOMMTIMEOUTS timeouts);
    virtual BOOL SetupComm(HANDLE comm, DWORD inQueue, DWORD outQueue);
    virtual BOOL ClearCommError(HANDLE comm, LPDWORD errors, LPCOMSTAT stat);
    virtual BOOL ReadFile(HANDLE file, LPVOID buffer, DWORD count, LPDWORD done,
                          LPOVERLAPPED overlapped);
    virtual BOOL WriteFile(HANDLE file, LPCVOID data, DWORD count, LPDWORD done,
                           LPOVERLAPPED overlapped);
    virtual BOOL GetOverlappedResult(HANDLE file, LPOVERLAPPED overlapped, LPDWORD done, BOOL wait);
    virtual BOOL CancelIoEx(HANDLE file, LPOVERLAPPED overlapped);
    virtual BOOL PurgeComm(HANDLE comm, DWORD flags);
    // Waits on the event of an I/O record.
    virtual DWORD WaitForSingleObject(HANDLE handle, DWORD milliseconds);
    virtual DWORD GetLastError();
};

// The real calls.
Win32CommApi& RealCommApi();

// The queue sizes recommended to the driver: the receive queue is the small one.
inline constexpr DWORD kReceiveQueueSize = 16;
inline constexpr DWORD kTransmitQueueSize = 4096;
// How long a read or write that the driver reports as pending may take.
inline constexpr DWORD kPendingWaitMs = 5000;

// True for the errors with which Windows (and Wine) fail every call on a port
// whose device has gone: adapter unplugged, driver removed, pty hung up.
bool IsDeviceGoneError(DWORD error);

class Win32PortDevice final : public IPortDevice {
public:
    explicit Win32PortDevice(Win32CommApi& api = RealCommApi());
    ~Win32PortDevice() override;

    Win32PortDevice(const Win32PortDevice&) = delete;
    Win32PortDevice& operator=(const Win32PortDevice&) = delete;

    bool Open(const std::string& device, const LineConfig& config) override;
    bool Close() override;
    std::uint32_t BytesWaiting() override;
    int Read(std::uint8_t* buffer, int maxCount) override;
    void WriteByte(std::uint8_t byte) override;
    WriteResult TryWriteByte(std::uint8_t byte) override;
    bool WaitReadable(std::chrono::milliseconds bound) override;
    bool DrainOutput(std::chrono::milliseconds bound) override;
    void Interrupt() override;
    bool IsLost() const override { return m_lost.load(); }
    const std::string& ErrorText() const override { return m_error; }
    PortOpenFailure OpenFailure() const override { return m_failure; }

    HANDLE NativeHandle() const { return m_hComm; }

private:
    enum class Io { Done, Failed };
    Io Complete(BOOL started, OVERLAPPED& record, DWORD& done);
    void NoteError(DWORD error);
    bool Fail(PortFailureKind kind, const std::string& reason, const std::string& remedy = {});
    void ReleaseAll();

    // The steps of Open, in order.
    bool OpenHandle(const std::string& name);
    void SetTimeoutsAndEvents();
    bool ConfigureLine(const std::string& name, const LineConfig& config);
    bool SetQueues(const std::string& name);

    Win32CommApi& m_api;
    HANDLE m_hComm = INVALID_HANDLE_VALUE;
    OVERLAPPED m_ovRead{};
    OVERLAPPED m_ovWrite{};
    // Reads and writes go through buffers of the object, so that an I/O the
    // driver finishes late can never land in a caller's stack.
    std::uint8_t m_readBuffer[kReceiveQueueSize * 16]{};
    std::uint8_t m_writeByte = 0;
    HANDLE m_hInterrupt = nullptr;  // manual-reset event that Interrupt() sets
    std::atomic<bool> m_interrupted{false};
    std::atomic<bool> m_lost{false};
    bool m_timerRaised = false;
    bool m_drained = false;  // the output queue emptied: Close keeps what is in flight
    DCB m_saved{};
    bool m_savedValid = false;
    std::string m_device;
    std::string m_error;
    PortOpenFailure m_failure;
};

}  // namespace velmora
