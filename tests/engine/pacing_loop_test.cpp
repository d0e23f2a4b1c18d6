// The one pacing thread against several ports at once, on the system clock.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <future>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "serial/SerialPort.h"
#include "transfer/PacingLoop.h"

namespace velmora {
namespace {

using namespace std::chrono_literals;

std::int64_t NowNs() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

// A port that keeps every byte written with the time its write began and ended.
class RecordingDevice final : public IPortDevice {
public:
    struct Byte {
        std::uint8_t value;
        std::int64_t entryNs;
        std::int64_t exitNs;
    };
    RecordingDevice(std::vector<Byte>& written, std::atomic<std::size_t>& count)
        : m_written(written), m_count(count) {}
    bool Open(const std::string&, const LineConfig&) override { return true; }
    bool Close() override { return true; }
    std::uint32_t BytesWaiting() override { return 0; }
    int Read(std::uint8_t*, int) override { return 0; }
    void WriteByte(std::uint8_t byte) override {
        const std::int64_t entry = NowNs();
        m_written.push_back({byte, entry, NowNs()});
        m_count.store(m_written.size());
    }
    bool WaitReadable(std::chrono::milliseconds) override { return false; }
    void Interrupt() override {}
    bool IsLost() const override { return false; }
    const std::string& ErrorText() const override { return m_error; }

private:
    std::vector<Byte>& m_written;
    std::atomic<std::size_t>& m_count;
    std::string m_error;
};

struct Lane {
    std::vector<RecordingDevice::Byte> written;
    std::atomic<std::size_t> count{0};  // written's size, for another thread to watch
    std::unique_ptr<CSerialPort> port;
    std::vector<std::uint8_t> header;
    std::vector<std::uint8_t> block;
};

TEST(PacingLoop, ServesSeveralPortsAtOnceNeverEarlyInOrderAndWakesOnCancel) {
    CPacingLoop pacer(SystemPacingClock());
    std::vector<Lane> lanes(4);
    for (std::size_t p = 0; p < lanes.size(); ++p) {
        Lane& lane = lanes[p];
        lane.port = std::make_unique<CSerialPort>(
            std::make_unique<RecordingDevice>(lane.written, lane.count));
        ASSERT_EQ(lane.port->OpenDevice("port" + std::to_string(p), 115200, 8, 0, 0), 1);
        for (std::size_t i = 0; i < 12; ++i) {
            lane.header.push_back(static_cast<std::uint8_t>(p * 50 + i));
        }
        for (std::size_t i = 0; i < 480; ++i) {
            lane.block.push_back(static_cast<std::uint8_t>(i * 7 + p));
        }
    }
    // Each port: a header, then two blocks, as a job hands them over.
    std::vector<std::future<std::size_t>> jobs;
    for (Lane& lane : lanes) {
        jobs.push_back(std::async(std::launch::async, [&pacer, &lane] {
            std::size_t handed = pacer.Send(*lane.port, lane.header.data(), 12, 100, {});
            handed += pacer.Send(*lane.port, lane.block.data(), 240, 69, {});
            return handed + pacer.Send(*lane.port, lane.block.data() + 240, 240, 69, {});
        }));
    }
    for (auto& job : jobs) {
        ASSERT_EQ(job.wait_for(30s), std::future_status::ready);
        EXPECT_EQ(job.get(), 492U);
    }
    for (const Lane& lane : lanes) {
        ASSERT_EQ(lane.written.size(), 492U);
        for (std::size_t i = 0; i < lane.written.size(); ++i) {
            const std::uint8_t expected = i < 12 ? lane.header[i] : lane.block[i - 12];
            ASSERT_EQ(lane.written[i].value, expected) << "byte " << i;
            if (i > 0) {
                const std::int64_t floorNs = i < 12 ? 101'000 : 70'000;
                ASSERT_GE(lane.written[i].entryNs - lane.written[i - 1].exitNs, floorNs)
                    << "byte " << i;
            }
        }
    }

    // A long block cut short: the waiting job returns with what was handed over.
    std::vector<std::uint8_t> longBlock(200'000, 0x55);
    std::stop_source stop;
    auto cut = std::async(std::launch::async, [&] {
        return pacer.Send(*lanes[0].port, longBlock.data(), longBlock.size(), 69, stop.get_token());
    });
    const auto deadline = std::chrono::steady_clock::now() + 10s;
    while (lanes[0].count.load() < 492U + 10 && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::yield();
    }
    stop.request_stop();
    ASSERT_EQ(cut.wait_for(5s), std::future_status::ready);
    const std::size_t handed = cut.get();
    EXPECT_GT(handed, 0U);
    EXPECT_LT(handed, longBlock.size());
    EXPECT_EQ(lanes[0].written.size(), 492U + handed);
}

// A counter in nanoseconds that moves on by a microsecond at each look, and
// whose sleeps end `late` after the count asked for, as on a busy machine.
class LateWakingClock final : public IPacingClock {
public:
    explicit LateWakingClock(std::chrono::microseconds late) : m_late(late.count() * 1000) {}
    std::int64_t Frequency() override { return 1'000'000'000; }
    std::int64_t Count() override { return m_now.fetch_add(1000) + 1000; }
    void Sleep(std::chrono::milliseconds d) override { m_now.fetch_add(d.count() * 1'000'000); }
    bool SleepUntil(std::int64_t count) override {
        sleeps.fetch_add(1);
        m_now.store(std::max(m_now.load(), count + m_late));
        return true;
    }
    std::int64_t Now() const { return m_now.load(); }
    std::atomic<int> sleeps{0};

private:
    std::atomic<std::int64_t> m_now{0};
    const std::int64_t m_late;
};

// A port that keeps the clock's count at each byte written.
class CountingDevice final : public IPortDevice {
public:
    CountingDevice(LateWakingClock& clock, std::vector<std::int64_t>& written)
        : m_clock(clock), m_written(written) {}
    bool Open(const std::string&, const LineConfig&) override { return true; }
    bool Close() override { return true; }
    std::uint32_t BytesWaiting() override { return 0; }
    int Read(std::uint8_t*, int) override { return 0; }
    void WriteByte(std::uint8_t) override { m_written.push_back(m_clock.Now()); }
    bool WaitReadable(std::chrono::milliseconds) override { return false; }
    void Interrupt() override {}
    bool IsLost() const override { return false; }
    const std::string& ErrorText() const override { return m_error; }

private:
    LateWakingClock& m_clock;
    std::vector<std::int64_t>& m_written;
    std::string m_error;
};

TEST(PacingLoop, WakeUpsThatComeLateAreWaitedOutAheadSoFewBytesGoLate) {
    // Every sleep ends 200 us late. The loop then wakes that much earlier,
    // or waits on the counter: a byte is never early and seldom late, and
    // as the late wake-up is forgotten the loop sleeps again now and then.
    LateWakingClock clock(200us);
    CPacingLoop pacer(clock);
    std::vector<std::int64_t> written;
    CSerialPort port(std::make_unique<CountingDevice>(clock, written));
    ASSERT_EQ(port.OpenDevice("counting", 115200, 8, 0, 0), 1);
    const std::vector<std::uint8_t> block(2400, 0x5A);
    ASSERT_EQ(pacer.Send(port, block.data(), block.size(), 69, {}), block.size());
    ASSERT_EQ(written.size(), block.size());
    std::size_t late = 0;
    for (std::size_t i = 1; i < written.size(); ++i) {
        const std::int64_t gap = written[i] - written[i - 1];
        ASSERT_GE(gap, 70'000) << "byte " << i;
        late += gap > 90'000 ? 1 : 0;
    }
    EXPECT_LT(late, written.size() / 20) << "late bytes";
    EXPECT_GT(clock.sleeps.load(), 1) << "the loop never slept again";
}

}  // namespace
}  // namespace velmora
