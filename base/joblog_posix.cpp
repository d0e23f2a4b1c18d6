#include <fcntl.h>
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

}  // namespace

bool AppendLineToFile(const std::string& path, const std::string& line, std::string& error) {
    if (!MakeParentFolders(path, error)) {
        return false;
    }
    const int fd = ::open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0) {
        error = std::strerror(errno);
        return false;
    }
    // One write in append mode: lines of jobs that end together never mix.
    const ssize_t written = ::write(fd, line.data(), line.size());
    const int writeErrno = errno;
    const bool closed = ::close(fd) == 0;
    if (written < 0) {
        error = std::strerror(writeErrno);
        return false;
    }
    if (static_cast<std::size_t>(written) != line.size() || !closed) {
        error = "the line was not written whole (is the disk full?)";
        return false;
    }
    return true;
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
