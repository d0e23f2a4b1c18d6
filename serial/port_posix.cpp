#include "serial/port_posix.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <utility>

namespace velmora {

namespace {

std::string ErrnoText(int err) {
    return std::strerror(err);
}

bool IsDeviceGone(int err) {
    return err == EIO || err == ENXIO || err == ENODEV || err == EPIPE;
}

// How far a driver may round a baud rate before the line is unusable.
constexpr double kBaudTolerance = 0.03;

}  // namespace

std::string ResolvePortName(int portNumber) {
    const std::string variable = "VELMORA_COM" + std::to_string(portNumber);
    if (const char* value = std::getenv(variable.c_str()); value != nullptr && *value != '\0') {
        return value;
    }
    return "/dev/ttyS" + std::to_string(portNumber - 1);
}

int HighestComNumber() {
    return 8;
}

std::unique_ptr<IPortDevice> CreatePlatformPortDevice() {
    return std::make_unique<PosixPortDevice>();
}

PosixPortDevice::PosixPortDevice(PosixSysCalls& sys, std::string lockDir, std::string procRoot)
    : m_sys(sys), m_lock(std::move(lockDir)), m_procRoot(std::move(procRoot)) {
    if (::pipe2(m_wake, O_NONBLOCK | O_CLOEXEC) != 0) {
        m_wake[0] = m_wake[1] = -1;
    }
}

PosixPortDevice::~PosixPortDevice() {
    Close();
    for (int& fd : m_wake) {
        if (fd >= 0) {
            ::close(fd);
            fd = -1;
        }
    }
}

bool PosixPortDevice::Fail(PortFailureKind kind, const std::string& reason,
                           const std::string& remedy, const PortHolder& holder) {
    m_failure = {kind, reason, remedy, holder.program, holder.pid};
    m_error = m_failure.Text();
    if (m_fd >= 0) {
        // A port that another program holds stays open after our close:
        // it must not keep our exclusive mode.
        m_sys.Ioctl(m_fd, TIOCNXCL, nullptr);
        m_sys.Close(m_fd);
        m_fd = -1;
    }
    m_lock.Release();
    return false;
}

bool PosixPortDevice::FailBusy(const PortHolder& holder) {
    std::string who = "another program";
    if (holder.pid != 0) {
        who = (holder.program.empty() ? std::string("a program") : holder.program) + " (pid " +
              std::to_string(holder.pid) + ")";
    }
    return Fail(PortFailureKind::Busy, m_device + " is in use by " + who + ".",
                "Close it and try again.", holder);
}

bool PosixPortDevice::FailBusy(const HolderScan& scan) {
    if (!scan.holder && !scan.complete) {
        // Another user's program, which this user may not see.
        return Fail(PortFailureKind::Busy, m_device + " is in use by another program.",
                    "`sudo fuser -v " + m_device + "` shows which; close it and try again.");
    }
    return FailBusy(scan.holder.value_or(PortHolder{}));
}

bool PosixPortDevice::Open(const std::string& device, const LineConfig& config) {
    if (m_fd >= 0) {
        m_failure = {
            PortFailureKind::Busy, "The port " + m_device + " is already open.", {}, {}, 0};
        m_error = m_failure.Text();
        return false;
    }
    ResetForOpen(device);
    if (!CheckNode() || !TakeLock() || !OpenNode() || !SaveFoundSettings() || !ClaimExclusive() ||
        !ConfigureLine(config)) {
        return false;
    }
    EnableLowLatency();
    // Bytes that arrived before the port was ours do not belong to this job.
    FlushLine(m_sys, m_fd);
    return true;
}

void PosixPortDevice::ResetForOpen(const std::string& device) {
    m_device = device;
    m_error.clear();
    m_failure = {};
    m_lowLatencySet = false;
    m_drained = false;
    m_holderHint.clear();
    m_lost.store(false);
    m_interrupted.store(false);
    // Drain stale wake-ups from an earlier job.
    if (m_wake[0] >= 0) {
        char sink[64];
        while (::read(m_wake[0], sink, sizeof sink) > 0) {
        }
    }
}

// Terminal programs that honour UUCP locks stay away while we hold one, and
// we stay away from a port that one of them holds.
bool PosixPortDevice::TakeLock() {
    PortHolder holder;
    if (m_lock.Take(m_device, holder) == UucpLock::Result::Held) {
        if (holder.pid == 0) {
            return Fail(PortFailureKind::Busy,
                        m_device + " is locked by " + m_lock.Path() +
                            ", which does not say which program made it.",
                        "If no program uses the port, remove that file and try again.");
        }
        return FailBusy(holder);
    }
    // No lock folder, or no right to write there: go on without a lock.
    return true;
}

bool PosixPortDevice::CheckNode() {
    struct stat node {};
    if (::stat(m_device.c_str(), &node) == 0 && !S_ISCHR(node.st_mode)) {
        // A file, a folder or a pipe: opening it could block or mean nothing.
        return Fail(PortFailureKind::NotSerial, m_device + " is not a serial port.",
                    "Choose the serial adapter's device.");
    }
    // Anything else (missing, not ours to look at) is for open() to tell.
    return true;
}

bool PosixPortDevice::OpenNode() {
    // Non-blocking, so that neither the open (carrier detect) nor any later
    // write can hang; the waits below are bounded with poll().
    do {
        m_fd = m_sys.Open(m_device.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    } while (m_fd < 0 && errno == EINTR);
    if (m_fd >= 0) {
        return true;
    }
    const int err = errno;
    m_fd = -1;
    const std::string reason = "Cannot open " + m_device + ": " + ErrnoText(err) + ".";
    switch (err) {
        case EACCES:
        case EPERM:
            return Fail(PortFailureKind::Permission, reason,
                        "Add your user to the dialout group (sudo adduser $USER dialout), then "
                        "log in again.");
        case ENOENT:
        case ENODEV:
        case ENXIO:
            return Fail(
                PortFailureKind::Missing, reason,
                "Check that the adapter is plugged in, or choose one of the ports present.");
        case EBUSY:  // another program opened it for exclusive use
            return FailBusy(FindOtherHolder(m_device, m_procRoot));
        default:
            return Fail(PortFailureKind::Other, reason);
    }
}

// TIOCEXCL keeps later openers out (root excepted) and the lock keeps out
// every cooperating program, root included, and a second object of this
// process. Neither says anything about a program that had the port open
// before us, so /proc is asked too: two readers would share the receiver's
// bytes and the handshake would fail at random.
bool PosixPortDevice::ClaimExclusive() {
    if (m_sys.Ioctl(m_fd, TIOCEXCL, nullptr) != 0 && errno != ENOTTY && errno != EINVAL) {
        return Fail(PortFailureKind::Other,
                    "Cannot get exclusive use of " + m_device + ": " + ErrnoText(errno) + ".");
    }
    int rc = 0;
    do {
        rc = m_sys.Flock(m_fd, LOCK_EX | LOCK_NB);
    } while (rc != 0 && errno == EINTR);
    if (rc != 0) {
        const int err = errno;
        if (err == EWOULDBLOCK) {
            return FailBusy(FindOtherHolder(m_device, m_procRoot));
        }
        return Fail(PortFailureKind::Other,
                    "Cannot lock " + m_device + ": " + ErrnoText(err) + ".");
    }
    const HolderScan scan = FindOtherHolder(m_device, m_procRoot);
    if (scan.holder) {
        return FailBusy(*scan.holder);
    }
    // Processes of other users (a root ModemManager) could not be looked at.
    if (!scan.complete) {
        m_holderHint = UncheckedHoldersHint(m_device);
    }
    return true;
}

// The settings as found, to restore at Close. A device without them is no tty.
bool PosixPortDevice::SaveFoundSettings() {
    if (ReadLineSettings(m_sys, m_fd, m_saved)) {
        return true;
    }
    const int err = errno;
    if (err == ENOTTY || err == EINVAL) {
        return Fail(PortFailureKind::NotSerial, m_device + " is not a serial port.",
                    "Choose the serial adapter's device.");
    }
    return Fail(PortFailureKind::Other,
                "Cannot read the line settings of " + m_device + ": " + ErrnoText(err) + ".");
}

bool PosixPortDevice::ConfigureLine(const LineConfig& config) {
    SavedLineSettings wanted;
    std::string composeError;
    if (!ComposeLineSettings(m_saved, config, wanted, composeError)) {
        return Fail(PortFailureKind::Other, composeError);
    }
    if (!WriteLineSettings(m_sys, m_fd, wanted)) {
        const int err = errno;
        return Fail(
            PortFailureKind::Other,
            "The driver of " + m_device + " refused the line settings: " + ErrnoText(err) + ".");
    }
    return CheckSettingsTaken(config);
}

// The kernel takes what it can and says nothing: read back and check.
bool PosixPortDevice::CheckSettingsTaken(const LineConfig& config) {
    SavedLineSettings actual;
    if (!ReadLineSettings(m_sys, m_fd, actual)) {
        return true;
    }
    const LineReadback got = DescribeLineSettings(actual);
    const double wantBaud = config.nBaudRate;
    const double diff =
        (got.nBaudRate > config.nBaudRate) ? got.nBaudRate - wantBaud : wantBaud - got.nBaudRate;
    std::string mismatch;
    if (diff > wantBaud * kBaudTolerance) {
        mismatch = std::to_string(config.nBaudRate) + " baud (it runs at " +
                   std::to_string(got.nBaudRate) + ")";
    } else if (got.nDataBits != config.nDataBits) {
        mismatch = std::to_string(config.nDataBits) + " data bits";
    } else if (got.nParity != config.nParity) {
        mismatch = "that parity";
    } else if (got.bTwoStopBits != (config.nStopBits != 0)) {
        mismatch = "that number of stop bits";
    }
    if (mismatch.empty()) {
        return true;
    }
    WriteLineSettings(m_sys, m_fd, m_saved);
    return Fail(PortFailureKind::Other,
                "The driver of " + m_device + " cannot use " + mismatch + ".",
                "Choose settings the adapter supports.");
}

// Each acknowledgement would otherwise wait out the adapter's latency timer.
// A driver without the setting (a pty, a plain UART) is fine as it is.
void PosixPortDevice::EnableLowLatency() {
    bool wasOn = false;
    m_lowLatencySet = SetLowLatency(m_sys, m_fd, true, wasOn) && !wasOn;
}

bool PosixPortDevice::DrainOutput(std::chrono::milliseconds bound) {
    // tcdrain() has no bound: the queue is looked at until it is empty.
    const auto deadline = std::chrono::steady_clock::now() + bound;
    for (;;) {
        if (m_fd < 0 || m_lost.load() || m_interrupted.load()) {
            return false;
        }
        int queued = 0;
        if (m_sys.Ioctl(m_fd, TIOCOUTQ, &queued) != 0) {
            NoteError(errno);
            return false;
        }
        if (queued == 0) {
            m_drained = true;
            return true;
        }
        if (std::chrono::steady_clock::now() >= deadline) {
            return false;
        }
        // A short look at the wake-up pipe: Interrupt() ends the wait at once.
        pollfd wake{m_wake[0], POLLIN, 0};
        m_sys.Poll(&wake, m_wake[0] >= 0 ? 1 : 0, 2);
    }
}

bool PosixPortDevice::Close() {
    if (m_fd < 0) {
        return true;
    }
    bool ok = true;
    std::string error;
    const bool lost = m_lost.load();
    // What is still queued for a held line (XOFF, CTS low), or for a job that
    // was cancelled or failed, is dropped: closing would otherwise wait for
    // the driver's drain limit. A finished job drained its output first.
    if (!lost && !m_drained) {
        DiscardOutput(m_sys, m_fd);
    }
    // Hand the line back as we found it. A lost device cannot take settings.
    if (m_saved.valid && !lost && !WriteLineSettings(m_sys, m_fd, m_saved)) {
        if (!IsDeviceGone(errno)) {
            ok = false;
            error =
                "Cannot restore the line settings of " + m_device + ": " + ErrnoText(errno) + ".";
        }
    }
    if (m_lowLatencySet && !lost) {
        bool wasOn = false;
        SetLowLatency(m_sys, m_fd, false, wasOn);
    }
    m_sys.Ioctl(m_fd, TIOCNXCL, nullptr);
    if (m_sys.Close(m_fd) != 0 && errno != EINTR && !IsDeviceGone(errno)) {
        ok = false;
        error = "Closing " + m_device + " failed: " + ErrnoText(errno) + ".";
    }
    m_fd = -1;
    m_saved.valid = false;
    m_lowLatencySet = false;
    m_drained = false;
    m_lock.Release();
    if (!ok) {
        m_error = error;
    }
    return ok;
}

void PosixPortDevice::NoteError(int err) {
    if (IsDeviceGone(err)) {
        m_lost.store(true);
    }
}

std::uint32_t PosixPortDevice::BytesWaiting() {
    if (m_fd < 0) {
        return 0;
    }
    int queued = 0;
    if (m_sys.Ioctl(m_fd, FIONREAD, &queued) != 0) {
        NoteError(errno);
        return 0;
    }
    return queued > 0 ? static_cast<std::uint32_t>(queued) : 0U;
}

int PosixPortDevice::Read(std::uint8_t* buffer, int maxCount) {
    if (m_fd < 0 || maxCount <= 0) {
        return 0;
    }
    const std::uint32_t queued = BytesWaiting();
    if (queued == 0) {
        return 0;
    }
    const auto want =
        static_cast<size_t>(std::min<std::uint32_t>(queued, static_cast<std::uint32_t>(maxCount)));
    for (;;) {
        const ssize_t n = m_sys.Read(m_fd, buffer, want);
        if (n >= 0) {
            return static_cast<int>(n);
        }
        if (errno == EINTR) {
            continue;
        }
        NoteError(errno);
        return 0;
    }
}

PosixPortDevice::WaitResult PosixPortDevice::WaitFor(
    short events, std::chrono::steady_clock::time_point deadline) {
    for (;;) {
        if (m_interrupted.load()) {
            return WaitResult::Interrupted;
        }
        if (m_lost.load()) {
            return WaitResult::Lost;
        }
        const auto now = std::chrono::steady_clock::now();
        if (now >= deadline) {
            return WaitResult::TimedOut;
        }
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - now).count();
        pollfd fds[2] = {{m_fd, events, 0}, {m_wake[0], POLLIN, 0}};
        const nfds_t count = m_wake[0] >= 0 ? 2 : 1;
        const int rc = m_sys.Poll(fds, count, static_cast<int>(std::min<long long>(left, 60000)));
        if (rc < 0) {
            if (errno == EINTR) {
                continue;
            }
            NoteError(errno);
            return m_lost.load() ? WaitResult::Lost : WaitResult::TimedOut;
        }
        if (rc == 0) {
            continue;  // the loop head decides whether time is up
        }
        if (count == 2 && (fds[1].revents & POLLIN) != 0) {
            return WaitResult::Interrupted;
        }
        if ((fds[0].revents & (POLLHUP | POLLERR | POLLNVAL)) != 0 &&
            (fds[0].revents & events) == 0) {
            m_lost.store(true);
            return WaitResult::Lost;
        }
        if ((fds[0].revents & events) != 0) {
            return WaitResult::Ready;
        }
    }
}

void PosixPortDevice::WriteByte(std::uint8_t byte) {
    const auto deadline =
        std::chrono::steady_clock::now() + kWriteTimeoutPerByte + kWriteTimeoutConstant;
    // The driver's queue is full or the line is held by flow control: wait
    // until it can take the byte; on a time-out, loss or interrupt it is dropped.
    while (TryWriteByte(byte) == WriteResult::Full) {
        if (WaitFor(POLLOUT, deadline) != WaitResult::Ready) {
            return;
        }
    }
}

WriteResult PosixPortDevice::TryWriteByte(std::uint8_t byte) {
    if (m_fd < 0 || m_lost.load()) {
        return WriteResult::Failed;
    }
    for (;;) {
        const ssize_t n = m_sys.Write(m_fd, &byte, 1);
        if (n == 1) {
            return WriteResult::Written;
        }
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n == 0 || errno == EAGAIN || errno == EWOULDBLOCK) {
            return WriteResult::Full;
        }
        NoteError(errno);
        return WriteResult::Failed;
    }
}

bool PosixPortDevice::WaitReadable(std::chrono::milliseconds bound) {
    if (m_fd < 0) {
        return false;
    }
    if (BytesWaiting() > 0) {
        return true;
    }
    const WaitResult r = WaitFor(POLLIN, std::chrono::steady_clock::now() + bound);
    return r == WaitResult::Ready && BytesWaiting() > 0;
}

void PosixPortDevice::Interrupt() {
    m_interrupted.store(true);
    if (m_wake[1] >= 0) {
        const char one = 1;
        // A full pipe already wakes every waiter; the result does not matter.
        [[maybe_unused]] const ssize_t n = ::write(m_wake[1], &one, 1);
    }
}

}  // namespace velmora
