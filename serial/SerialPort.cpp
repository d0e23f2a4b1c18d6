#include "serial/SerialPort.h"

#include <algorithm>
#include <cctype>
#include <string_view>
#include <utility>

namespace velmora {

int ComNumberOf(const std::string& name) {
    std::string_view rest = name;
    if (rest.rfind("\\\\.\\", 0) == 0) {
        rest.remove_prefix(4);
    }
    if (rest.size() < 4 || rest.size() > 8) {
        return 0;
    }
    for (std::size_t i = 0; i < 3; ++i) {
        if (std::toupper(static_cast<unsigned char>(rest[i])) != "COM"[i]) {
            return 0;
        }
    }
    int number = 0;
    for (const char c : rest.substr(3)) {
        if (c < '0' || c > '9') {
            return 0;
        }
        number = number * 10 + (c - '0');
    }
    return number;
}

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
        m_failure = {PortFailureKind::Busy,
                     "The port " + m_deviceName + " is already open.",
                     "Wait for the running job to end.",
                     {},
                     0};
        m_lastError = m_failure.Text();
        return 0;
    }
    m_deviceName = device;
    m_holderHint.clear();
    if (!m_device->Open(device, config)) {
        m_failure = m_device->OpenFailure();
        m_lastError = m_device->ErrorText();
        return 0;
    }
    m_failure = {};
    m_lastError.clear();
    m_holderHint = m_device->HolderHint();
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

WriteResult CSerialPort::TryWriteByte(std::uint8_t byte) {
    return m_bOpened != 0 ? m_device->TryWriteByte(byte) : WriteResult::Failed;
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

void CSerialPort::DiscardInput() {
    std::uint8_t sink[64];
    while (BytesWaiting() != 0 && Read(sink, sizeof sink) > 0) {
    }
}

bool CSerialPort::DrainOutput(std::chrono::milliseconds bound) {
    return m_bOpened != 0 && m_device->DrainOutput(bound);
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

std::string CSerialPort::WithHolderHint(const std::string& text) const {
    return m_holderHint.empty() ? text : text + " " + m_holderHint;
}

bool CSerialPort::IsDeviceLost() const {
    return m_bOpened != 0 && m_device->IsLost();
}

}  // namespace velmora
