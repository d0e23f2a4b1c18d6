#include <sys/prctl.h>
#include <time.h>

#include <thread>

#include "transfer/PacingClock.h"

namespace velmora {

namespace {

class PosixPacingClock final : public IPacingClock {
public:
    std::int64_t Frequency() override { return 1'000'000'000; }
    std::int64_t Count() override {
        timespec ts{};
        ::clock_gettime(CLOCK_MONOTONIC, &ts);
        return static_cast<std::int64_t>(ts.tv_sec) * 1'000'000'000 + ts.tv_nsec;
    }
    void Sleep(std::chrono::milliseconds duration) override {
        std::this_thread::sleep_for(duration);
    }
    bool SleepUntil(std::int64_t count) override {
        // The default slack of 50 us would make every short sleep that late.
        thread_local const bool tight = ::prctl(PR_SET_TIMERSLACK, 1UL, 0UL, 0UL, 0UL) == 0;
        (void)tight;
        timespec until{};
        until.tv_sec = static_cast<time_t>(count / 1'000'000'000);
        until.tv_nsec = static_cast<long>(count % 1'000'000'000);
        while (::clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &until, nullptr) != 0) {
        }
        return true;
    }
};

}  // namespace

IPacingClock& SystemPacingClock() {
    static PosixPacingClock clock;
    return clock;
}

}  // namespace velmora
