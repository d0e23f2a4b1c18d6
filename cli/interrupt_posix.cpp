#include <pthread.h>
#include <signal.h>

#include <thread>

#include "cli/Interrupt.h"

namespace velmora::cli {

// SIGINT and SIGTERM are blocked in every thread and taken by sigwait() on a
// watcher thread; SIGUSR1 tells the watcher to end.
struct InterruptWatcher::Impl {
    sigset_t set{};
    sigset_t previous{};
    std::thread watcher;
};

InterruptWatcher::InterruptWatcher(std::function<void()> onInterrupt)
    : m_impl(std::make_unique<Impl>()) {
    sigemptyset(&m_impl->set);
    sigaddset(&m_impl->set, SIGINT);
    sigaddset(&m_impl->set, SIGTERM);
    sigaddset(&m_impl->set, SIGUSR1);
    // Threads created from here on inherit the mask.
    pthread_sigmask(SIG_BLOCK, &m_impl->set, &m_impl->previous);
    m_impl->watcher = std::thread([set = m_impl->set, onInterrupt = std::move(onInterrupt)] {
        for (;;) {
            int signal = 0;
            if (sigwait(&set, &signal) != 0 || signal == SIGUSR1) {
                return;
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

}  // namespace velmora::cli
