#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "job/InputFile.h"

namespace velmora {

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
