// The pacing loop: one thread hands over the bytes of every port's block,
// each once its gap has passed, never early (see transfer/PacingLoop.h).
#include "transfer/PacingLoop.h"

#include <algorithm>
#include <chrono>
#include <limits>

namespace velmora {

namespace {

// A sleep of the pacing thread ends about 22 us after the time asked for (26
// us for nine in ten) on a quiet machine, and costs about 19 us of CPU. It is
// asked to end at least this long before the byte is due...
constexpr std::int64_t kWakeAheadMicros = 30;
// ...and a wait no longer than that plus this is not slept at all.
constexpr std::int64_t kMinSleepMicros = 10;
// On a busy machine, a sleep ends this much earlier than recent wake-ups came late.
constexpr std::int64_t kLateMarginMicros = 5;
// A port whose driver cannot take a byte is offered it again this much later;
// it is given up once the driver has refused it for the write time-outs.
constexpr std::int64_t kRetryMicros = 1000;
constexpr std::int64_t kStallMicros =
    std::chrono::microseconds(kWriteTimeoutPerByte + kWriteTimeoutConstant).count();

std::int64_t MicrosToCounts(std::int64_t micros, std::int64_t frequency) {
    return (micros * frequency + 999'999) / 1'000'000;
}

}  // namespace

CPacingLoop::CPacingLoop(IPacingClock& clock)
    : m_clock(clock),
      m_wakeAheadCounts(MicrosToCounts(kWakeAheadMicros, clock.Frequency())),
      m_minSleepCounts(MicrosToCounts(kMinSleepMicros, clock.Frequency())),
      m_lateMarginCounts(MicrosToCounts(kLateMarginMicros, clock.Frequency())),
      m_retryCounts(MicrosToCounts(kRetryMicros, clock.Frequency())),
      m_stallCounts(MicrosToCounts(kStallMicros, clock.Frequency())) {}

CPacingLoop::~CPacingLoop() {
    m_thread.request_stop();
    m_cv.notify_all();
    if (m_thread.joinable()) {
        m_thread.join();
    }
}

std::size_t CPacingLoop::Send(CSerialPort& port, const std::uint8_t* data, std::size_t count,
                              std::int64_t thresholdMicros, std::stop_token stop) {
    if (count == 0 || stop.stop_requested()) {
        return 0;
    }
    // "More than the threshold" on whole microseconds, as (now - last) * 10^6
    // / frequency > threshold: the first count difference that passes.
    // Started by the first block, not before: a command line sets up its
    // signal handling first, and threads started later leave the signals to it.
    std::call_once(m_started, [this] {
        m_thread = std::jthread([this](std::stop_token loop) { Run(std::move(loop)); });
    });
    const std::int64_t gap = MicrosToCounts(thresholdMicros + 1, m_clock.Frequency());
    Lane lane;
    lane.port = &port;
    lane.data = data;
    lane.count = count;
    lane.gapCounts = gap;
    lane.due = m_clock.Count() + gap;
    {
        std::lock_guard lock(m_mutex);
        m_incoming.push_back(&lane);
    }
    m_cv.notify_all();
    std::stop_callback cut(stop, [&lane] { lane.cancelled.store(true); });
    std::unique_lock lock(m_mutex);
    lane.released.wait(lock, [&lane] { return lane.done; });
    return lane.handed;
}

// Notified under the lock that the waiting job needs to return: the lane on
// its stack outlives the notification.
void CPacingLoop::Release(Lane& lane) {
    std::lock_guard lock(m_mutex);
    lane.done = true;
    lane.released.notify_one();
}

void CPacingLoop::Run(std::stop_token stop) {
    std::vector<Lane*> active;
    for (;;) {
        {
            std::unique_lock lock(m_mutex);
            if (active.empty()) {
                m_cv.wait(lock, stop, [this] { return !m_incoming.empty(); });
            }
            active.insert(active.end(), m_incoming.begin(), m_incoming.end());
            m_incoming.clear();
        }
        if (stop.stop_requested()) {
            for (Lane* lane : active) {
                Release(*lane);
            }
            return;
        }
        const std::int64_t due = ServeDue(active);
        if (!active.empty()) {
            WaitUntil(due);
        }
    }
}

std::int64_t CPacingLoop::ServeDue(std::vector<Lane*>& active) {
    std::int64_t earliest = std::numeric_limits<std::int64_t>::max();
    std::int64_t now = m_clock.Count();
    for (auto it = active.begin(); it != active.end();) {
        Lane& lane = **it;
        if (!lane.cancelled.load() && lane.due <= now) {
            now = Offer(lane, now);
        }
        if (lane.cancelled.load() || lane.stalled || lane.handed == lane.count) {
            it = active.erase(it);
            Release(lane);
            continue;
        }
        earliest = std::min(earliest, lane.due);
        ++it;
    }
    return earliest;
}

std::int64_t CPacingLoop::Offer(Lane& lane, std::int64_t now) {
    if (lane.handed + 1 == lane.count) {
        lane.port->DiscardInput();
    }
    if (lane.port->TryWriteByte(lane.data[lane.handed]) == WriteResult::Full) {
        if (lane.refusedSince < 0) {
            lane.refusedSince = now;
        }
        lane.stalled = now - lane.refusedSince > m_stallCounts;
        lane.due = now + m_retryCounts;
        return now;
    }
    // Written, or dropped by a device that failed: the job's wait says so.
    ++lane.handed;
    lane.refusedSince = -1;
    // The gap is counted from the moment the write returned.
    now = m_clock.Count();
    lane.due = now + lane.gapCounts;
    return now;
}

// Sleeps until shortly before `due` and waits out the rest on the counter.
// The sleep is asked to end early enough for its wake-up to come in time:
// kWakeAheadMicros before on a quiet machine; on a busy one, where wake-ups
// come later, as much before as recent wake-ups came late, plus a margin.
void CPacingLoop::WaitUntil(std::int64_t due) {
    // A late wake-up is forgotten by 1/64 of its lateness at every wait, slept
    // or not: one that came very late (the thread preempted) must not keep
    // the loop from sleeping for good.
    m_lateCounts -= m_lateCounts / 64;
    const std::int64_t ahead = std::max(m_wakeAheadCounts, m_lateCounts + m_lateMarginCounts);
    if (due - m_clock.Count() > ahead + m_minSleepCounts) {
        const std::int64_t target = due - ahead;
        if (m_clock.SleepUntil(target)) {
            m_lateCounts = std::max(m_lateCounts, m_clock.Count() - target);
        }
    }
    while (m_clock.Count() < due) {
    }
}

IBytePacer& SharedBytePacer() {
    static CPacingLoop loop(SystemPacingClock());
    return loop;
}

}  // namespace velmora
