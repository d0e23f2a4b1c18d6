// The POSIX port layer: a tty (or a pty) opened exclusively in raw binary mode.
#pragma once

#include <atomic>
#include <chrono>
#include <string>

#include "serial/PortDevice.h"
#include "serial/port_holders_linux.h"
#include "serial/posix_sys.h"
#include "serial/termios_linux.h"

namespace velmora {

class PosixPortDevice final : public IPortDevice {
public:
    // `lockDir` is where UUCP lock files are made and looked for, `procRoot`
    // where the processes that may hold the port are looked for.
    explicit PosixPortDevice(PosixSysCalls& sys = RealSysCalls(),
                             std::string lockDir = kUucpLockDir, std::string procRoot = kProcRoot);
    ~PosixPortDevice() override;

    PosixPortDevice(const PosixPortDevice&) = delete;
    PosixPortDevice& operator=(const PosixPortDevice&) = delete;

    bool Open(const std::string& device, const LineConfig& config) override;
    bool Close() override;
    std::uint32_t BytesWaiting() override;
    int Read(std::uint8_t* buffer, int maxCount) override;
    void WriteByte(std::uint8_t byte) override;
    WriteResult TryWriteByte(std::uint8_t byte) override;
    bool WaitReadable(std::chrono::milliseconds bound) override;
    bool DrainOutput(std::chrono::milliseconds bound) override;
    void Interrupt() override;
    bool IsLost() const override { return m_lost.load(std::memory_order_relaxed); }
    const std::string& ErrorText() const override { return m_error; }
    PortOpenFailure OpenFailure() const override { return m_failure; }
    std::string HolderHint() const override { return m_holderHint; }

    int NativeHandle() const { return m_fd; }

private:
    enum class WaitResult { Ready, TimedOut, Interrupted, Lost };
    WaitResult WaitFor(short events, std::chrono::steady_clock::time_point deadline);
    void NoteError(int err);
    bool Fail(PortFailureKind kind, const std::string& reason, const std::string& remedy = {},
              const PortHolder& holder = {});
    bool FailBusy(const PortHolder& holder);
    bool FailBusy(const HolderScan& scan);

    // The steps of Open, in order.
    void ResetForOpen(const std::string& device);
    bool CheckNode();
    bool TakeLock();
    bool OpenNode();
    bool SaveFoundSettings();
    bool ClaimExclusive();
    bool ConfigureLine(const LineConfig& config);
    bool CheckSettingsTaken(const LineConfig& config);
    void EnableLowLatency();

    PosixSysCalls& m_sys;
    int m_fd = -1;
    int m_wake[2] = {-1, -1};  // self-pipe that Interrupt() writes to
    std::atomic<bool> m_interrupted{false};
    std::atomic<bool> m_lost{false};
    SavedLineSettings m_saved;
    bool m_lowLatencySet = false;  // we set the flag at Open and clear it at Close
    bool m_drained = false;        // the output queue emptied: Close keeps what is in flight
    UucpLock m_lock;
    std::string m_procRoot;
    std::string m_holderHint;  // set at Open when some processes could not be looked at
    std::string m_device;
    std::string m_error;
    PortOpenFailure m_failure;
};

}  // namespace velmora
