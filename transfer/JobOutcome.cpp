#include "transfer/JobOutcome.h"

namespace velmora {

const char* JobOutcomeName(JobOutcome outcome) {
    switch (outcome) {
        case JobOutcome::Finished:
            return "finished";
        case JobOutcome::NothingToDo:
            return "nothing to do";
        case JobOutcome::Refused:
            return "refused";
        case JobOutcome::ConversionFailed:
            return "conversion failed";
        case JobOutcome::FileError:
            return "file error";
        case JobOutcome::FileShrank:
            return "file shrank";
        case JobOutcome::FileChanged:
            return "file changed";
        case JobOutcome::ReceiverRestarted:
            return "receiver restarted";
        case JobOutcome::DeviceLost:
            return "device lost";
        case JobOutcome::TimedOut:
            return "timed out";
        case JobOutcome::Cancelled:
            return "cancelled";
    }
    return "unknown";
}

}  // namespace velmora
