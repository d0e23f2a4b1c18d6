#include <unistd.h>

#include "cli/Terminal.h"

namespace velmora::cli {

bool PrepareStderrForBars() {
    return ::isatty(STDERR_FILENO) != 0;
}

}  // namespace velmora::cli
