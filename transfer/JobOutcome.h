// How an upgrade job ended. Front ends turn this into their own reporting:
// a message, an exit status, a record's "outcome".
#pragma once

namespace velmora {

enum class JobOutcome {
    Finished,           // "Data send finish !" was shown
    NothingToDo,        // upgrade type Custom
    Refused,            // a channel list with upgrade type Code
    ConversionFailed,   // the channel list could not be converted
    FileError,          // the file to send could not be opened or read
    FileShrank,         // the file became shorter during the transfer
    FileChanged,        // the file changed while waiting for the receiver, or during the transfer
    ReceiverRestarted,  // the receiver sent its ready signal again during the transfer
    DeviceLost,         // the serial device went away
    TimedOut,           // the receiver stayed silent longer than the wait limit
    Cancelled,          // the host cancelled the job
};

// The outcome's name in records and reports: "finished", "file changed", ...
const char* JobOutcomeName(JobOutcome outcome);

}  // namespace velmora
