// Starting an external program and waiting for it: the one thing the
// conversion needs from the operating system besides files. The packer step
// runs the database packer through it.
//
// One implementation per system: process_posix.cpp (fork and exec, then a
// blocking wait) and, on Windows, process_win32.cpp (CreateProcessA with a
// hidden window, then WaitForSingleObject on the process handle; a stop
// request terminates the process).
#pragma once

#include <stop_token>
#include <string>

namespace velmora {

struct ProcessRun {
    enum class Status {
        Ended,       // the program ran and has ended
        NotStarted,  // the program could not be started; `error` tells why
        Stopped,     // the stop token was triggered: the program was terminated and reaped
    };
    Status status = Status::NotStarted;
    int exitCode = -1;  // Ended: the exit status (or 128 + signal number)
    std::string error;
};

// Runs `commandLine`: the program's name, then its arguments, separated by
// spaces. The program runs in `workDir` (empty: the current directory), with
// no console or terminal of its own, no input and its output discarded.
// Returns when it has ended, or when `stop` is triggered, in which case the
// program is terminated first.
//
// The program is looked up first in the folder of the running executable,
// then in the folders of PATH, and started by that full path. The current
// directory is searched only when a POSIX PATH names it (an empty entry), and
// never on Windows, so a binary planted beside the files is never run.
ProcessRun RunHiddenProcess(const std::string& commandLine, const std::string& workDir,
                            std::stop_token stop);

}  // namespace velmora
