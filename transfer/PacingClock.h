// The high-resolution counter that paces the bytes of a transfer, and the one
// sleep of the protocol (the 20 ms settle time of the ready signal). Tests plug
// in their own clock.
#pragma once

#include <chrono>
#include <cstdint>

namespace velmora {

class IPacingClock {
public:
    virtual ~IPacingClock() = default;
    // Counts per second of Count().
    virtual std::int64_t Frequency() = 0;
    // A monotonic count.
    virtual std::int64_t Count() = 0;
    virtual void Sleep(std::chrono::milliseconds duration) = 0;
    // Sleeps until Count() reaches `count`, waking as close after it as the
    // system allows. False, at once, when this clock cannot sleep that
    // precisely: the caller then waits on Count() instead.
    virtual bool SleepUntil(std::int64_t count) {
        (void)count;
        return false;
    }
};

// The platform's monotonic high-resolution counter (clock_posix.cpp, clock_win32.cpp).
IPacingClock& SystemPacingClock();

}  // namespace velmora
