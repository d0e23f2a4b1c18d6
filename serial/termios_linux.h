// Line settings of a Linux tty through the termios2 interface, which takes any
// baud rate (14400, 56000, 128000, 256000 have no Bxxxx constant). Kept apart
// from <termios.h>, whose struct clashes with the kernel's.
#pragma once

#include <cstdint>
#include <string>

#include "serial/PortDevice.h"

namespace velmora {

class PosixSysCalls;

// An opaque copy of a tty's kernel termios2 record.
struct SavedLineSettings {
    alignas(8) unsigned char bytes[64] = {};
    bool valid = false;
};

// The settings as they stand, for checking what the driver accepted.
struct LineReadback {
    std::uint32_t nBaudRate = 0;
    std::uint8_t nDataBits = 0;
    std::uint8_t nParity = 0;   // 0 none, 1 odd, 2 even
    bool bTwoStopBits = false;  // CSTOPB
    bool bRaw = false;          // no input or output processing, no echo, no signals
    bool bXonXoff = false;      // IXON
    bool bRtsCts = false;       // CRTSCTS
    bool bLocal = false;        // CLOCAL
};

bool ReadLineSettings(PosixSysCalls& sys, int fd, SavedLineSettings& saved);
bool WriteLineSettings(PosixSysCalls& sys, int fd, const SavedLineSettings& saved);

// Builds on `base` the raw binary line of `config`. Flow control, modem-line
// handling and parity checking stay as in `base`. Returns false with `error`
// when the combination cannot be expressed (1.5 stop bits with more than 5 data
// bits, data bits outside 5..8, unknown codes).
bool ComposeLineSettings(const SavedLineSettings& base, const LineConfig& config,
                         SavedLineSettings& out, std::string& error);

LineReadback DescribeLineSettings(const SavedLineSettings& settings);

// Discards whatever is queued in both directions.
bool FlushLine(PosixSysCalls& sys, int fd);
// Discards output not yet sent, so that closing never waits for a held line
// to drain (XOFF, CTS low; drivers wait up to 30 s).
bool DiscardOutput(PosixSysCalls& sys, int fd);

// Sets or clears the driver's low-latency flag (ASYNC_LOW_LATENCY): USB
// serial adapters then pass received bytes on at once instead of holding
// them for their latency timer (often 16 ms). `wasOn` tells how it was.
// False when the driver has no such setting (a pty: ENOTTY) or refuses it.
bool SetLowLatency(PosixSysCalls& sys, int fd, bool on, bool& wasOn);

}  // namespace velmora
