#include "serial/port_holders_linux.h"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <memory>

namespace velmora {

namespace {

struct DirCloser {
    void operator()(DIR* d) const { ::closedir(d); }
};
using DirHandle = std::unique_ptr<DIR, DirCloser>;

bool IsNumber(const char* text) {
    if (*text == '\0') {
        return false;
    }
    for (; *text != '\0'; ++text) {
        if (*text < '0' || *text > '9') {
            return false;
        }
    }
    return true;
}

enum class Look { NotHeld, Held, Unchecked };

Look ProcessHoldsDevice(const std::string& pidDir, dev_t device) {
    const std::string fdDir = pidDir + "/fd";
    DirHandle fds(::opendir(fdDir.c_str()));
    if (!fds) {
        // Gone in the meantime, or not ours to look at.
        return errno == ENOENT || errno == ESRCH ? Look::NotHeld : Look::Unchecked;
    }
    while (const dirent* entry = ::readdir(fds.get())) {
        if (!IsNumber(entry->d_name)) {
            continue;
        }
        struct stat target {};
        // stat() follows the fd's link to the open file itself.
        if (::stat((fdDir + "/" + entry->d_name).c_str(), &target) == 0 &&
            S_ISCHR(target.st_mode) && target.st_rdev == device) {
            return Look::Held;
        }
    }
    return Look::NotHeld;
}

// What a lock file says about its owner: a pid; 0 when it cannot be told
// (not a plain file, unreadable, or neither format); -1 when it is gone.
int LockOwner(const std::string& path) {
    // Never through a link, and never blocking on a pipe planted there.
    const int fd = ::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        return errno == ENOENT ? -1 : 0;
    }
    struct stat info {};
    char text[32] = {};
    ssize_t length = -1;
    if (::fstat(fd, &info) == 0 && S_ISREG(info.st_mode)) {
        length = ::read(fd, text, sizeof text - 1);
    }
    ::close(fd);
    if (length <= 0) {
        return 0;
    }
    // ASCII: blanks, digits, then blanks or a newline. Four bytes that are not
    // that are the binary format; no pid is large enough to look like digits.
    char* end = nullptr;
    errno = 0;
    const long ascii = std::strtol(text, &end, 10);
    const bool digits = end != text && errno == 0 &&
                        std::strspn(end, " \n") == static_cast<std::size_t>(text + length - end);
    long pid = digits ? ascii : 0;
    if (!digits && length == 4) {
        std::int32_t binary = 0;
        std::memcpy(&binary, text, sizeof binary);
        pid = binary;
    }
    return pid > 0 && pid <= 0x3FFFFFFF ? static_cast<int>(pid) : 0;
}

// Alive, or not ours to signal (EPERM): either way not stale.
bool ProcessAlive(int pid) {
    return ::kill(pid, 0) == 0 || errno != ESRCH;
}

}  // namespace

std::string ProgramOfProcess(int pid) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/comm");
    std::string name;
    std::getline(in, name);
    return name;
}

HolderScan FindOtherHolder(const std::string& device, const std::string& procRoot) {
    HolderScan scan;
    struct stat node {};
    if (::stat(device.c_str(), &node) != 0 || !S_ISCHR(node.st_mode)) {
        return scan;
    }
    DirHandle proc(::opendir(procRoot.c_str()));
    if (!proc) {
        scan.complete = false;
        return scan;
    }
    const std::string self = std::to_string(::getpid());
    while (const dirent* entry = ::readdir(proc.get())) {
        if (!IsNumber(entry->d_name) || self == entry->d_name) {
            continue;
        }
        const Look look = ProcessHoldsDevice(procRoot + "/" + entry->d_name, node.st_rdev);
        if (look == Look::Held) {
            const int pid = std::atoi(entry->d_name);
            scan.holder = PortHolder{pid, ProgramOfProcess(pid)};
            return scan;
        }
        scan.complete = scan.complete && look == Look::NotHeld;
    }
    return scan;
}

std::string UncheckedHoldersHint(const std::string& device) {
    return "Another program may hold " + device + "; `sudo fuser -v " + device + "` shows it.";
}

std::string UucpLockName(const std::string& device) {
    std::string name = device;
    if (char* real = ::realpath(device.c_str(), nullptr)) {
        name = real;
        std::free(real);
    }
    if (name.rfind("/dev/", 0) == 0) {
        name.erase(0, 5);
    }
    for (char& c : name) {
        if (c == '/') {
            c = '_';
        }
    }
    return "LCK.." + name;
}

bool UucpLock::Link(const std::string& lockPath) {
    // Written in full under a name of our own first, then linked into place,
    // so that nobody ever reads a half-written lock.
    static std::atomic<unsigned> serial{0};
    const std::string temporary = m_directory + "/LTMP." + std::to_string(::getpid()) + "." +
                                  std::to_string(serial.fetch_add(1));
    // The folder is everyone's: a name planted there (a link to some file
    // of ours) is never opened, only removed, which does not follow it.
    const int flags = O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC;
    int fd = ::open(temporary.c_str(), flags, 0644);
    if (fd < 0 && errno == EEXIST && ::unlink(temporary.c_str()) == 0) {
        fd = ::open(temporary.c_str(), flags, 0644);
    }
    if (fd < 0) {
        return false;
    }
    char text[16];
    const int length = std::snprintf(text, sizeof text, "%10d\n", static_cast<int>(::getpid()));
    const bool written = ::write(fd, text, static_cast<size_t>(length)) == length;
    ::close(fd);
    const bool linked = written && ::link(temporary.c_str(), lockPath.c_str()) == 0;
    const int err = errno;
    ::unlink(temporary.c_str());
    errno = linked ? 0 : (written ? err : EIO);
    return linked;
}

UucpLock::Result UucpLock::Take(const std::string& device, PortHolder& holder) {
    Release();
    m_path = m_directory + "/" + UucpLockName(device);
    for (int attempt = 0; attempt < 2; ++attempt) {
        if (Link(m_path)) {
            m_taken = true;
            return Result::Taken;
        }
        if (errno != EEXIST) {
            return Result::Unavailable;
        }
        const int owner = LockOwner(m_path);
        if (owner < 0) {
            continue;  // removed by its owner just now
        }
        if (owner == 0 || ProcessAlive(owner)) {
            // A live owner's lock, or one whose owner cannot be told: honoured.
            holder = owner == 0 ? PortHolder{} : PortHolder{owner, ProgramOfProcess(owner)};
            return Result::Held;
        }
        // Its owner has died: the lock is stale.
        ::unlink(m_path.c_str());
    }
    return Result::Unavailable;
}

void UucpLock::Release() {
    // Only while the file is still the one we made: a lock that someone
    // replaced (after taking ours as stale) is theirs.
    if (m_taken && LockOwner(m_path) == static_cast<int>(::getpid())) {
        ::unlink(m_path.c_str());
    }
    m_taken = false;
}

}  // namespace velmora
