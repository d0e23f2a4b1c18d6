// Ctrl-C, a hang-up and termination requests for the command line: while a
// watcher exists, the first request calls `onInterrupt` on a thread of its
// own, and the program is not killed, so that the job can hand the port back.
// Per-OS implementations: interrupt_posix.cpp, interrupt_win32.cpp.
#pragma once

#include <atomic>
#include <functional>
#include <memory>

#include "cli/ExitCodes.h"

namespace velmora::cli {

class InterruptWatcher {
public:
    explicit InterruptWatcher(std::function<void()> onInterrupt);
    ~InterruptWatcher();
    InterruptWatcher(const InterruptWatcher&) = delete;
    InterruptWatcher& operator=(const InterruptWatcher&) = delete;

    // The exit status of a command that a request stopped, as shells expect
    // it: 128 + the signal's number. 130 for Ctrl-C and for a termination
    // request, 129 for a hang-up (the terminal or the ssh session closed, the
    // console window closed), 131 for SIGQUIT.
    int ExitStatus() const { return m_exitStatus.load(); }

    struct Impl;

private:
    std::unique_ptr<Impl> m_impl;
    std::atomic<int> m_exitStatus{kExitInterrupted};
};

// A reader of our output that goes away (`--progress json | head`) must not
// end the program in the middle of a job: writes to it fail instead.
void IgnoreBrokenPipe();

}  // namespace velmora::cli
