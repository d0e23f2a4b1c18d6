#include "serial/SerialPort.h"

#include <algorithm>
#include <utility>

namespace velmora {

CSerialPort::CSerialPort() : CSerialPort(CreatePlatformPortDevice()) {}

CSerialPort::CSerialPort(std::unique_ptr<IPortDevice> device) : m_device(std::move(device)) {}

CSerialPort::~CSerialPort() noexcept {
    // Close reports errors through LastError(); nothing here may throw.
    Close();
}

int CSerialPort::Open(int portNumber, std::uint32_t baudRate, std::uint8_t dataBits,
                      std::uint8_t parity, std::uint8_t stopBits) {
    return OpenDevice(ResolvePortName(portNumber), baudRate, dataBits, parity, stopBits);
}

int CSerialPort::OpenDevice(const std::string& device, std::uint32_t baudRate,
                            std::uint8_t dataBits, std::uint8_t parity, std::uint8_t stopBits) {
    return OpenConfigured(device, LineConfig{baudRate, dataBits, parity, stopBits});
}

int CSerialPort::OpenConfigured(const std::string& device, const LineConfig& config) {
    if (m_bOpened != 0) {
        // The device is held exclusively by this very object: a second open
        // cannot succeed, and the open port stays as it is.
        m_lastError = "The port " + m_deviceName + " is already open.";
        return 0;
    }
    m_deviceName = device;
    if (!m_device->Open(device, config)) {
        m_lastError = m_device->ErrorText();
        return 0;
    }
    m_lastError.clear();
    m_bOpened = 1;
    return 1;
}

int CSerialPort::Close() {
    if (m_bOpened == 0) {
        return 1;
    }
    if (!m_device->Close()) {
        m_lastError = m_device->ErrorText();
    }
    m_bOpened = 0;
    return 1;
}

int CSerialPort::WriteByte(std::uint8_t byte) {
    if (m_bOpened != 0) {
        m_device->WriteByte(byte);
    }
    return 1;
}

int CSerialPort::Write(const std::uint8_t* data, int count) {
    if (m_bOpened == 0 || data == nullptr || count <= 0) {
        return 0;
    }
    for (int i = 0; i < count; ++i) {
        WriteByte(data[i]);
    }
    return count;
}

int CSerialPort::BytesWaiting() {
    if (m_bOpened == 0) {
        return 0;
    }
    const std::uint32_t queued = m_device->BytesWaiting();
    return static_cast<int>(std::min<std::uint32_t>(queued, 0x7FFFFFFF));
}

int CSerialPort::Read(std::uint8_t* buffer, int maxCount) {
    if (m_bOpened == 0 || buffer == nullptr || maxCount <= 0) {
        return 0;
    }
    return m_device->Read(buffer, maxCount);
}

bool CSerialPort::WaitForData(std::chrono::milliseconds bound) {
    if (m_bOpened == 0) {
        return false;
    }
    return m_device->WaitReadable(bound);
}

void CSerialPort::Interrupt() {
    m_device->Interrupt();
}

bool CSerialPort::IsDeviceLost() const {
    return m_bOpened != 0 && m_device->IsLost();
}

}  // namespace velmora
