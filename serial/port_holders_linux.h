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

// Where the system shows its processes.
inline constexpr const char* kProcRoot = "/proc";

struct HolderScan {
    // The first process other than this one that has the device open.
    std::optional<PortHolder> holder;
    // False when some processes' open files could not be looked at (those of
    // other users, for a user other than root): one of them may hold it.
    bool complete = true;
};

// Looks through the open files of every process under `procRoot`.
HolderScan FindOtherHolder(const std::string& device, const std::string& procRoot = kProcRoot);

// What to say when a scan was not complete: "Another program may hold
// /dev/ttyUSB0; `sudo fuser -v /dev/ttyUSB0` shows it."
std::string UncheckedHoldersHint(const std::string& device);

// The command name of a process ("screen"), empty when it is gone or hidden.
std::string ProgramOfProcess(int pid);

// "LCK..ttyUSB0" for /dev/ttyUSB0 and for every link to it (a by-id path);
// "LCK..pts_3" for /dev/pts/3.
std::string UucpLockName(const std::string& device);

// A UUCP lock file. Ours is in the HDB format: the owner's pid as ten ASCII
// digits and a newline. Others are read in that format or in the old binary
// one (the pid as a 4-byte native int). Only a lock whose owner has died is
// stale and taken over; one that cannot be read, or that is not a plain file,
// is honoured.
class UucpLock {
public:
    explicit UucpLock(std::string directory = kUucpLockDir) : m_directory(std::move(directory)) {}
    ~UucpLock() { Release(); }
    UucpLock(const UucpLock&) = delete;
    UucpLock& operator=(const UucpLock&) = delete;

    enum class Result {
        Taken,        // the lock file is ours until Release()
        Held,         // a live process holds it (see `holder`), or its owner cannot be told
                      // (holder.pid 0)
        Unavailable,  // no lock can be made here (no such folder, no right to write)
    };
    Result Take(const std::string& device, PortHolder& holder);
    // Removes the lock file, if this object made it.
    void Release();

    // The lock file's path, set by Take() whatever its result.
    const std::string& Path() const { return m_path; }

private:
    bool Link(const std::string& lockPath);

    std::string m_directory;
    std::string m_path;
    bool m_taken = false;
};

}  // namespace velmora
