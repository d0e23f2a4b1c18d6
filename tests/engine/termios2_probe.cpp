#include "tests/engine/termios2_probe.h"

#include <asm/ioctls.h>
#include <asm/termbits.h>

#include <cstring>

extern "C" int ioctl(int fd, unsigned long request, ...) noexcept;

namespace velmora::test {

std::uint32_t OutputSpeedOf(int fd) {
    termios2 tio{};
    if (ioctl(fd, TCGETS2, &tio) != 0) {
        return 0;
    }
    return tio.c_ospeed;
}

int UartLikeSysCalls::Ioctl(int fd, unsigned long request, void* argument) {
    if (request == TCSETS2) {
        std::memcpy(m_saved, argument, sizeof(termios2));
        m_has = true;
        return PosixSysCalls::Ioctl(fd, request, argument);
    }
    if (request == TCGETS2 && m_has) {
        std::memcpy(argument, m_saved, sizeof(termios2));
        return 0;
    }
    return PosixSysCalls::Ioctl(fd, request, argument);
}

std::uint32_t UartLikeSysCalls::Cflag() const {
    termios2 tio{};
    std::memcpy(&tio, m_saved, sizeof tio);
    return tio.c_cflag;
}

std::uint32_t UartLikeSysCalls::Speed() const {
    termios2 tio{};
    std::memcpy(&tio, m_saved, sizeof tio);
    return tio.c_ospeed;
}

std::uint32_t UartLikeSysCalls::Cs5() {
    return CS5;
}
std::uint32_t UartLikeSysCalls::Cs6() {
    return CS6;
}
std::uint32_t UartLikeSysCalls::Cs7() {
    return CS7;
}
std::uint32_t UartLikeSysCalls::Cs8() {
    return CS8;
}
std::uint32_t UartLikeSysCalls::CsizeMask() {
    return CSIZE;
}
std::uint32_t UartLikeSysCalls::Parenb() {
    return PARENB;
}
std::uint32_t UartLikeSysCalls::Parodd() {
    return PARODD;
}
std::uint32_t UartLikeSysCalls::Cstopb() {
    return CSTOPB;
}

}  // namespace velmora::test
