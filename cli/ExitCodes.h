// Exit statuses of velmora-cli. They exist only here, at the program's edge;
// what each means is said once, in the exit table (cli/CommandTable.cpp).
#pragma once

namespace velmora::cli {

enum ExitCode : int {
    kExitOk = 0,
    kExitUsage = 2,
    kExitFileMissing = 3,
    kExitPortFailed = 4,
    kExitRefused = 5,
    kExitJobFailed = 6,
    // Stopped by a signal: 128 + its number, the shells' convention
    // (cli/Interrupt.h). Ctrl-C and SIGTERM give 130.
    kExitHangUp = 129,
    kExitInterrupted = 130,
    kExitQuit = 131,
};

}  // namespace velmora::cli
