#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include <cerrno>
#include <thread>

#include "cli/Interrupt.h"

namespace velmora::cli {

namespace {

// The first request decides the exit status.
int StatusFor(int signal) {
    return signal == SIGTERM ? kExitInterrupted : 128 + signal;
}

}  // namespace

// SIGINT, SIGHUP, SIGQUIT and SIGTERM are blocked in every thread and read
// from a signalfd on a watcher thread. The watcher ends only through a pipe
// of its own, which no signal from outside can imitate. SIGUSR1 is blocked
// and read as well, and dropped: its default action would end the program
// with its ports locked and their lines in raw mode.
struct InterruptWatcher::Impl {
    sigset_t set{};
    sigset_t previous{};
    int signals = -1;
    int wake[2] = {-1, -1};
    std::thread watcher;

    // The next request, or 0 once the pipe says to end.
    int NextRequest() const {
        for (;;) {
            pollfd fds[2] = {{signals, POLLIN, 0}, {wake[0], POLLIN, 0}};
            if (::poll(fds, 2, -1) < 0) {
                if (errno == EINTR) {
                    continue;
                }
                return 0;
            }
            if ((fds[1].revents & POLLIN) != 0) {
                return 0;
            }
            signalfd_siginfo info{};
            if (::read(signals, &info, sizeof info) != static_cast<ssize_t>(sizeof info)) {
                continue;
            }
            const auto signal = static_cast<int>(info.ssi_signo);
            if (signal != SIGUSR1) {
                return signal;
            }
        }
    }
};

InterruptWatcher::InterruptWatcher(std::function<void()> onInterrupt)
    : m_impl(std::make_unique<Impl>()) {
    sigemptyset(&m_impl->set);
    for (const int signal : {SIGINT, SIGHUP, SIGQUIT, SIGTERM, SIGUSR1}) {
        sigaddset(&m_impl->set, signal);
    }
    // Threads created from here on inherit the mask.
    pthread_sigmask(SIG_BLOCK, &m_impl->set, &m_impl->previous);
    m_impl->signals = ::signalfd(-1, &m_impl->set, SFD_CLOEXEC);
    if (m_impl->signals < 0 || ::pipe2(m_impl->wake, O_CLOEXEC) != 0) {
        // No watcher can run: the signals keep their default actions.
        pthread_sigmask(SIG_SETMASK, &m_impl->previous, nullptr);
        return;
    }
    m_impl->watcher = std::thread([this, onInterrupt = std::move(onInterrupt)] {
        bool first = true;
        for (int signal = m_impl->NextRequest(); signal != 0; signal = m_impl->NextRequest()) {
            if (first) {
                m_exitStatus.store(StatusFor(signal));
                first = false;
            }
            onInterrupt();
        }
    });
}

InterruptWatcher::~InterruptWatcher() {
    if (m_impl->watcher.joinable()) {
        const char end = 1;
        [[maybe_unused]] const ssize_t n = ::write(m_impl->wake[1], &end, 1);
        m_impl->watcher.join();
        pthread_sigmask(SIG_SETMASK, &m_impl->previous, nullptr);
    }
    for (const int fd : {m_impl->signals, m_impl->wake[0], m_impl->wake[1]}) {
        if (fd >= 0) {
            ::close(fd);
        }
    }
}

void IgnoreBrokenPipe() {
    ::signal(SIGPIPE, SIG_IGN);
}

}  // namespace velmora::cli
