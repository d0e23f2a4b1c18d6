// Who else holds a serial port: processes with the device open, found through
// /proc as fuser finds them, and the UUCP lock files (/run/lock/LCK..ttyUSB0)
// that terminal programs make while they use a port.
#pragma once

#include <optional>
#include <string>

namespace velmora {

struct PortHolder {
    int pid = 0;
    std::string program;  // the process's command name, empty when unknown
};

// Where terminal programs keep their UUCP lock files.
inline constexpr const char* kUucpLockDir = "/run/lock";

// The first process other than this one that has `device` open, if any.
// Processes whose open files this user may not see are not found.
std::optional<PortHolder> FindOtherHolder(const std::string& device);

// The command name of a process ("screen"), empty when it is gone or hidden.
std::string ProgramOfProcess(int pid);

// "LCK..ttyUSB0" for /dev/ttyUSB0 and for every link to it (a by-id path);
// "LCK..pts_3" for /dev/pts/3.
std::string UucpLockName(const std::string& device);

// A UUCP lock file in the HDB format: the owner's pid as ten ASCII digits and
// a newline. A lock whose process has died is stale and taken over.
class UucpLock {
public:
    explicit UucpLock(std::string directory = kUucpLockDir) : m_directory(std::move(directory)) {}
    ~UucpLock() { Release(); }
    UucpLock(const UucpLock&) = delete;
    UucpLock& operator=(const UucpLock&) = delete;

    enum class Result {
        Taken,        // the lock file is ours until Release()
        Held,         // a live process holds it: see `holder`
        Unavailable,  // no lock can be made here (no such folder, no right to write)
    };
    Result Take(const std::string& device, PortHolder& holder);
    // Removes the lock file, if this object made it.
    void Release();

private:
    bool Link(const std::string& lockPath);

    std::string m_directory;
    std::string m_path;
};

}  // namespace velmora
