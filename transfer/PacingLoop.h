// Paced hand-over of bytes to serial ports. A job hands a block to the pacer
// and blocks, without spinning, until every byte of it has been written; one
// pacing thread serves every port that has a block at once.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <stop_token>
#include <thread>
#include <vector>

#include "serial/SerialPort.h"
#include "transfer/PacingClock.h"

namespace velmora {

class IBytePacer {
public:
    virtual ~IBytePacer() = default;
    // Writes `count` bytes to `port` one at a time. Each byte is handed over
    // only once more than `thresholdMicros` have passed since the previous
    // byte's write returned (the first: since the call). What the port has
    // received by then is dropped just before the last byte is handed over:
    // the answer to a block comes after its last byte, and a 4F that came
    // earlier is never that answer. A port whose driver cannot take a byte
    // (its line held, its queue full) delays no other port: the byte goes
    // later. Returns the number of bytes handed over: fewer than `count` once
    // `stop` is requested, or when the port took no byte for longer than the
    // write time-outs (its output does not drain).
    virtual std::size_t Send(CSerialPort& port, const std::uint8_t* data, std::size_t count,
                             std::int64_t thresholdMicros, std::stop_token stop) = 0;
};

// One thread that paces the blocks of every port. Each pass writes the next
// byte of every port that is due and whose driver can take it now (one that
// cannot is tried again a little later); between passes it sleeps until shortly
// before the earliest port is due (where the clock can sleep that precisely;
// how much before follows how late recent wake-ups came) and waits out the
// rest on the clock, so a byte may go a little late, never early. Idle, the
// thread blocks until a block comes.
class CPacingLoop final : public IBytePacer {
public:
    explicit CPacingLoop(IPacingClock& clock);
    // Waits for the blocks under way to be cut short, then ends the thread.
    ~CPacingLoop() override;

    CPacingLoop(const CPacingLoop&) = delete;
    CPacingLoop& operator=(const CPacingLoop&) = delete;

    std::size_t Send(CSerialPort& port, const std::uint8_t* data, std::size_t count,
                     std::int64_t thresholdMicros, std::stop_token stop) override;

private:
    struct Lane {
        CSerialPort* port = nullptr;
        const std::uint8_t* data = nullptr;
        std::size_t count = 0;
        std::size_t handed = 0;
        std::int64_t gapCounts = 0;  // smallest count difference that is more than the threshold
        std::int64_t due = 0;        // count at which the next byte may go
        std::int64_t refusedSince = -1;  // count at which the port began to refuse a byte
        bool stalled = false;            // it refused it longer than the write time-outs
        std::atomic<bool> cancelled{false};
        bool done = false;  // guarded by m_mutex
        std::condition_variable released;
    };

    void Run(std::stop_token stop);
    // Writes the next byte of every due lane; returns the count at which the
    // earliest remaining lane is due.
    std::int64_t ServeDue(std::vector<Lane*>& active);
    // Offers the lane's next byte; returns the count after the write.
    std::int64_t Offer(Lane& lane, std::int64_t now);
    void WaitUntil(std::int64_t due);
    void Release(Lane& lane);

    IPacingClock& m_clock;
    std::int64_t m_wakeAheadCounts;  // how early a sleep is asked to end
    std::int64_t m_minSleepCounts;   // shorter sleeps are not worth a wake-up
    std::int64_t m_lateMarginCounts;
    std::int64_t m_retryCounts;     // a refused byte is offered again this much later
    std::int64_t m_stallCounts;     // refused this long, the lane gives up
    std::int64_t m_lateCounts = 0;  // how late recent wake-ups came (pacing thread only)
    std::mutex m_mutex;
    std::condition_variable_any m_cv;
    std::vector<Lane*> m_incoming;  // guarded by m_mutex
    std::once_flag m_started;
    std::jthread m_thread;
};

// The process's pacing loop on the system clock, started on first use. The
// command line and the dialog hand their blocks to it.
IBytePacer& SharedBytePacer();

}  // namespace velmora
