// The Windows pacing clock and the console control handler of the command line.
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>

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

TEST(Win32Interrupt, CtrlCCallsTheWatcherAndDoesNotEndTheProgram) {
    // A console of our own, so that the Ctrl-C reaches no other program.
    ::FreeConsole();
    if (!::AllocConsole()) {
        GTEST_SKIP() << "no console could be made for this process (error " << ::GetLastError()
                     << ")";
    }
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

}  // namespace
}  // namespace velmora
