#include "tests/support/ScriptedReceiver.h"

#include <algorithm>

namespace velmora::test {

namespace {

std::int64_t RealNs() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

constexpr std::int64_t kMs = 1'000'000;

}  // namespace

ScriptedDevice::ScriptedDevice(SimClock& clock, ReceiverScript script)
    : m_clock(clock), m_script(std::move(script)) {}

bool ScriptedDevice::Open(const std::string& device, const LineConfig& config) {
    std::lock_guard lock(m_record->mutex);
    m_record->openedDevice = device;
    m_record->config = config;
    if (m_record->failOpen || m_record->open) {
        m_error = "scripted open failure";
        return false;
    }
    ++m_record->opens;
    m_record->open = true;
    m_interrupted.store(false);
    m_phase = Phase::Ready;
    m_incoming.clear();
    m_header.clear();
    m_length = m_received = m_blockFill = 0;
    m_blocks = 0;
    m_readySent = 0;
    for (const std::uint8_t b : m_script.noise) {
        Queue(b);
    }
    if (m_script.sendReady && !m_script.readyGate) {
        SendReadySignal();
    }
    return true;
}

bool ScriptedDevice::Close() {
    std::lock_guard lock(m_record->mutex);
    ++m_record->closes;
    m_record->open = false;
    return true;
}

void ScriptedDevice::Queue(std::uint8_t value, std::int64_t delayNs) {
    m_incoming.push_back({m_clock.Now() + delayNs, value});
}

void ScriptedDevice::SendReadySignal() {
    // The script's faulty signals first, then a good one.
    const int n = m_readySent++;
    if (n < m_script.lateAcSignals) {
        Queue(0xAB);
        Queue(0xAC, 50 * kMs);
        return;
    }
    if (n < m_script.lateAcSignals + m_script.lonelyAbSignals) {
        Queue(0xAB);
        Queue(0x11);
        return;
    }
    Queue(0xAB);
    Queue(0xAC);
}

void ScriptedDevice::QueueAck() {
    for (const std::uint8_t b : m_script.junkBeforeAck) {
        Queue(b);
    }
    Queue(0x4F);
}

std::uint32_t ScriptedDevice::BytesWaiting() {
    const std::int64_t now = m_clock.Now();
    return static_cast<std::uint32_t>(
        std::count_if(m_incoming.begin(), m_incoming.end(),
                      [now](const Incoming& i) { return i.availableAt <= now; }));
}

int ScriptedDevice::Read(std::uint8_t* buffer, int maxCount) {
    int n = 0;
    while (n < maxCount && !m_incoming.empty() && m_incoming.front().availableAt <= m_clock.Now()) {
        buffer[n++] = m_incoming.front().value;
        m_incoming.pop_front();
    }
    return n;
}

bool ScriptedDevice::WaitReadable(std::chrono::milliseconds bound) {
    if (BytesWaiting() > 0) {
        return true;
    }
    if (m_phase == Phase::Ready && m_incoming.empty() && m_script.sendReady &&
        (!m_script.readyGate || m_script.readyGate())) {
        // The boot loader announces itself again.
        SendReadySignal();
    }
    if (m_script.onIdleWait) {
        m_script.onIdleWait();
    }
    if (m_interrupted.load() || m_lost.load()) {
        return false;
    }
    // Nothing arrives before the next scheduled byte: let simulated time pass.
    const std::int64_t boundNs = bound.count() * kMs;
    std::int64_t step = boundNs;
    if (!m_incoming.empty()) {
        step = std::clamp<std::int64_t>(m_incoming.front().availableAt - m_clock.Now(), 0, boundNs);
    }
    m_clock.Advance(step);
    return BytesWaiting() > 0;
}

void ScriptedDevice::WriteByte(std::uint8_t byte) {
    const std::int64_t entry = RealNs();
    const std::int64_t sim = m_clock.Now();
    if (!m_lost.load()) {
        OnToolByte(byte);
    }
    std::lock_guard lock(m_record->mutex);
    m_record->written.push_back({byte, sim, entry, RealNs()});
}

void ScriptedDevice::OnToolByte(std::uint8_t byte) {
    switch (m_phase) {
        case Phase::Ready:
            if (byte == 0x40) {
                m_incoming.clear();
                m_phase = Phase::Header;
            }
            return;
        case Phase::Header:
            m_header.push_back(byte);
            if (m_header.size() == 12) {
                m_length = static_cast<std::uint32_t>(m_header[4]) |
                           (static_cast<std::uint32_t>(m_header[5]) << 8) |
                           (static_cast<std::uint32_t>(m_header[6]) << 16) |
                           (static_cast<std::uint32_t>(m_header[7]) << 24);
                if (!m_script.ackHeader) {
                    m_phase = Phase::Silent;
                    return;
                }
                QueueAck();
                m_phase = Phase::Data;
            }
            return;
        case Phase::Data:
            ++m_received;
            ++m_blockFill;
            if (m_blockFill == 240 || m_received == m_length) {
                m_blockFill = 0;
                ++m_blocks;
                if (m_blocks == m_script.loseDeviceAfterBlocks) {
                    m_lost.store(true);
                    return;
                }
                QueueAck();
                if (m_script.afterBlock) {
                    m_script.afterBlock(m_blocks);
                }
            }
            return;
        case Phase::Silent:
            return;
    }
}

}  // namespace velmora::test
