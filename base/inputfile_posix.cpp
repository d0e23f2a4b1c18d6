#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "base/InputFile.h"

namespace velmora {

namespace {

FileIdentity IdentityOf(const struct stat& info) {
    FileIdentity id;
    id.device = static_cast<std::uint64_t>(info.st_dev);
    id.inode = static_cast<std::uint64_t>(info.st_ino);
    id.size = static_cast<std::uint64_t>(info.st_size);
    id.modified = static_cast<std::int64_t>(info.st_mtim.tv_sec) * 1'000'000'000 +
                  static_cast<std::int64_t>(info.st_mtim.tv_nsec);
    return id;
}

}  // namespace

bool InputFile::HandleIdentity(FileIdentity& out) const {
    struct stat info {};
    if (m_file == nullptr || ::fstat(::fileno(m_file), &info) != 0) {
        return false;
    }
    out = IdentityOf(info);
    return true;
}

bool InputFile::PathIdentity(const std::string& path, FileIdentity& out) {
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0) {
        return false;
    }
    out = IdentityOf(info);
    return true;
}

bool InputFile::Open(const std::string& path) {
    Close();
    // O_NONBLOCK: opening a FIFO without a writer, or a device, must not wait.
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) {
        m_error = std::strerror(errno);
        return false;
    }
    struct stat info {};
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        m_error = kNotRegularFile;
        ::close(fd);
        return false;
    }
    const int flags = ::fcntl(fd, F_GETFL);
    ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
    m_file = ::fdopen(fd, "rb");
    if (m_file == nullptr) {
        m_error = std::strerror(errno);
        ::close(fd);
        return false;
    }
    m_length = static_cast<std::uint64_t>(info.st_size);
    // Reads go straight to the file: the chunks and blocks are buffers
    // enough, and a file that changes under the transfer is seen at once.
    std::setvbuf(m_file, nullptr, _IONBF, 0);
    return true;
}

}  // namespace velmora
