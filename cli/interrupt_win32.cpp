// Ctrl-C, Ctrl-Break and the closing of the console window on Windows. The
// system calls the control handler on a thread of its own for each event.
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include <condition_variable>
#include <mutex>

#include "cli/Interrupt.h"

namespace velmora::cli {

struct InterruptWatcher::Impl {
    std::function<void()> onInterrupt;
    std::atomic<int>* exitStatus = nullptr;
    bool requested = false;  // the first request decides the exit status
    std::mutex mutex;
    std::condition_variable changed;
    int running = 0;        // handler calls inside onInterrupt
    bool finished = false;  // the watcher is being destroyed
};

namespace {

// The handler has no context argument: the one watcher of the process is
// reached through this pointer, under its lock.
std::mutex g_watcherMutex;
InterruptWatcher::Impl* g_watcher = nullptr;

// A closing console, logoff or shutdown ends the process once the handler
// returns (and at the latest after about five seconds): give the job that
// long to close the port.
constexpr auto kGraceOnClose = std::chrono::milliseconds(4000);

bool IsClosing(DWORD event) {
    return event == CTRL_CLOSE_EVENT || event == CTRL_LOGOFF_EVENT || event == CTRL_SHUTDOWN_EVENT;
}

BOOL WINAPI OnConsoleControl(DWORD event) {
    InterruptWatcher::Impl* impl = nullptr;
    {
        std::lock_guard lock(g_watcherMutex);
        impl = g_watcher;
        if (impl == nullptr) {
            return FALSE;  // the system's default: end the process
        }
        std::lock_guard implLock(impl->mutex);
        ++impl->running;
        if (!impl->requested) {
            impl->requested = true;
            // A closing console is a hang-up, as a closed terminal is elsewhere.
            impl->exitStatus->store(IsClosing(event) ? kExitHangUp : kExitInterrupted);
        }
    }
    impl->onInterrupt();
    std::unique_lock lock(impl->mutex);
    if (IsClosing(event)) {
        impl->changed.wait_for(lock, kGraceOnClose, [impl] { return impl->finished; });
    }
    --impl->running;
    impl->changed.notify_all();
    return TRUE;
}

}  // namespace

InterruptWatcher::InterruptWatcher(std::function<void()> onInterrupt)
    : m_impl(std::make_unique<Impl>()) {
    m_impl->onInterrupt = std::move(onInterrupt);
    m_impl->exitStatus = &m_exitStatus;
    {
        std::lock_guard lock(g_watcherMutex);
        g_watcher = m_impl.get();
    }
    ::SetConsoleCtrlHandler(OnConsoleControl, TRUE);
}

InterruptWatcher::~InterruptWatcher() {
    ::SetConsoleCtrlHandler(OnConsoleControl, FALSE);
    {
        std::lock_guard lock(g_watcherMutex);
        if (g_watcher == m_impl.get()) {
            g_watcher = nullptr;
        }
    }
    // A handler call that got in before may still be running onInterrupt.
    std::unique_lock lock(m_impl->mutex);
    m_impl->finished = true;
    m_impl->changed.notify_all();
    m_impl->changed.wait(lock, [this] { return m_impl->running == 0; });
}

void IgnoreBrokenPipe() {
    // Writes to a closed pipe fail with an error here; there is no signal.
}

}  // namespace velmora::cli
