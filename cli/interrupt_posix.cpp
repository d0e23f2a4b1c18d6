#include <pthread.h>
#include <signal.h>

#include <thread>

#include "cli/Interrupt.h"

namespace velmora::cli {

namespace {

// The first request decides the exit status.
int StatusFor(int signal) {
    return signal == SIGTERM ? kExitInterrupted : 128 + signal;
}

}  // namespace

// SIGINT, SIGHUP, SIGQUIT and SIGTERM are blocked in every thread and taken by
// sigwait() on a watcher thread; SIGUSR1 tells the watcher to end.
struct InterruptWatcher::Impl {
    sigset_t set{};
    sigset_t previous{};
    std::thread watcher;
};

InterruptWatcher::InterruptWatcher(std::function<void()> onInterrupt)
    : m_impl(std::make_unique<Impl>()) {
    sigemptyset(&m_impl->set);
    for (const int signal : {SIGINT, SIGHUP, SIGQUIT, SIGTERM, SIGUSR1}) {
        sigaddset(&m_impl->set, signal);
    }
    // Threads created from here on inherit the mask.
    pthread_sigmask(SIG_BLOCK, &m_impl->set, &m_impl->previous);
    m_impl->watcher = std::thread([this, onInterrupt = std::move(onInterrupt)] {
        bool first = true;
        for (;;) {
            int signal = 0;
            if (sigwait(&m_impl->set, &signal) != 0 || signal == SIGUSR1) {
                return;
            }
            if (first) {
                m_exitStatus.store(StatusFor(signal));
                first = false;
            }
            onInterrupt();
        }
    });
}

InterruptWatcher::~InterruptWatcher() {
    pthread_kill(m_impl->watcher.native_handle(), SIGUSR1);
    m_impl->watcher.join();
    pthread_sigmask(SIG_SETMASK, &m_impl->previous, nullptr);
}

void IgnoreBrokenPipe() {
    ::signal(SIGPIPE, SIG_IGN);
}

}  // namespace velmora::cli
