// The platform layer under CSerialPort: one small interface with a POSIX
// implementation (port_posix.cpp) and a Win32 one (port_win32.cpp), chosen by
// the build. Tests plug in scripted devices through the same interface.
#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>

#include "serial/PortFailure.h"

namespace velmora {

// Line parameters as CSerialPort::Open takes them. Parity and stop-bit codes are
// the Windows device-control codes: parity 0 none, 1 odd, 2 even; stop bits
// 0 one, 1 one and a half, 2 two.
struct LineConfig {
    std::uint32_t nBaudRate = 115200;
    std::uint8_t nDataBits = 8;
    std::uint8_t nParity = 0;
    std::uint8_t nStopBits = 0;
};

// Time-outs that bound one byte written to the device: per byte plus constant.
inline constexpr std::chrono::milliseconds kWriteTimeoutPerByte{100};
inline constexpr std::chrono::milliseconds kWriteTimeoutConstant{5000};

// What became of a byte offered to the driver without waiting.
enum class WriteResult {
    Written,  // the driver took it
    Full,     // its queue is full or the line is held: nothing was written
    Failed,   // the device is gone or failed: the byte is dropped
};

class IPortDevice {
public:
    virtual ~IPortDevice() = default;

    // Opens `device` exclusively and configures the line. On failure everything
    // acquired is released, ErrorText() says why and false is returned.
    virtual bool Open(const std::string& device, const LineConfig& config) = 0;
    // Restores the line settings found at Open and releases the device.
    // Returns false (with ErrorText()) when the system reported an error.
    virtual bool Close() = 0;

    // Bytes in the receive queue; 0 when the query fails.
    virtual std::uint32_t BytesWaiting() = 0;
    // Takes at most `maxCount` bytes that are already queued. Never waits.
    virtual int Read(std::uint8_t* buffer, int maxCount) = 0;
    // Hands one byte to the driver; waits at most the write time-outs when the
    // driver cannot take it (flow control, full queue), then drops it.
    virtual void WriteByte(std::uint8_t byte) = 0;
    // Hands one byte to the driver only when it can take it now; never waits.
    // Layers that cannot tell write it as WriteByte does.
    virtual WriteResult TryWriteByte(std::uint8_t byte) {
        WriteByte(byte);
        return WriteResult::Written;
    }

    // Blocks until a byte is queued, the device is lost, Interrupt() is called,
    // or `bound` has passed. Returns true when a byte is queued.
    virtual bool WaitReadable(std::chrono::milliseconds bound) = 0;
    // Makes every present and future wait of this device return at once, until
    // the next Open. Safe to call from any thread.
    virtual void Interrupt() = 0;

    // Waits until the bytes handed over have left the driver's queue, or
    // `bound` has passed, Interrupt() was called or the device was lost; true
    // when the queue emptied. Until the next Open, Close() then keeps what is
    // on its way instead of discarding it. Layers without a queue of their
    // own have nothing to wait for.
    virtual bool DrainOutput(std::chrono::milliseconds /*bound*/) { return true; }

    // True once the device has gone away (hang-up, EIO/ENXIO, removed adapter).
    virtual bool IsLost() const = 0;
    virtual const std::string& ErrorText() const = 0;
    // Why the last Open failed. Layers that know no better report ErrorText()
    // as a failure of kind Other.
    virtual PortOpenFailure OpenFailure() const {
        return {PortFailureKind::Other, ErrorText(), {}, {}, 0};
    }
    // After a successful Open: a sentence for the messages of a silent
    // receiver when another program may hold the port unseen; empty when the
    // layer saw every program that could.
    virtual std::string HolderHint() const { return {}; }
};

// The device layer of this platform.
std::unique_ptr<IPortDevice> CreatePlatformPortDevice();

// The device that "COM<n>" stands for on this platform. On POSIX systems the
// environment variable VELMORA_COM<n> names it when set (for example
// /dev/ttyUSB0, or a pty of the emulator); otherwise it is /dev/ttyS<n-1>.
// On Windows it is "COM<n>", or "\\.\COM<n>" from COM10 on.
std::string ResolvePortName(int portNumber);

// The highest COM number that names a port here: 8 on POSIX systems, where
// COM1 to COM8 stand for the built-in ports; 255 on Windows.
int HighestComNumber();

// The number of a COM name: 11 for "COM11", "com11" or "\\.\COM11"; 0 for
// anything else (a device path, "COM", "COMX").
int ComNumberOf(const std::string& name);

}  // namespace velmora
