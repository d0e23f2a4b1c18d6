#include "serial/port_holders_linux.h"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
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

bool ProcessHoldsDevice(const std::string& pidDir, dev_t device) {
    const std::string fdDir = pidDir + "/fd";
    DirHandle fds(::opendir(fdDir.c_str()));
    if (!fds) {
        return false;  // gone, or not ours to look at
    }
    while (const dirent* entry = ::readdir(fds.get())) {
        if (!IsNumber(entry->d_name)) {
            continue;
        }
        struct stat target {};
        // stat() follows the fd's link to the open file itself.
        if (::stat((fdDir + "/" + entry->d_name).c_str(), &target) == 0 &&
            S_ISCHR(target.st_mode) && target.st_rdev == device) {
            return true;
        }
    }
    return false;
}

// The pid in a lock file: ASCII digits, possibly padded with blanks. 0 when
// the file holds none.
int LockOwner(const std::string& path) {
    std::ifstream in(path);
    long pid = 0;
    if (!(in >> pid) || pid <= 0 || pid > 0x3FFFFFFF) {
        return 0;
    }
    return static_cast<int>(pid);
}

bool ProcessAlive(int pid) {
    return ::kill(pid, 0) == 0 || errno == EPERM;
}

}  // namespace

std::string ProgramOfProcess(int pid) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/comm");
    std::string name;
    std::getline(in, name);
    return name;
}

std::optional<PortHolder> FindOtherHolder(const std::string& device) {
    struct stat node {};
    if (::stat(device.c_str(), &node) != 0 || !S_ISCHR(node.st_mode)) {
        return std::nullopt;
    }
    DirHandle proc(::opendir("/proc"));
    if (!proc) {
        return std::nullopt;
    }
    const std::string self = std::to_string(::getpid());
    while (const dirent* entry = ::readdir(proc.get())) {
        if (!IsNumber(entry->d_name) || self == entry->d_name) {
            continue;
        }
        if (ProcessHoldsDevice(std::string("/proc/") + entry->d_name, node.st_rdev)) {
            const int pid = std::atoi(entry->d_name);
            return PortHolder{pid, ProgramOfProcess(pid)};
        }
    }
    return std::nullopt;
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
    const int fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
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
    const std::string lockPath = m_directory + "/" + UucpLockName(device);
    for (int attempt = 0; attempt < 2; ++attempt) {
        if (Link(lockPath)) {
            m_path = lockPath;
            return Result::Taken;
        }
        if (errno != EEXIST) {
            return Result::Unavailable;
        }
        const int owner = LockOwner(lockPath);
        if (owner != 0 && ProcessAlive(owner)) {
            holder = PortHolder{owner, ProgramOfProcess(owner)};
            return Result::Held;
        }
        // Its owner has died (or it names nobody): the lock is stale.
        ::unlink(lockPath.c_str());
    }
    return Result::Unavailable;
}

void UucpLock::Release() {
    if (!m_path.empty()) {
        ::unlink(m_path.c_str());
        m_path.clear();
    }
}

}  // namespace velmora
