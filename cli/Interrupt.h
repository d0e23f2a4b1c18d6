// Ctrl-C (and termination requests) for the command line: while a watcher
// exists, the first request calls `onInterrupt` on a thread of its own, and
// the program is not killed. Per-OS implementations: interrupt_posix.cpp,
// interrupt_win32.cpp.
#pragma once

#include <functional>
#include <memory>

namespace velmora::cli {

class InterruptWatcher {
public:
    explicit InterruptWatcher(std::function<void()> onInterrupt);
    ~InterruptWatcher();
    InterruptWatcher(const InterruptWatcher&) = delete;
    InterruptWatcher& operator=(const InterruptWatcher&) = delete;

    struct Impl;

private:
    std::unique_ptr<Impl> m_impl;
};

}  // namespace velmora::cli
