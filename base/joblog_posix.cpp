#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "base/JobLog.h"

namespace velmora {

namespace {

// Creates every missing folder above the file at `path`.
bool MakeParentFolders(const std::string& path, std::string& error) {
    for (std::size_t slash = path.find('/', 1); slash != std::string::npos;
         slash = path.find('/', slash + 1)) {
        const std::string folder = path.substr(0, slash);
        if (::mkdir(folder.c_str(), 0755) != 0 && errno != EEXIST) {
            error = "the folder " + folder + " could not be made: " + std::strerror(errno);
            return false;
        }
    }
    return true;
}

// Appends `line` in one write when it can. Writers of the log take turns, so
// that the length before the write is where this line begins: a line cut
// short (a full disk) is taken back, and the next one starts on a line of
// its own.
bool AppendWhole(int fd, const std::string& line, std::string& error) {
    while (::flock(fd, LOCK_EX) != 0 && errno == EINTR) {
    }
    struct stat info {};
    const off_t before = ::fstat(fd, &info) == 0 ? info.st_size : -1;
    std::size_t done = 0;
    int writeErrno = 0;
    while (done < line.size()) {
        const ssize_t n = ::write(fd, line.data() + done, line.size() - done);
        if (n > 0) {
            done += static_cast<std::size_t>(n);
        } else if (n < 0 && errno == EINTR) {
            continue;
        } else {
            writeErrno = n < 0 ? errno : 0;
            break;
        }
    }
    if (done == line.size()) {
        return true;
    }
    const std::string why = writeErrno != 0
                                ? std::string(std::strerror(writeErrno))
                                : std::string("the line was not written whole (is the disk full?)");
    if (done == 0) {
        error = why;
        return false;
    }
    const bool takenBack = before >= 0 && ::ftruncate(fd, before) == 0;
    error = CutLineText(why, takenBack);
    return false;
}

}  // namespace

bool AppendLineToFile(const std::string& path, const std::string& line, std::string& error) {
    if (!MakeParentFolders(path, error)) {
        return false;
    }
    // Without waiting: a FIFO with no reader, or a device, must never hold a
    // job or the station. Only a plain file is written.
    const int fd = ::open(path.c_str(),
                          O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC | O_NONBLOCK | O_NOCTTY, 0644);
    if (fd < 0) {
        const int err = errno;
        struct stat info {};
        const bool plain = ::stat(path.c_str(), &info) != 0 || S_ISREG(info.st_mode);
        error = err == ENXIO && !plain ? kNotPlainLog : std::strerror(err);
        return false;
    }
    struct stat info {};
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        ::close(fd);
        error = kNotPlainLog;
        return false;
    }
    const bool whole = AppendWhole(fd, line, error);
    if (::close(fd) != 0 && whole) {
        error = std::string("the log could not be closed: ") + std::strerror(errno);
        return false;
    }
    return whole;
}

std::string DefaultJobLogPath() {
    // A relative XDG_DATA_HOME is to be ignored, as if it were not set.
    if (const char* data = std::getenv("XDG_DATA_HOME"); data != nullptr && data[0] == '/') {
        return std::string(data) + "/velmora/jobs.jsonl";
    }
    if (const char* home = std::getenv("HOME"); home != nullptr && home[0] != '\0') {
        return std::string(home) + "/.local/share/velmora/jobs.jsonl";
    }
    return {};
}

}  // namespace velmora
