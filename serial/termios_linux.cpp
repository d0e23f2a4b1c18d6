#include "serial/termios_linux.h"

#include <asm/ioctls.h>
#include <asm/termbits.h>
#include <linux/serial.h>

#include <cstring>

#include "serial/posix_sys.h"

namespace velmora {

static_assert(sizeof(termios2) <= sizeof(SavedLineSettings::bytes),
              "SavedLineSettings too small for termios2");

namespace {

termios2 Unpack(const SavedLineSettings& saved) {
    termios2 tio{};
    std::memcpy(&tio, saved.bytes, sizeof tio);
    return tio;
}

tcflag_t StandardRateCode(std::uint32_t baud) {
    static const struct {
        std::uint32_t rate;
        tcflag_t code;
    } kRates[] = {{50, B50},         {75, B75},         {110, B110},       {134, B134},
                  {150, B150},       {200, B200},       {300, B300},       {600, B600},
                  {1200, B1200},     {1800, B1800},     {2400, B2400},     {4800, B4800},
                  {9600, B9600},     {19200, B19200},   {38400, B38400},   {57600, B57600},
                  {115200, B115200}, {230400, B230400}, {460800, B460800}, {921600, B921600}};
    for (const auto& r : kRates) {
        if (r.rate == baud) {
            return r.code;
        }
    }
    return BOTHER;
}

void Pack(const termios2& tio, SavedLineSettings& saved) {
    std::memset(saved.bytes, 0, sizeof saved.bytes);
    std::memcpy(saved.bytes, &tio, sizeof tio);
    saved.valid = true;
}

}  // namespace

bool ReadLineSettings(PosixSysCalls& sys, int fd, SavedLineSettings& saved) {
    termios2 tio{};
    if (sys.Ioctl(fd, TCGETS2, &tio) != 0) {
        return false;
    }
    Pack(tio, saved);
    return true;
}

bool WriteLineSettings(PosixSysCalls& sys, int fd, const SavedLineSettings& saved) {
    termios2 tio = Unpack(saved);
    return sys.Ioctl(fd, TCSETS2, &tio) == 0;
}

namespace {

// The CSIZE flag of `dataBits`; false with `error` when the line has none.
bool CharacterSize(std::uint8_t dataBits, tcflag_t& size, std::string& error) {
    switch (dataBits) {
        case 5:
            size = CS5;
            return true;
        case 6:
            size = CS6;
            return true;
        case 7:
            size = CS7;
            return true;
        case 8:
            size = CS8;
            return true;
        default:
            error = "The serial line cannot use " + std::to_string(dataBits) +
                    " data bits; choose 5, 6, 7 or 8.";
            return false;
    }
}

// Whether the stop-bits code asks for CSTOPB; false with `error` when the
// line cannot send it.
bool TwoStopBits(const LineConfig& config, bool& twoStop, std::string& error) {
    switch (config.nStopBits) {
        case 0:
            twoStop = false;
            return true;
        case 2:
            twoStop = true;
            return true;
        case 1:
            // A UART sends one and a half stop bits when it is asked for two
            // with 5-bit characters; with longer characters the line cannot.
            if (config.nDataBits != 5) {
                error = "This serial line cannot send 1.5 stop bits with " +
                        std::to_string(config.nDataBits) + " data bits; choose 1 or 2 stop bits.";
                return false;
            }
            twoStop = true;
            return true;
        default:
            error = "Unknown stop-bits code " + std::to_string(config.nStopBits) + ".";
            return false;
    }
}

// Raw binary: no translation of CR/LF, no stripping of the eighth bit, no
// break or parity marks in the data, no output processing, no echo, no
// canonical lines, no signal characters and no software flow control: a
// fresh tty has IXON on, and one 0x13 from the receiver would stop our
// output. Clearing IXON also restarts output that an earlier 0x13 stopped.
// CRTSCTS, CLOCAL, HUPCL and INPCK stay as the device had them. Reads return
// at once with what is there.
void MakeRaw(termios2& tio) {
    tio.c_iflag &= ~static_cast<tcflag_t>(IGNBRK | BRKINT | PARMRK | ISTRIP | INLCR | IGNCR |
                                          ICRNL | IUCLC | IMAXBEL | IXON | IXOFF | IXANY);
    tio.c_oflag &= ~static_cast<tcflag_t>(OPOST);
    tio.c_lflag &=
        ~static_cast<tcflag_t>(ECHO | ECHOE | ECHOK | ECHONL | ICANON | ISIG | IEXTEN | XCASE);
    tio.c_cc[VMIN] = 0;
    tio.c_cc[VTIME] = 0;
}

// Character size, parity, stop bits and rate.
void SetFrameAndRate(termios2& tio, tcflag_t size, bool twoStop, const LineConfig& config) {
    tio.c_cflag &= ~static_cast<tcflag_t>(CSIZE | PARENB | PARODD | CSTOPB | CMSPAR);
    tio.c_cflag |= size | CREAD;
    if (config.nParity == 1) {
        tio.c_cflag |= PARENB | PARODD;
    } else if (config.nParity == 2) {
        tio.c_cflag |= PARENB;
    }
    if (twoStop) {
        tio.c_cflag |= CSTOPB;
    }
    // A rate with a Bxxxx constant is set through it, for drivers and other
    // programs that only know those; any other rate goes through BOTHER. The
    // input rate follows the output rate.
    tio.c_cflag &= ~static_cast<tcflag_t>(CBAUD | (CBAUD << IBSHIFT));
    tio.c_cflag |= StandardRateCode(config.nBaudRate);
    tio.c_ispeed = config.nBaudRate;
    tio.c_ospeed = config.nBaudRate;
}

}  // namespace

bool ComposeLineSettings(const SavedLineSettings& base, const LineConfig& config,
                         SavedLineSettings& out, std::string& error) {
    tcflag_t size = 0;
    bool twoStop = false;
    if (!CharacterSize(config.nDataBits, size, error) || !TwoStopBits(config, twoStop, error)) {
        return false;
    }
    if (config.nParity > 2) {
        error = "Unknown parity code " + std::to_string(config.nParity) + ".";
        return false;
    }
    if (config.nBaudRate == 0) {
        error = "A baud rate of 0 is not usable.";
        return false;
    }
    termios2 tio = Unpack(base);
    MakeRaw(tio);
    SetFrameAndRate(tio, size, twoStop, config);
    Pack(tio, out);
    return true;
}

LineReadback DescribeLineSettings(const SavedLineSettings& settings) {
    const termios2 tio = Unpack(settings);
    LineReadback r;
    r.nBaudRate = tio.c_ospeed;
    switch (tio.c_cflag & CSIZE) {
        case CS5:
            r.nDataBits = 5;
            break;
        case CS6:
            r.nDataBits = 6;
            break;
        case CS7:
            r.nDataBits = 7;
            break;
        default:
            r.nDataBits = 8;
            break;
    }
    if ((tio.c_cflag & PARENB) != 0) {
        r.nParity = (tio.c_cflag & PARODD) != 0 ? 1 : 2;
    }
    r.bTwoStopBits = (tio.c_cflag & CSTOPB) != 0;
    r.bRaw = (tio.c_lflag & (ICANON | ECHO | ISIG | IEXTEN)) == 0 && (tio.c_oflag & OPOST) == 0 &&
             (tio.c_iflag & (ICRNL | INLCR | IGNCR | ISTRIP)) == 0;
    r.bXonXoff = (tio.c_iflag & IXON) != 0;
    r.bRtsCts = (tio.c_cflag & CRTSCTS) != 0;
    r.bLocal = (tio.c_cflag & CLOCAL) != 0;
    return r;
}

bool FlushLine(PosixSysCalls& sys, int fd) {
    // TCFLSH takes its argument by value.
    return sys.Ioctl(fd, TCFLSH, reinterpret_cast<void*>(static_cast<long>(TCIOFLUSH))) == 0;
}

bool DiscardOutput(PosixSysCalls& sys, int fd) {
    return sys.Ioctl(fd, TCFLSH, reinterpret_cast<void*>(static_cast<long>(TCOFLUSH))) == 0;
}

bool SetLowLatency(PosixSysCalls& sys, int fd, bool on, bool& wasOn) {
    serial_struct info{};
    if (sys.Ioctl(fd, TIOCGSERIAL, &info) != 0) {
        return false;
    }
    constexpr auto kLowLatency = static_cast<unsigned>(ASYNC_LOW_LATENCY);
    auto flags = static_cast<unsigned>(info.flags);
    wasOn = (flags & kLowLatency) != 0;
    if (wasOn == on) {
        return true;
    }
    flags = on ? (flags | kLowLatency) : (flags & ~kLowLatency);
    info.flags = static_cast<int>(flags);
    return sys.Ioctl(fd, TIOCSSERIAL, &info) == 0;
}

}  // namespace velmora
