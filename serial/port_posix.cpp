#include "serial/port_posix.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

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

std::unique_ptr<IPortDevice> CreatePlatformPortDevice() {
    return std::make_unique<PosixPortDevice>();
}

PosixPortDevice::PosixPortDevice(PosixSysCalls& sys) : m_sys(sys) {
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

bool PosixPortDevice::Fail(const std::string& message) {
    m_error = message;
    if (m_fd >= 0) {
        m_sys.Close(m_fd);
        m_fd = -1;
    }
    return false;
}

bool PosixPortDevice::Open(const std::string& device, const LineConfig& config) {
    if (m_fd >= 0) {
        m_error = "The port " + m_device + " is already open.";
        return false;
    }
    m_device = device;
    m_error.clear();
    m_lost.store(false);
    m_interrupted.store(false);
    // Drain stale wake-ups from an earlier job.
    if (m_wake[0] >= 0) {
        char sink[64];
        while (::read(m_wake[0], sink, sizeof sink) > 0) {
        }
    }

    // Non-blocking, so that neither the open (carrier detect) nor any later
    // write can hang; the waits below are bounded with poll().
    do {
        m_fd = m_sys.Open(device.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    } while (m_fd < 0 && errno == EINTR);
    if (m_fd < 0) {
        const int err = errno;
        std::string hint;
        if (err == EACCES) {
            hint = " Add your user to the dialout group (then log in again), or run as root.";
        } else if (err == ENOENT) {
            hint = " Check that the adapter is plugged in, or set VELMORA_COM<n> to its device.";
        }
        m_error = "Cannot open " + device + ": " + ErrnoText(err) + "." + hint;
        m_fd = -1;
        return false;
    }

    // Exclusive use: TIOCEXCL keeps other openers out (root excepted), the lock
    // keeps out every cooperating program, root included, and a second object
    // of this process.
    if (m_sys.Ioctl(m_fd, TIOCEXCL, nullptr) != 0 && errno != ENOTTY && errno != EINVAL) {
        return Fail("Cannot get exclusive use of " + device + ": " + ErrnoText(errno) + ".");
    }
    int rc = 0;
    do {
        rc = m_sys.Flock(m_fd, LOCK_EX | LOCK_NB);
    } while (rc != 0 && errno == EINTR);
    if (rc != 0) {
        const int err = errno;
        if (err == EWOULDBLOCK) {
            return Fail(device + " is in use by another program. Close it and try again.");
        }
        return Fail("Cannot lock " + device + ": " + ErrnoText(err) + ".");
    }

    if (!ReadLineSettings(m_sys, m_fd, m_saved)) {
        const int err = errno;
        if (err == ENOTTY || err == EINVAL) {
            return Fail(device + " is not a serial port.");
        }
        return Fail("Cannot read the line settings of " + device + ": " + ErrnoText(err) + ".");
    }
    SavedLineSettings wanted;
    std::string composeError;
    if (!ComposeLineSettings(m_saved, config, wanted, composeError)) {
        return Fail(composeError);
    }
    if (!WriteLineSettings(m_sys, m_fd, wanted)) {
        const int err = errno;
        return Fail("The driver of " + device + " refused the line settings: " + ErrnoText(err) +
                    ".");
    }
    // The kernel takes what it can and says nothing: read back and check.
    SavedLineSettings actual;
    if (ReadLineSettings(m_sys, m_fd, actual)) {
        const LineReadback got = DescribeLineSettings(actual);
        const double wantBaud = config.nBaudRate;
        const double diff = (got.nBaudRate > config.nBaudRate) ? got.nBaudRate - wantBaud
                                                               : wantBaud - got.nBaudRate;
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
        if (!mismatch.empty()) {
            WriteLineSettings(m_sys, m_fd, m_saved);
            return Fail("The driver of " + device + " cannot use " + mismatch + ".");
        }
    }
    // Bytes that arrived before the port was ours do not belong to this job.
    FlushLine(m_sys, m_fd);
    return true;
}

bool PosixPortDevice::Close() {
    if (m_fd < 0) {
        return true;
    }
    bool ok = true;
    std::string error;
    // Hand the line back as we found it. A lost device cannot take settings.
    if (m_saved.valid && !m_lost.load() && !WriteLineSettings(m_sys, m_fd, m_saved)) {
        if (!IsDeviceGone(errno)) {
            ok = false;
            error =
                "Cannot restore the line settings of " + m_device + ": " + ErrnoText(errno) + ".";
        }
    }
    m_sys.Ioctl(m_fd, TIOCNXCL, nullptr);
    if (m_sys.Close(m_fd) != 0 && errno != EINTR && !IsDeviceGone(errno)) {
        ok = false;
        error = "Closing " + m_device + " failed: " + ErrnoText(errno) + ".";
    }
    m_fd = -1;
    m_saved.valid = false;
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
    if (m_fd < 0 || m_lost.load()) {
        return;
    }
    const auto deadline =
        std::chrono::steady_clock::now() + kWriteTimeoutPerByte + kWriteTimeoutConstant;
    for (;;) {
        const ssize_t n = m_sys.Write(m_fd, &byte, 1);
        if (n == 1) {
            return;
        }
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n == 0 || errno == EAGAIN || errno == EWOULDBLOCK) {
            // The driver's queue is full or the line is held by flow control.
            if (WaitFor(POLLOUT, deadline) != WaitResult::Ready) {
                return;  // time-out, lost or interrupted: the byte is dropped
            }
            continue;
        }
        NoteError(errno);
        return;
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
