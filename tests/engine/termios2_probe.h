// Test helpers that need the kernel's termios2 record, kept apart from
// <termios.h>, whose struct clashes with it.
#pragma once

#include <cstdint>

#include "serial/posix_sys.h"

namespace velmora::test {

// The output speed of a tty, also for rates that have no Bxxxx constant.
std::uint32_t OutputSpeedOf(int fd);

// A pty plays the device, but line settings behave as on a real UART: the
// kernel's pty driver forces 8 data bits without parity, so the settings
// written are kept here and read back as written.
class UartLikeSysCalls final : public PosixSysCalls {
public:
    int Ioctl(int fd, unsigned long request, void* argument) override;
    bool HasSettings() const { return m_has; }
    std::uint32_t Cflag() const;
    std::uint32_t Speed() const;

    // c_cflag bits, for assertions without <termios.h>.
    static std::uint32_t Cs5();
    static std::uint32_t Cs6();
    static std::uint32_t Cs7();
    static std::uint32_t Cs8();
    static std::uint32_t CsizeMask();
    static std::uint32_t Parenb();
    static std::uint32_t Parodd();
    static std::uint32_t Cstopb();

private:
    alignas(8) unsigned char m_saved[64] = {};
    bool m_has = false;
};

}  // namespace velmora::test
