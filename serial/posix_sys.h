// A seam around the system calls the POSIX port layer makes, so that tests can
// inject EINTR, EAGAIN, short writes and device errors on a real pty.
#pragma once

#include <poll.h>
#include <sys/types.h>

namespace velmora {

class PosixSysCalls {
public:
    virtual ~PosixSysCalls() = default;
    virtual int Open(const char* path, int flags);
    virtual int Close(int fd);
    virtual ssize_t Read(int fd, void* buffer, size_t count);
    virtual ssize_t Write(int fd, const void* data, size_t count);
    virtual int Poll(pollfd* fds, nfds_t count, int timeoutMs);
    virtual int Ioctl(int fd, unsigned long request, void* argument);
    virtual int Flock(int fd, int operation);
};

// The real system calls.
PosixSysCalls& RealSysCalls();

}  // namespace velmora
