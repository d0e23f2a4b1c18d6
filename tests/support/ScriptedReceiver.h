// An in-memory serial device with a scripted receiver behind it, running on a
// simulated clock: the whole protocol runs in microseconds of real time, and
// every byte the tool writes is recorded with the simulated time it was
// handed over.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "serial/PortDevice.h"
#include "transfer/PacingClock.h"

namespace velmora::test {

// Simulated time in nanoseconds. Every Count() moves it on by `tick`, so busy
// waits end; Sleep() and idle waits move it on by their duration.
class SimClock final : public IPacingClock {
public:
    explicit SimClock(std::int64_t tickNs = 1000) : m_tick(tickNs) {}
    std::int64_t Frequency() override { return 1'000'000'000; }
    std::int64_t Count() override { return m_now.fetch_add(m_tick) + m_tick; }
    void Sleep(std::chrono::milliseconds d) override { Advance(d.count() * 1'000'000); }
    void Advance(std::int64_t ns) { m_now.fetch_add(ns); }
    std::int64_t Now() const { return m_now.load(); }

private:
    std::atomic<std::int64_t> m_now{0};
    std::int64_t m_tick;
};

// What the scripted boot loader does.
struct ReceiverScript {
    std::vector<std::uint8_t> noise;          // queued before the first ready signal
    int lateAcSignals = 0;                    // ready signals whose AC comes after 50 ms
    int lonelyAbSignals = 0;                  // ready signals of AB followed by another byte
    bool sendReady = true;                    // false: stays silent
    std::function<bool()> readyGate;          // when set, announces itself only once true
    std::vector<std::uint8_t> junkBeforeAck;  // sent in front of every acknowledgement
    bool ackHeader = true;
    int loseDeviceAfterBlocks = -1;             // the device goes away after N blocks
    std::function<void(int block)> afterBlock;  // called once block N (1-based) is acknowledged
    std::function<void()> onIdleWait;           // called when the tool waits with nothing queued
};

struct WrittenByte {
    std::uint8_t value;
    std::int64_t simNs;        // simulated time when handed over
    std::int64_t realEntryNs;  // steady clock when the write was entered
    std::int64_t realExitNs;   // and when it returned
};

class ScriptedDevice final : public IPortDevice {
public:
    ScriptedDevice(SimClock& clock, ReceiverScript script);

    bool Open(const std::string& device, const LineConfig& config) override;
    bool Close() override;
    std::uint32_t BytesWaiting() override;
    int Read(std::uint8_t* buffer, int maxCount) override;
    void WriteByte(std::uint8_t byte) override;
    bool WaitReadable(std::chrono::milliseconds bound) override;
    void Interrupt() override { m_interrupted.store(true); }
    bool IsLost() const override { return m_lost.load(); }
    const std::string& ErrorText() const override { return m_error; }

    // Shared view of what happened, valid after the device is destroyed.
    struct Record {
        std::mutex mutex;
        std::vector<WrittenByte> written;
        std::string openedDevice;
        LineConfig config;
        int opens = 0;
        int closes = 0;
        bool open = false;
        bool failOpen = false;
    };
    std::shared_ptr<Record> record() const { return m_record; }

private:
    struct Incoming {
        std::int64_t availableAt;
        std::uint8_t value;
    };
    void Queue(std::uint8_t value, std::int64_t delayNs = 0);
    void QueueAck();
    void SendReadySignal();
    void OnToolByte(std::uint8_t byte);

    SimClock& m_clock;
    ReceiverScript m_script;
    std::shared_ptr<Record> m_record = std::make_shared<Record>();
    std::deque<Incoming> m_incoming;
    std::atomic<bool> m_interrupted{false};
    std::atomic<bool> m_lost{false};
    std::string m_error;

    enum class Phase { Ready, Header, Data, Silent } m_phase = Phase::Ready;
    int m_readySent = 0;
    std::vector<std::uint8_t> m_header;
    std::uint32_t m_length = 0;
    std::uint32_t m_received = 0;
    std::uint32_t m_blockFill = 0;
    int m_blocks = 0;
};

}  // namespace velmora::test
