// The Windows pacing clock, the console control handler of the command line,
// and the stop tokens that cancel jobs, as the MinGW build makes them.
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <future>
#include <mutex>
#include <stop_token>

#include "cli/Interrupt.h"
#include "transfer/PacingClock.h"

namespace velmora {
namespace {

using namespace std::chrono_literals;

TEST(Win32Clock, TheSettleSleepIsNeverShortOnTheCounter) {
    IPacingClock& clock = SystemPacingClock();
    const std::int64_t frequency = clock.Frequency();
    ASSERT_GT(frequency, 0);
    for (int i = 0; i < 5; ++i) {
        const std::int64_t start = clock.Count();
        clock.Sleep(20ms);
        const std::int64_t micros = (clock.Count() - start) * 1'000'000 / frequency;
        EXPECT_GE(micros, 20'000) << "the second ready byte is looked for too early";
        EXPECT_LT(micros, 1'000'000);
    }
}

TEST(Win32Clock, ThePacingSleepIsATimerWaitThatNeverEndsEarly) {
    // The pacing thread sleeps on a waitable timer; the counter must have
    // reached the count when it wakes (the rest is waited out on the counter,
    // so only lateness is allowed) for short and long sleeps alike.
    IPacingClock& clock = SystemPacingClock();
    const std::int64_t frequency = clock.Frequency();
    for (const std::int64_t micros : {50, 200, 1'000, 5'000, 50, 3'000}) {
        const std::int64_t until = clock.Count() + micros * frequency / 1'000'000;
        ASSERT_TRUE(clock.SleepUntil(until)) << "no timer to sleep on";
        // The timer's 100 ns units round the wait down by less than one unit.
        EXPECT_GE(clock.Count() + frequency / 10'000'000 + 1, until) << micros << " us";
    }
    EXPECT_TRUE(clock.SleepUntil(clock.Count() - 1)) << "a count gone by returns at once";
}

TEST(Win32Interrupt, CtrlCCallsTheWatcherAndDoesNotEndTheProgram) {
    // A console of our own, so that the Ctrl-C reaches no other program.
    ::FreeConsole();
    if (!::AllocConsole()) {
        GTEST_SKIP() << "no console could be made for this process (error " << ::GetLastError()
                     << ")";
    }
    // Let go of it at the end: the console's host process would otherwise
    // outlive the test.
    struct FreeAtExit {
        ~FreeAtExit() { ::FreeConsole(); }
    } freeAtExit;
    std::mutex mutex;
    std::condition_variable cv;
    int calls = 0;
    cli::InterruptWatcher watcher([&] {
        std::lock_guard lock(mutex);
        ++calls;
        cv.notify_all();
    });
    for (int expected = 1; expected <= 2; ++expected) {
        ASSERT_TRUE(::GenerateConsoleCtrlEvent(CTRL_C_EVENT, 0)) << ::GetLastError();
        std::unique_lock lock(mutex);
        EXPECT_TRUE(cv.wait_for(lock, 5s, [&] { return calls == expected; }))
            << "Ctrl-C number " << expected << " did not reach the watcher";
    }
}

TEST(Win32StopToken, ACallbackEndingWhileItRunsOnAnotherThreadNeverHangs) {
    // The pattern of every cancellable wait in the engine: a thread waits on an
    // event that a stop callback sets, then leaves the callback's scope while
    // request_stop() may still be running that callback on another thread.
    auto loops = std::async(std::launch::async, [] {
        for (int i = 0; i < 300; ++i) {
            std::stop_source source;
            const HANDLE woken = ::CreateEventA(nullptr, TRUE, FALSE, nullptr);
            std::thread waiter([&source, woken] {
                std::stop_callback wake(source.get_token(), [woken] { ::SetEvent(woken); });
                ::WaitForSingleObject(woken, INFINITE);
            });
            source.request_stop();
            waiter.join();
            ::CloseHandle(woken);
        }
    });
    if (loops.wait_for(60s) != std::future_status::ready) {
        // The stuck thread cannot be ended: report and leave at once.
        std::fprintf(stderr, "a stop callback hung: std::binary_semaphore lost a wake-up\n");
        std::fflush(stderr);
        std::_Exit(1);
    }
}

}  // namespace
}  // namespace velmora
