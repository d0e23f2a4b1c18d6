// CSerialPort: the system's only access to the serial line. Opened by the Start
// command with the dialog's line parameters, then polled, read, written and
// closed by the upgrade worker. Operations return 1 for success and 0 for
// failure; the platform work is done by an IPortDevice underneath.
#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>

#include "serial/PortDevice.h"

namespace velmora {

class CSerialPort {
public:
    // A closed port over this platform's device layer.
    CSerialPort();
    // A closed port over the given device layer (tests, other transports).
    explicit CSerialPort(std::unique_ptr<IPortDevice> device);
    ~CSerialPort() noexcept;

    CSerialPort(const CSerialPort&) = delete;
    CSerialPort& operator=(const CSerialPort&) = delete;

    // Opens "COM<portNumber>" with the given line parameters. Returns 1 when the
    // port is open and configured, 0 otherwise. On a port that is already open
    // it returns 0 and leaves the port exactly as it was.
    int Open(int portNumber, std::uint32_t baudRate, std::uint8_t dataBits, std::uint8_t parity,
             std::uint8_t stopBits);
    // The same with a device path in place of the COM number.
    int OpenDevice(const std::string& device, std::uint32_t baudRate, std::uint8_t dataBits,
                   std::uint8_t parity, std::uint8_t stopBits);
    // Closes the port if open. Always returns 1.
    int Close();

    // Writes one byte, bounded by the write time-outs. Always returns 1.
    int WriteByte(std::uint8_t byte);
    // Writes one byte only when the driver can take it now; never waits.
    // Failed when the port is closed.
    WriteResult TryWriteByte(std::uint8_t byte);
    // Writes `count` bytes one at a time. Returns the count, or 0 when the port
    // is closed or the count is not positive.
    int Write(const std::uint8_t* data, int count);
    // Bytes in the receive queue, 0 when the port is closed.
    int BytesWaiting();
    // Reads at most `maxCount` bytes that are already queued; never waits.
    int Read(std::uint8_t* buffer, int maxCount);
    // Reads and drops every byte already queued; never waits.
    void DiscardInput();

    // Waits at most `bound` for the bytes written to leave the driver's
    // queue; true when they did. Close() then lets them go out instead of
    // discarding them. False when the port is closed.
    bool DrainOutput(std::chrono::milliseconds bound);

    // Blocks until a byte is queued, the device is lost, Interrupt() is called
    // or `bound` has passed; true when a byte is queued.
    bool WaitForData(std::chrono::milliseconds bound);
    // Wakes any wait on this port and keeps later waits from blocking, until the
    // next Open. The only operation that may be called from another thread.
    void Interrupt();

    bool IsOpen() const { return m_bOpened != 0; }
    // True when the device went away while open (cable pulled, adapter removed).
    bool IsDeviceLost() const;
    // What the last failed Open or Close reported, in plain words.
    const std::string& LastError() const { return m_lastError; }
    // Why the last Open failed: kind, reason and remedy. Kind None after a
    // successful Open.
    const PortOpenFailure& LastOpenFailure() const { return m_failure; }
    // "Another program may hold /dev/ttyUSB0; `sudo fuser -v /dev/ttyUSB0`
    // shows it." when the last successful Open could not look at every
    // process that might hold the port; empty otherwise. Kept until the next Open.
    const std::string& HolderHint() const { return m_holderHint; }
    // `text` with the hint after it, when there is one.
    std::string WithHolderHint(const std::string& text) const;
    // The device path in use or last tried.
    const std::string& DeviceName() const { return m_deviceName; }

private:
    int OpenConfigured(const std::string& device, const LineConfig& config);

    std::unique_ptr<IPortDevice> m_device;
    int m_bOpened = 0;
    std::string m_deviceName;
    std::string m_lastError;
    std::string m_holderHint;
    PortOpenFailure m_failure;
};

}  // namespace velmora
