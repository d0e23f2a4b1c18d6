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
};

}  // namespace

IPacingClock& SystemPacingClock() {
    static PosixPacingClock clock;
    return clock;
}

}  // namespace velmora
