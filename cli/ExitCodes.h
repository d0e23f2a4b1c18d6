// Exit statuses of velmora-cli. They exist only here, at the program's edge.
#pragma once

namespace velmora::cli {

enum ExitCode : int {
    kExitOk = 0,     // "Data send finish !" (send), image written (convert), decoded (inspect)
    kExitUsage = 2,  // bad arguments
    kExitFileMissing = 3,    // the file to send or convert does not exist
    kExitPortFailed = 4,     // the serial port could not be opened
    kExitRefused = 5,        // the job was refused before or during it: limits, Code with a
                             // channel list, Custom, a wrong file, an impossible image
    kExitJobFailed = 6,      // the job failed: device lost, file shrank, timed out, file or
                             // conversion error
    kExitInterrupted = 130,  // stopped with Ctrl-C (128 + SIGINT, the shells' convention) or
                             // SIGTERM; a hang-up gives 129, SIGQUIT 131 (cli/Interrupt.h)
};

}  // namespace velmora::cli
