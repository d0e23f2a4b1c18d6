// The pacing clock on Windows: the performance counter; a high-resolution
// waitable timer for the pacing thread's sleeps between bytes; and Sleep for
// the settle time of the ready signal.
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>
// After windows.h, which it needs.
#include <mmsystem.h>

#include "transfer/PacingClock.h"

// Windows 10 1803 and later; older headers do not name it.
#ifndef CREATE_WAITABLE_TIMER_HIGH_RESOLUTION
#define CREATE_WAITABLE_TIMER_HIGH_RESOLUTION 0x00000002
#endif

namespace velmora {

namespace {

// One timer a thread, closed when the thread ends. Where the system has no
// high-resolution timer (before Windows 10 1803), an ordinary one on a system
// timer raised to 1 ms for the life of the process.
class PacingTimer {
public:
    PacingTimer() {
        m_handle = ::CreateWaitableTimerExW(nullptr, nullptr, CREATE_WAITABLE_TIMER_HIGH_RESOLUTION,
                                            TIMER_ALL_ACCESS);
        if (m_handle == nullptr) {
            static const bool raised = ::timeBeginPeriod(1) == TIMERR_NOERROR;
            (void)raised;
            m_handle = ::CreateWaitableTimerExW(nullptr, nullptr, 0, TIMER_ALL_ACCESS);
        }
    }
    ~PacingTimer() {
        if (m_handle != nullptr) {
            ::CloseHandle(m_handle);
        }
    }
    PacingTimer(const PacingTimer&) = delete;
    PacingTimer& operator=(const PacingTimer&) = delete;

    // Waits `hundredNanos` (at least 1); false when the timer cannot be used.
    bool Wait(LONGLONG hundredNanos) {
        if (m_handle == nullptr) {
            return false;
        }
        LARGE_INTEGER due{};
        due.QuadPart = -(hundredNanos < 1 ? 1 : hundredNanos);  // negative: relative
        if (!::SetWaitableTimer(m_handle, &due, 0, nullptr, nullptr, FALSE)) {
            return false;
        }
        return ::WaitForSingleObject(m_handle, INFINITE) == WAIT_OBJECT_0;
    }

private:
    HANDLE m_handle = nullptr;
};

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
    bool SleepUntil(std::int64_t count) override {
        thread_local PacingTimer timer;
        const std::int64_t left = count - Count();
        if (left <= 0) {
            return true;
        }
        // Rounded down to the timer's 100 ns: the pacing loop waits out the
        // rest on the counter, so a byte never goes early.
        return timer.Wait(static_cast<LONGLONG>(left * 10'000'000 / Frequency()));
    }
};

}  // namespace

IPacingClock& SystemPacingClock() {
    static Win32PacingClock clock;
    return clock;
}

}  // namespace velmora
