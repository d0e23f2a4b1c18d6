// The pacing clock on Windows: the performance counter, and Sleep for the
// settle time of the ready signal.
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include "transfer/PacingClock.h"

namespace velmora {

namespace {

class Win32PacingClock final : public IPacingClock {
public:
    std::int64_t Frequency() override {
        LARGE_INTEGER frequency{};
        ::QueryPerformanceFrequency(&frequency);
        return frequency.QuadPart;
    }
    std::int64_t Count() override {
        LARGE_INTEGER count{};
        ::QueryPerformanceCounter(&count);
        return count.QuadPart;
    }
    void Sleep(std::chrono::milliseconds duration) override {
        // Sleep may return up to a timer tick late, never early: the second
        // byte of the ready signal only has to be there after the settle time.
        const auto ms = duration.count();
        ::Sleep(ms <= 0 ? 0 : static_cast<DWORD>(ms));
    }
};

}  // namespace

IPacingClock& SystemPacingClock() {
    static Win32PacingClock clock;
    return clock;
}

}  // namespace velmora
