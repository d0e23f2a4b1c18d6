#include "serial/posix_sys.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <unistd.h>

namespace velmora {

int PosixSysCalls::Open(const char* path, int flags) {
    return ::open(path, flags);
}
int PosixSysCalls::Close(int fd) {
    return ::close(fd);
}
ssize_t PosixSysCalls::Read(int fd, void* buffer, size_t count) {
    return ::read(fd, buffer, count);
}
ssize_t PosixSysCalls::Write(int fd, const void* data, size_t count) {
    return ::write(fd, data, count);
}
int PosixSysCalls::Poll(pollfd* fds, nfds_t count, int timeoutMs) {
    return ::poll(fds, count, timeoutMs);
}
int PosixSysCalls::Ioctl(int fd, unsigned long request, void* argument) {
    return ::ioctl(fd, request, argument);
}
int PosixSysCalls::Flock(int fd, int operation) {
    return ::flock(fd, operation);
}

PosixSysCalls& RealSysCalls() {
    static PosixSysCalls calls;
    return calls;
}

}  // namespace velmora
