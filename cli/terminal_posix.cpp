#include <sys/ioctl.h>
#include <unistd.h>

#include <cstdlib>

#include "cli/Terminal.h"

namespace velmora::cli {

void PrepareConsoleForUtf8() {}  // terminals take the locale's UTF-8 as it is

bool PrepareStderrForBars() {
    return ::isatty(STDERR_FILENO) != 0;
}

int StderrColumns() {
    winsize size{};
    if (::ioctl(STDERR_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_col > 0) {
        return size.ws_col;
    }
    // Not a terminal (bars asked for all the same): the shells' COLUMNS, if any.
    const char* columns = std::getenv("COLUMNS");
    const int fromShell = columns != nullptr ? std::atoi(columns) : 0;
    return fromShell > 0 ? fromShell : 80;
}

}  // namespace velmora::cli
